// The store at its limits: a disk that fills up, and keys that hold very
// many values.
#include "childprocess.h"
#include "registry.h"
#include "smallfilesystem.h"
#include "tempstore.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr LONG OK = LONG(ERROR_SUCCESS);

std::vector<QString> g_messages;

void CatchMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages.push_back(text);
}

QByteArray Contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Writes filler files until the file system has no room left; the last
// one is left holding exactly the size asked for, so removing it frees that
// much.
bool Fill(const QString& dir, qsizetype lastSize)
{
    const QByteArray block(4096, 'f');
    QFile last(dir + "/last");
    if (!last.open(QIODevice::WriteOnly) || last.write(QByteArray(lastSize, 'l')) != lastSize
        || !last.flush())
        return false;
    last.close();
    QFile rest(dir + "/rest");
    if (!rest.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    while (rest.write(block) == block.size()) { }
    return true;
}

class RegistryFullDiskTest : public TempStore {
protected:
    void SetUp() override
    {
        TempStore::SetUp();
        mountPoint_ = dir_.filePath("small");
        if (!small_.Mount(mountPoint_))
            GTEST_SKIP() << small_.Refusal();
        UseStore(mountPoint_ + "/zqcomm/registry.json");
        previousHandler_ = qInstallMessageHandler(CatchMessage);
        g_messages.clear();
    }
    void TearDown() override
    {
        if (small_.Mounted())
            qInstallMessageHandler(previousHandler_);
        TempStore::TearDown();
    }

    QString mountPoint_;
    zqtest::SmallFileSystem small_;
    QtMessageHandler previousHandler_ = nullptr;
};

TEST_F(RegistryFullDiskTest, AFullDiskLeavesTheStoreAsItWasAndTheChangeReportsIt)
{
    // A store of several pages, so that a page of room is not enough.
    for (int n = 0; n < 8; ++n)
        ASSERT_EQ(SetString("Full", ("v" + std::to_string(n)).c_str(), std::string(1000, char('a' + n))), OK);
    const QByteArray before = Contents(storePath_);
    ASSERT_GT(before.size(), 8000);

    // One page free, then none.
    for (const qsizetype room : { qsizetype(4096), qsizetype(0) }) {
        SCOPED_TRACE(room);
        ASSERT_TRUE(Fill(mountPoint_, room));
        ASSERT_TRUE(QFile::remove(mountPoint_ + "/last"));
        g_messages.clear();

        EXPECT_EQ(SetString("Full", "v1", std::string(1000, 'X')), LONG(ERROR_DISK_FULL));
        EXPECT_TRUE(Contents(storePath_) == before) << "the store was changed";
        ASSERT_EQ(g_messages.size(), 1u);
        EXPECT_TRUE(g_messages[0].contains("cannot write")) << g_messages[0].toStdString();
        EXPECT_TRUE(g_messages[0].contains(storePath_)) << g_messages[0].toStdString();
        // Only the store and its lock remain beside each other: no half-written copies.
        EXPECT_EQ(QDir(mountPoint_ + "/zqcomm").entryList(QDir::Files).size(), 2)
            << QDir(mountPoint_ + "/zqcomm").entryList(QDir::Files).join(' ').toStdString();

        // The program goes on with what is on disk.
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Full", 0, KEY_READ, &key), OK);
        char text[1100] = {};
        DWORD size = sizeof text;
        ASSERT_EQ(RegQueryValueEx(key, "v1", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), OK);
        EXPECT_EQ(std::string(text), std::string(1000, 'b'));
        RegCloseKey(key);
        ASSERT_TRUE(QFile::remove(mountPoint_ + "/rest"));
    }

    // With room again, changes are written.
    EXPECT_EQ(SetString("Full", "v1", "room again"), OK);
    EXPECT_TRUE(Contents(storePath_).contains("room again"));
}

// A key holding many values loads in time that grows with their number, not
// its square: the second program reads a store of 200,000 values in one
// key (at the square it took minutes; here the limit is generous).
TEST_F(TempStore, AKeyWithManyValuesLoadsInLinearTime)
{
    constexpr int kValues = 200000;
    QByteArray doc = R"({"zqregistry": 1, "HKEY_LOCAL_MACHINE": {"keys": {"Many": {"values": [)";
    doc.reserve(kValues * 48);
    for (int n = 0; n < kValues; ++n) {
        if (n)
            doc += ',';
        doc += R"({"name": "value)" + QByteArray::number(n) + R"(", "type": 4, "dword": )"
            + QByteArray::number(n) + '}';
    }
    doc += "]}}}}";
    {
        QFile f(storePath_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(doc), doc.size());
    }
    zqtest::ChildProcess child;
    ASSERT_TRUE(child.Start(QStringLiteral(ZQ_REGISTRY_CHILD), { "dump", "Many", "VALUE199999" }))
        << child.Error().toStdString();
    ASSERT_TRUE(child.WaitForExit(120000)) << "loading 200,000 values took over two minutes";
    EXPECT_EQ(child.ExitCode(), 0) << child.Err().toStdString();
    // 199999 = 0x00030d3f, stored little-endian.
    EXPECT_EQ(QString::fromUtf8(child.Out()).trimmed(), "4 3f0d0300");
}

} // namespace
