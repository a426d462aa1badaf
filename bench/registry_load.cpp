// Time to load a registry store whose values all sit in one key, against
// the same number of values spread over 1,000 keys, in the same run.
//
// registry_load [values=200000]
#include "registry.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray Document(int values, int keys)
{
    QByteArray doc = R"({"zqregistry": 1, "HKEY_LOCAL_MACHINE": {"keys": {)";
    const int perKey = values / keys;
    for (int k = 0; k < keys; ++k) {
        doc += (k ? ",\"k" : "\"k") + QByteArray::number(k) + R"(": {"values": [)";
        for (int n = 0; n < perKey; ++n)
            doc += (n ? "," : "") + QByteArray(R"({"name": "value)") + QByteArray::number(n)
                + R"(", "type": 1, "text": "some text of a value)" + QByteArray::number(n) + "\"}";
        doc += "]}";
    }
    return doc + "}}}";
}

// Seconds to read the store and answer one query from it.
double LoadSeconds(const QString& path, const QByteArray& doc)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(doc) != doc.size())
        std::exit(1);
    f.close();
    qputenv("ZQ_REGISTRY_FILE", path.toLocal8Bit());
    const auto start = std::chrono::steady_clock::now();
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "k0", 0, KEY_READ, &key) != LONG(ERROR_SUCCESS))
        std::exit(1);
    DWORD size = 0;
    RegQueryValueEx(key, "VALUE1", nullptr, nullptr, nullptr, &size);
    RegCloseKey(key);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int values = argc > 1 ? std::atoi(argv[1]) : 200000;
    if (values < 1000) {
        std::fprintf(stderr, "usage: registry_load [values >= 1000]\n");
        return 2;
    }
    QTemporaryDir dir;
    const QByteArray spread = Document(values, 1000);
    const QByteArray single = Document(values, 1);
    const double spreadSeconds = LoadSeconds(dir.filePath("spread.json"), spread);
    const double singleSeconds = LoadSeconds(dir.filePath("single.json"), single);
    std::printf("%d values over 1000 keys (%.1f MB): %.3f s\n", values, spread.size() / 1e6, spreadSeconds);
    std::printf("%d values in one key     (%.1f MB): %.3f s\n", values, single.size() / 1e6, singleSeconds);
    std::printf("one key / many keys: %.2f\n", singleSeconds / spreadSeconds);
    return 0;
}
