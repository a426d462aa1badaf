#include "childprocess.h"
#include "churnwriter.h"
#include "registry.h"
#include "tempstore.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr LONG OK = LONG(ERROR_SUCCESS);
constexpr int kProcessLimitMs = 60000;

// Messages of the registry, caught instead of printed.
std::vector<QString> g_messages;

void CatchMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages.push_back(text);
}

class RegistryPersistenceTest : public TempStore {
protected:
    void SetUp() override
    {
        TempStore::SetUp();
        g_messages.clear();
        previousHandler_ = qInstallMessageHandler(CatchMessage);
    }
    void TearDown() override
    {
        qInstallMessageHandler(previousHandler_);
        TempStore::TearDown();
    }

    // Runs the second program to its end and returns its output.
    static QString RunChild(const QStringList& arguments)
    {
        zqtest::ChildProcess child;
        EXPECT_TRUE(child.Start(QStringLiteral(ZQ_REGISTRY_CHILD), arguments)) << child.Error().toStdString();
        EXPECT_TRUE(child.WaitForExit(kProcessLimitMs));
        EXPECT_FALSE(child.Crashed());
        EXPECT_EQ(child.ExitCode(), 0) << child.Err().toStdString();
        return QString::fromUtf8(child.Out()).trimmed();
    }

    static std::string GetString(HKEY key, const char* name)
    {
        char text[256] = {};
        DWORD size = sizeof text - 1;
        if (RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) != OK)
            return "<missing>";
        return text;
    }

    QStringList CorruptCopies() const
    {
        return QDir(dir_.path()).entryList({ "registry.json.corrupt-*" }, QDir::Files);
    }

    static QString Hex(const std::string& text)
    {
        return QString::fromLatin1(QByteArray(text.c_str(), qsizetype(text.size() + 1)).toHex());
    }

    QtMessageHandler previousHandler_ = nullptr;
};

TEST_F(RegistryPersistenceTest, ProgramsRunOneAfterAnotherSeeAndKeepEachOthersValues)
{
    ASSERT_EQ(SetString("Shared", "First", "from parent"), OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Shared", 0, KEY_READ, &key), OK);

    RunChild({ "set-sz", "Shared", "Second", "from child" });
    // The open handle sees the other program's change.
    EXPECT_EQ(GetString(key, "Second"), "from child");
    RegCloseKey(key);

    // A change made after the other program wrote keeps its value too.
    ASSERT_EQ(SetString("Shared", "Third", "parent again"), OK);
    EXPECT_EQ(RunChild({ "dump", "Shared", "First" }), "1 " + Hex("from parent"));
    EXPECT_EQ(RunChild({ "dump", "shared", "second" }), "1 " + Hex("from child"));
    EXPECT_EQ(RunChild({ "dump", "SHARED", "Third" }), "1 " + Hex("parent again"));
    EXPECT_EQ(RunChild({ "dump", "Shared", "Fourth" }), "missing");
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(RegistryPersistenceTest, AKilledWriterLosesNothingItAcknowledged)
{
    // Kill it while it keeps rewriting the store; most of its time goes into
    // writing, so the kill usually lands in the middle of one.
    const int acked = zqtest::ChurnAndKill("Churn", 40, kProcessLimitMs);
    ASSERT_GE(acked, 40);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Churn", 0, KEY_READ, &key), OK);
    for (int n = 0; n <= acked; ++n) {
        const std::string name = "v" + std::to_string(n);
        DWORD size = 0;
        ASSERT_EQ(RegQueryValueEx(key, name.c_str(), nullptr, nullptr, nullptr, &size), OK) << name;
        std::vector<char> text(size);
        ASSERT_EQ(
            RegQueryValueEx(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size),
            OK);
        EXPECT_STREQ(text.data(), zqtest::ChurnValue(n).c_str());
    }
    RegCloseKey(key);
    EXPECT_TRUE(g_messages.empty()) << g_messages.front().toStdString();
    EXPECT_TRUE(CorruptCopies().isEmpty());
}

TEST_F(RegistryPersistenceTest, ACorruptStoreIsSetAsideOnceAndNeverOverwritten)
{
    const QByteArray garbage = "{\"zqregistry\": 1, \"HKEY_LOCAL_MACHINE\": {\"keys\": {\"Half";
    {
        QFile file(storePath_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Half", 0, KEY_READ, &key), LONG(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_TRUE(g_messages[0].contains("corrupt")) << g_messages[0].toStdString();
    EXPECT_TRUE(g_messages[0].contains(storePath_)) << g_messages[0].toStdString();

    const QStringList copies = CorruptCopies();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_TRUE(g_messages[0].contains(copies[0])) << g_messages[0].toStdString();

    // The program carries on with an empty registry, and says so only once.
    ASSERT_EQ(SetString("Fresh", "v", "new"), OK);
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Fresh", 0, KEY_READ, &key), OK);
    EXPECT_EQ(GetString(key, "v"), "new");
    RegCloseKey(key);
    EXPECT_EQ(g_messages.size(), 1u);

    QFile aside(dir_.filePath(copies[0]));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), garbage);
    EXPECT_EQ(RunChild({ "dump", "Fresh", "v" }), "1 " + Hex("new"));
}

TEST_F(RegistryPersistenceTest, AWellFormedStoreOfTheWrongShapeIsCorruptToo)
{
    {
        QFile file(storePath_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            R"({"zqregistry": 1, "HKEY_LOCAL_MACHINE": {"values": [{"name": "x", "type": 3, "hex": "zz"}]}})");
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "x", 0, KEY_READ, &key), LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(CorruptCopies().size(), 1);
}

TEST_F(RegistryPersistenceTest, AChangeThatCannotBeWrittenIsNotKept)
{
    // The store's folder cannot be created where a file stands.
    QFile blocker(dir_.filePath("notadir"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UseStore(dir_.filePath("notadir/registry.json"));

    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Lost", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        LONG(ERROR_CANTWRITE));
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Lost", 0, KEY_READ, &key), LONG(ERROR_FILE_NOT_FOUND));
    ASSERT_FALSE(g_messages.empty());
    EXPECT_TRUE(g_messages[0].contains("cannot write")) << g_messages[0].toStdString();
}

} // namespace
