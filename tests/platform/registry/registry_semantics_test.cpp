#include "registry.h"
#include "tempstore.h"

#include <QFile>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr LONG OK = LONG(ERROR_SUCCESS);

class RegistryTest : public TempStore {
protected:
    void TearDown() override
    {
        for (HKEY key : open_)
            RegCloseKey(key);
        TempStore::TearDown();
    }

    HKEY Create(HKEY root, const char* path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(root, path, 0, nullptr, 0, access, nullptr, &key, disposition), OK) << path;
        open_.push_back(key);
        return key;
    }

    LONG Open(HKEY root, const char* path, REGSAM access, HKEY* key)
    {
        const LONG rc = RegOpenKeyEx(root, path, 0, access, key);
        if (rc == OK)
            open_.push_back(*key);
        return rc;
    }

    static LONG SetString(HKEY key, const char* name, const std::string& text)
    {
        return RegSetValueEx(
            key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
    }

    static std::vector<std::string> SubkeyNames(HKEY key)
    {
        std::vector<std::string> names;
        char name[300];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            const LONG rc = RegEnumKeyEx(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != OK) {
                EXPECT_EQ(rc, LONG(ERROR_NO_MORE_ITEMS));
                return names;
            }
            EXPECT_EQ(size, std::strlen(name));
            names.emplace_back(name);
        }
    }

    std::vector<HKEY> open_;
};

TEST_F(RegistryTest, CreateReportsDispositionAndKeysMatchInAnyCase)
{
    DWORD disposition = 0;
    Create(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Product", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\vendor\\PRODUCT\\", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "software\\VENDOR", KEY_READ, &key), OK);
    // The spelling of the first creation is kept.
    EXPECT_EQ(SubkeyNames(key), std::vector<std::string> { "Product" });

    // The two roots are separate trees.
    HKEY other = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(
        RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Vendor", 0, KEY_READ, &other), LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(other, nullptr);
}

TEST_F(RegistryTest, OpenRejectsBadHandlesAndPaths)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, &key), LONG(ERROR_INVALID_HANDLE));
    EXPECT_EQ(
        RegOpenKeyEx(reinterpret_cast<HKEY>(0x12345), "x", 0, KEY_READ, &key), LONG(ERROR_INVALID_HANDLE));
    EXPECT_EQ(
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        LONG(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                  nullptr, &key, nullptr),
        LONG(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "a", 0, KEY_READ, &key), LONG(ERROR_FILE_NOT_FOUND));

    // A null or empty subkey opens the key itself again.
    HKEY parent = Create(HKEY_CURRENT_USER, "Parent");
    ASSERT_EQ(Open(parent, "", KEY_READ, &key), OK);
    EXPECT_NE(key, parent);
    ASSERT_EQ(Open(parent, nullptr, KEY_READ, &key), OK);
    EXPECT_EQ(RegCloseKey(key), OK);
    EXPECT_EQ(RegCloseKey(key), LONG(ERROR_INVALID_HANDLE));
    open_.pop_back();
}

TEST_F(RegistryTest, QueryValueReportsSizesLikeWindows)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "K");
    ASSERT_EQ(SetString(key, "Name", "abc"), OK);

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueEx(key, "name", nullptr, &type, nullptr, &size), OK);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u); // the NUL counts

    char small[3] = { 'x', 'x', 'x' };
    size = sizeof small;
    type = 0;
    EXPECT_EQ(RegQueryValueEx(key, "NAME", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
        LONG(ERROR_MORE_DATA));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, REG_SZ);

    char exact[4];
    size = sizeof exact;
    ASSERT_EQ(RegQueryValueEx(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size), OK);
    EXPECT_STREQ(exact, "abc");
    EXPECT_EQ(size, 4u);

    EXPECT_EQ(RegQueryValueEx(key, "Other", nullptr, &type, nullptr, &size), LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(exact), nullptr),
        LONG(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, nullptr, nullptr, nullptr), OK);

    // The default value answers to a null and to an empty name.
    const DWORD number = 0x01020304;
    ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), OK);
    DWORD read = 0;
    size = sizeof read;
    ASSERT_EQ(RegQueryValueEx(key, "", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), OK);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, number);

    EXPECT_EQ(RegSetValueEx(key, "Null", 0, REG_BINARY, nullptr, 4), LONG(ERROR_NOACCESS));
    ASSERT_EQ(RegSetValueEx(key, "Empty", 0, REG_BINARY, nullptr, 0), OK);
    size = 99;
    ASSERT_EQ(RegQueryValueEx(key, "Empty", nullptr, &type, nullptr, &size), OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, REG_BINARY);
}

TEST_F(RegistryTest, ValuesEnumerateInSettingOrderWithTheirFirstSpelling)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "K");
    ASSERT_EQ(SetString(key, "Zeta", "1"), OK);
    ASSERT_EQ(SetString(key, "Alpha", "22"), OK);
    const BYTE blob[] = { 0, 1, 2 };
    ASSERT_EQ(RegSetValueEx(key, "ZETA", 0, REG_BINARY, blob, sizeof blob), OK); // replaces, keeps place

    char name[16];
    BYTE data[16];
    DWORD nameSize = sizeof name;
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    ASSERT_EQ(RegEnumValue(key, 0, name, &nameSize, nullptr, &type, data, &dataSize), OK);
    EXPECT_STREQ(name, "Zeta");
    EXPECT_EQ(nameSize, 4u);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(dataSize, 3u);

    nameSize = sizeof name;
    dataSize = 2;
    EXPECT_EQ(RegEnumValue(key, 1, name, &nameSize, nullptr, &type, data, &dataSize), LONG(ERROR_MORE_DATA));
    EXPECT_EQ(dataSize, 3u);
    nameSize = 5; // "Alpha" needs 6 with its NUL
    dataSize = sizeof data;
    EXPECT_EQ(RegEnumValue(key, 1, name, &nameSize, nullptr, &type, data, &dataSize), LONG(ERROR_MORE_DATA));

    nameSize = sizeof name;
    EXPECT_EQ(
        RegEnumValue(key, 2, name, &nameSize, nullptr, nullptr, nullptr, nullptr), LONG(ERROR_NO_MORE_ITEMS));
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderIgnoringCase)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Parent");
    for (const char* name : { "beta", "Alpha", "0001", "0000", "GAMMA" })
        Create(key, name);
    EXPECT_EQ(SubkeyNames(key), (std::vector<std::string> { "0000", "0001", "Alpha", "beta", "GAMMA" }));

    char name[5];
    DWORD size = 5; // "Alpha" and its NUL need 6
    EXPECT_EQ(RegEnumKeyEx(key, 2, name, &size, nullptr, nullptr, nullptr, nullptr), LONG(ERROR_MORE_DATA));
    size = 5;
    ASSERT_EQ(RegEnumKeyEx(key, 3, name, &size, nullptr, nullptr, nullptr, nullptr), OK);
    EXPECT_STREQ(name, "beta");
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryTest, AccessRightsOfAHandleAreEnforced)
{
    Create(HKEY_LOCAL_MACHINE, "K\\Sub");
    HKEY query = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "K", KEY_QUERY_VALUE, &query), OK);
    EXPECT_EQ(SetString(query, "x", "y"), LONG(ERROR_ACCESS_DENIED));
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(
        RegEnumKeyEx(query, 0, name, &size, nullptr, nullptr, nullptr, nullptr), LONG(ERROR_ACCESS_DENIED));

    HKEY read = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "K", KEY_READ, &read), OK);
    EXPECT_EQ(RegDeleteValue(read, "x"), LONG(ERROR_ACCESS_DENIED));
    HKEY sub = nullptr;
    // Opening an existing subkey needs no right to create one.
    EXPECT_EQ(RegCreateKeyEx(read, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), OK);
    open_.push_back(sub);
    EXPECT_EQ(RegCreateKeyEx(read, "New", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
        LONG(ERROR_ACCESS_DENIED));

    HKEY enumOnly = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "K", KEY_ENUMERATE_SUB_KEYS, &enumOnly), OK);
    EXPECT_EQ(RegQueryValueEx(enumOnly, "x", nullptr, nullptr, nullptr, nullptr), LONG(ERROR_ACCESS_DENIED));
}

TEST_F(RegistryTest, DeletingValuesAndKeys)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "K\\Sub\\Leaf");
    ASSERT_EQ(SetString(key, "v", "1"), OK);
    ASSERT_EQ(RegDeleteValue(key, "V"), OK);
    EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, nullptr, nullptr), LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegDeleteValue(key, "v"), LONG(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "K\\Sub"), LONG(ERROR_ACCESS_DENIED)); // has a subkey
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "K\\Missing"), LONG(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "k\\SUB\\leaf"), OK);

    // The handle outlives its key.
    EXPECT_EQ(SetString(key, "v", "1"), LONG(ERROR_KEY_DELETED));
    EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, nullptr, nullptr), LONG(ERROR_KEY_DELETED));
    HKEY sub = nullptr;
    EXPECT_EQ(
        RegOpenKeyEx(HKEY_LOCAL_MACHINE, "K\\Sub\\Leaf", 0, KEY_READ, &sub), LONG(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, ""), LONG(ERROR_ACCESS_DENIED)); // a root stays
}

TEST_F(RegistryTest, EveryKindOfValueSurvivesTheStoreFile)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Modèm\\Config");
    ASSERT_EQ(SetString(key, "Text", "héllo wörld"), OK);
    const char embedded[] = "a\0b"; // 4 bytes with the final NUL
    ASSERT_EQ(RegSetValueEx(key, "Embedded", 0, REG_SZ, reinterpret_cast<const BYTE*>(embedded), 4), OK);
    ASSERT_EQ(RegSetValueEx(key, "Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab"), 2), OK);
    std::vector<BYTE> record(2049);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = BYTE(i * 7);
    ASSERT_EQ(RegSetValueEx(key, "Record", 0, REG_BINARY, record.data(), DWORD(record.size())), OK);
    const DWORD number = 0xFFFFFFFE;
    ASSERT_EQ(RegSetValueEx(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), OK);
    ASSERT_EQ(RegSetValueEx(key, "ShortDword", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\2"), 2), OK);
    ASSERT_EQ(RegSetValueEx(key, "Odd", 0, 0x1234, reinterpret_cast<const BYTE*>("xyz"), 3), OK);
    ASSERT_EQ(RegCloseKey(key), OK);
    open_.clear();

    // A copy of the file read afresh must hold the same values.
    const QString copy = dir_.filePath("copy.json");
    ASSERT_TRUE(QFile::copy(storePath_, copy));
    UseStore(copy);
    key = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, "MODÈM\\config", KEY_READ, &key), OK);
    auto read = [&](const char* name, DWORD expectedType) {
        DWORD type = 0;
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueEx(key, name, nullptr, &type, nullptr, &size), OK) << name;
        std::vector<BYTE> data(size);
        EXPECT_EQ(RegQueryValueEx(key, name, nullptr, &type, data.data(), &size), OK) << name;
        EXPECT_EQ(type, expectedType) << name;
        return data;
    };
    const std::string text = "héllo wörld";
    EXPECT_EQ(read("Text", REG_SZ), std::vector<BYTE>(text.c_str(), text.c_str() + text.size() + 1));
    EXPECT_EQ(read("Embedded", REG_SZ), std::vector<BYTE>(embedded, embedded + 4));
    EXPECT_EQ(read("Unterminated", REG_SZ), (std::vector<BYTE> { 'a', 'b' }));
    EXPECT_EQ(read("Record", REG_BINARY), record);
    EXPECT_EQ(read("Number", REG_DWORD), (std::vector<BYTE> { 0xFE, 0xFF, 0xFF, 0xFF }));
    EXPECT_EQ(read("ShortDword", REG_DWORD), (std::vector<BYTE> { 1, 2 }));
    EXPECT_EQ(read("Odd", 0x1234), (std::vector<BYTE> { 'x', 'y', 'z' }));
}

TEST_F(RegistryTest, ThreadsChangingTheStoreTogetherLoseNothing)
{
    constexpr int kThreads = 4;
    constexpr int kValues = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string path = "Threads\\T" + std::to_string(t);
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr),
                OK);
            for (int n = 0; n < kValues; ++n)
                EXPECT_EQ(SetString(key, ("v" + std::to_string(n)).c_str(), std::to_string(t * 100 + n)), OK);
            RegCloseKey(key);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    // Read back from the file, not from this process's tree.
    const QString copy = dir_.filePath("copy.json");
    ASSERT_TRUE(QFile::copy(storePath_, copy));
    UseStore(copy);
    HKEY threadsKey = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Threads", KEY_READ, &threadsKey), OK);
    EXPECT_EQ(SubkeyNames(threadsKey).size(), size_t(kThreads));
    for (int t = 0; t < kThreads; ++t) {
        HKEY key = nullptr;
        ASSERT_EQ(Open(threadsKey, ("T" + std::to_string(t)).c_str(), KEY_READ, &key), OK);
        for (int n = 0; n < kValues; ++n) {
            char text[16] = {};
            DWORD size = sizeof text;
            ASSERT_EQ(RegQueryValueEx(key, ("v" + std::to_string(n)).c_str(), nullptr, nullptr,
                          reinterpret_cast<BYTE*>(text), &size),
                OK);
            EXPECT_EQ(std::string(text), std::to_string(t * 100 + n));
        }
    }
}

} // namespace
