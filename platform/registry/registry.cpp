#include "registry.h"

#include "registrystore_p.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

using namespace zq::registry;

namespace {

// An open key is remembered by its path, not by its node: the tree is
// rebuilt whenever another program has rewritten the store.
struct OpenKey {
    RootIndex root = RootLocalMachine;
    std::vector<QByteArray> path; // folded names below the root
    REGSAM access = 0;
};

struct OpenKeyTable {
    std::unordered_map<uintptr_t, OpenKey> keys;
    uintptr_t next = 0x100;
};

OpenKeyTable& Table()
{
    static OpenKeyTable table;
    return table;
}

constexpr LONG Result(DWORD code)
{
    return LONG(code);
}

// What an HKEY stands for; the lock is held.
LONG Describe(HKEY h, OpenKey& out)
{
    if (h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER) {
        out = OpenKey { h == HKEY_LOCAL_MACHINE ? RootLocalMachine : RootCurrentUser, {}, KEY_ALL_ACCESS };
        return Result(ERROR_SUCCESS);
    }
    auto it = Table().keys.find(reinterpret_cast<uintptr_t>(h));
    if (it == Table().keys.end())
        return Result(ERROR_INVALID_HANDLE);
    out = it->second;
    return Result(ERROR_SUCCESS);
}

HKEY AddOpenKey(OpenKey key)
{
    OpenKeyTable& table = Table();
    const uintptr_t id = table.next;
    table.next += 4;
    table.keys.emplace(id, std::move(key));
    return reinterpret_cast<HKEY>(id);
}

RegKey* Resolve(RegTree& tree, const OpenKey& key)
{
    RegKey* node = &tree.roots[key.root];
    for (const QByteArray& fold : key.path) {
        node = node->findSubkey(fold);
        if (!node)
            return nullptr;
    }
    return node;
}

struct PathElement {
    std::string name;
    QByteArray fold;
};

// Splits a "\"-separated subkey path. One trailing separator is tolerated;
// empty elements and over-long names are not.
bool SplitPath(const char* subKey, std::vector<PathElement>& out)
{
    out.clear();
    if (!subKey)
        return true;
    std::string_view rest(subKey);
    if (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    if (rest.empty())
        return true;
    while (true) {
        const size_t sep = rest.find('\\');
        const std::string_view part = rest.substr(0, sep);
        if (part.empty() || part.size() > REG_MAX_KEY_NAME)
            return false;
        out.push_back(PathElement { std::string(part), FoldName(part) });
        if (sep == std::string_view::npos)
            return true;
        rest.remove_prefix(sep + 1);
    }
}

// Copies a name and its NUL into a buffer of *size bytes.
LONG CopyName(const std::string& name, char* buffer, DWORD* size)
{
    if (DWORD(name.size()) + 1 > *size)
        return Result(ERROR_MORE_DATA);
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = DWORD(name.size());
    return Result(ERROR_SUCCESS);
}

// Reports a value's type and data the way RegQueryValueEx and RegEnumValue do.
LONG CopyData(const RegValue& value, DWORD* type, BYTE* data, DWORD* size)
{
    if (type)
        *type = value.type;
    const auto needed = DWORD(value.data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return Result(ERROR_MORE_DATA);
        }
        std::memcpy(data, value.data.constData(), needed);
    }
    if (size)
        *size = needed;
    return Result(ERROR_SUCCESS);
}

// A change of the store from begin to commit; abandoned unless committed.
class StoreChange {
public:
    StoreChange()
        : status_(RegistryStore::instance().beginChange())
    {
    }
    ~StoreChange()
    {
        if (status_ == Result(ERROR_SUCCESS) && !done_)
            RegistryStore::instance().abandonChange();
    }
    StoreChange(const StoreChange&) = delete;
    StoreChange& operator=(const StoreChange&) = delete;

    LONG status() const { return status_; }
    RegTree& tree() { return RegistryStore::instance().read(); }
    LONG commit()
    {
        done_ = true;
        return RegistryStore::instance().commitChange();
    }

private:
    LONG status_;
    bool done_ = false;
};

// What an HKEY stands for and the elements of the subkey path given with
// it; the lock is held.
LONG DescribeSubkey(HKEY hKey, const char* subKey, OpenKey& key, std::vector<PathElement>& parts)
{
    if (LONG rc = Describe(hKey, key); rc != Result(ERROR_SUCCESS))
        return rc;
    if (!SplitPath(subKey, parts))
        return Result(ERROR_INVALID_PARAMETER);
    return Result(ERROR_SUCCESS);
}

std::unique_lock<std::mutex> LockStore()
{
    return std::unique_lock<std::mutex>(RegistryStore::instance().mutex());
}

} // namespace

LONG RegOpenKeyEx(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult)
{
    if (!phkResult)
        return Result(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    auto lock = LockStore();
    OpenKey base;
    std::vector<PathElement> parts;
    if (LONG rc = DescribeSubkey(hKey, lpSubKey, base, parts); rc != Result(ERROR_SUCCESS))
        return rc;
    RegKey* node = Resolve(RegistryStore::instance().read(), base);
    if (!node)
        return Result(ERROR_KEY_DELETED);
    OpenKey opened { base.root, base.path, samDesired };
    for (const PathElement& part : parts) {
        node = node->findSubkey(part.fold);
        if (!node)
            return Result(ERROR_FILE_NOT_FOUND);
        opened.path.push_back(part.fold);
    }
    *phkResult = AddOpenKey(std::move(opened));
    return Result(ERROR_SUCCESS);
}

LONG RegCreateKeyEx(HKEY hKey, const char* lpSubKey, DWORD, char*, DWORD, REGSAM samDesired, void*,
    HKEY* phkResult, DWORD* lpdwDisposition)
{
    if (!phkResult || !lpSubKey)
        return Result(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    auto lock = LockStore();
    OpenKey base;
    std::vector<PathElement> parts;
    if (LONG rc = DescribeSubkey(hKey, lpSubKey, base, parts); rc != Result(ERROR_SUCCESS))
        return rc;

    OpenKey opened { base.root, base.path, samDesired };
    for (const PathElement& part : parts)
        opened.path.push_back(part.fold);

    bool created = false;
    if (!Resolve(RegistryStore::instance().read(), opened)) {
        if (!(base.access & KEY_CREATE_SUB_KEY))
            return Result(ERROR_ACCESS_DENIED);
        StoreChange change;
        if (change.status() != Result(ERROR_SUCCESS))
            return change.status();
        RegKey* node = Resolve(change.tree(), base);
        if (!node)
            return Result(ERROR_KEY_DELETED);
        for (const PathElement& part : parts) {
            RegKey* sub = node->findSubkey(part.fold);
            if (!sub) {
                sub = node->addSubkey(part.name, part.fold);
                created = true;
            }
            node = sub;
        }
        // Another program may have created it meanwhile: nothing to write.
        if (created) {
            if (LONG rc = change.commit(); rc != Result(ERROR_SUCCESS))
                return rc;
        }
    }
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = AddOpenKey(std::move(opened));
    return Result(ERROR_SUCCESS);
}

namespace {
// What an open handle stands for, when it was opened with the given right;
// otherwise false, with the error in rc.
bool DescribeWithRight(HKEY hKey, REGSAM right, OpenKey& key, LONG& rc)
{
    if (rc = Describe(hKey, key); rc != Result(ERROR_SUCCESS))
        return false;
    if (!(key.access & right)) {
        rc = Result(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// The key behind an open handle, when the handle may read it with the given
// right; otherwise null, with the error in rc.
const RegKey* KeyToRead(HKEY hKey, REGSAM right, LONG& rc)
{
    OpenKey key;
    if (!DescribeWithRight(hKey, right, key, rc))
        return nullptr;
    const RegKey* node = Resolve(RegistryStore::instance().read(), key);
    if (!node)
        rc = Result(ERROR_KEY_DELETED);
    return node;
}

// The key behind an open handle, when the handle may set its values, in a
// change of the store begun here; otherwise null, with the error in rc. The
// change begins only once the handle has passed, so a refused call leaves
// the store alone.
RegKey* KeyToWrite(HKEY hKey, std::optional<StoreChange>& change, LONG& rc)
{
    OpenKey key;
    if (!DescribeWithRight(hKey, KEY_SET_VALUE, key, rc))
        return nullptr;
    change.emplace();
    if (rc = change->status(); rc != Result(ERROR_SUCCESS))
        return nullptr;
    RegKey* node = Resolve(change->tree(), key);
    if (!node)
        rc = Result(ERROR_KEY_DELETED);
    return node;
}
} // namespace

LONG RegEnumKeyEx(
    HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char* lpClass, DWORD* lpcchClass, void*)
{
    if (!lpName || !lpcchName)
        return Result(ERROR_INVALID_PARAMETER);
    auto lock = LockStore();
    LONG rc;
    const RegKey* node = KeyToRead(hKey, KEY_ENUMERATE_SUB_KEYS, rc);
    if (!node)
        return rc;
    if (dwIndex >= node->subkeys.size())
        return Result(ERROR_NO_MORE_ITEMS);
    const RegKey& sub = *std::next(node->subkeys.begin(), dwIndex)->second;
    if (LONG rc = CopyName(sub.name, lpName, lpcchName); rc != Result(ERROR_SUCCESS))
        return rc;
    if (lpClass && lpcchClass && *lpcchClass > 0) {
        lpClass[0] = '\0';
        *lpcchClass = 0;
    }
    return Result(ERROR_SUCCESS);
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD*, DWORD* lpType,
    BYTE* lpData, DWORD* lpcbData)
{
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return Result(ERROR_INVALID_PARAMETER);
    auto lock = LockStore();
    LONG rc;
    const RegKey* node = KeyToRead(hKey, KEY_QUERY_VALUE, rc);
    if (!node)
        return rc;
    if (dwIndex >= node->values.size())
        return Result(ERROR_NO_MORE_ITEMS);
    const RegValue& value = node->values[dwIndex];
    if (LONG rc = CopyName(value.name, lpValueName, lpcchValueName); rc != Result(ERROR_SUCCESS))
        return rc;
    return CopyData(value, lpType, lpData, lpcbData);
}

LONG RegQueryValueEx(HKEY hKey, const char* lpValueName, DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData)
{
    if (lpData && !lpcbData)
        return Result(ERROR_INVALID_PARAMETER);
    auto lock = LockStore();
    LONG rc;
    const RegKey* node = KeyToRead(hKey, KEY_QUERY_VALUE, rc);
    if (!node)
        return rc;
    const RegValue* value = node->findValue(lpValueName ? lpValueName : "");
    if (!value)
        return Result(ERROR_FILE_NOT_FOUND);
    return CopyData(*value, lpType, lpData, lpcbData);
}

LONG RegSetValueEx(HKEY hKey, const char* lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData > 0)
        return Result(ERROR_NOACCESS);
    auto lock = LockStore();
    std::optional<StoreChange> change;
    LONG rc;
    RegKey* node = KeyToWrite(hKey, change, rc);
    if (!node)
        return rc;
    const std::string_view name = lpValueName ? lpValueName : "";
    QByteArray data(reinterpret_cast<const char*>(lpData), qsizetype(cbData));
    const RegValue* old = node->findValue(name);
    if (old && old->type == dwType && old->data == data)
        return Result(ERROR_SUCCESS);
    node->setValue(name, dwType, std::move(data));
    return change->commit();
}

LONG RegDeleteValue(HKEY hKey, const char* lpValueName)
{
    auto lock = LockStore();
    std::optional<StoreChange> change;
    LONG rc;
    RegKey* node = KeyToWrite(hKey, change, rc);
    if (!node)
        return rc;
    if (!node->removeValue(lpValueName ? lpValueName : ""))
        return Result(ERROR_FILE_NOT_FOUND);
    return change->commit();
}

LONG RegDeleteKey(HKEY hKey, const char* lpSubKey)
{
    if (!lpSubKey)
        return Result(ERROR_INVALID_PARAMETER);
    auto lock = LockStore();
    OpenKey key;
    std::vector<PathElement> parts;
    if (LONG rc = DescribeSubkey(hKey, lpSubKey, key, parts); rc != Result(ERROR_SUCCESS))
        return rc;
    for (const PathElement& part : parts)
        key.path.push_back(part.fold);
    if (key.path.empty())
        return Result(ERROR_ACCESS_DENIED); // a root key stays
    const QByteArray leaf = key.path.back();
    key.path.pop_back();

    StoreChange change;
    if (change.status() != Result(ERROR_SUCCESS))
        return change.status();
    RegKey* parent = Resolve(change.tree(), key);
    const RegKey* target = parent ? parent->findSubkey(leaf) : nullptr;
    if (!target)
        return Result(parts.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND);
    if (!target->subkeys.empty())
        return Result(ERROR_ACCESS_DENIED);
    parent->removeSubkey(leaf);
    return change.commit();
}

LONG RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_CLASSES_ROOT
        || hKey == HKEY_USERS)
        return Result(ERROR_SUCCESS);
    auto lock = LockStore();
    return Table().keys.erase(reinterpret_cast<uintptr_t>(hKey)) ? Result(ERROR_SUCCESS)
                                                                 : Result(ERROR_INVALID_HANDLE);
}

std::string zq::registry::RegistryStoreFile()
{
    return StoreFilePath().toStdString();
}

void zq::registry::RegWithStoreHeld(const std::function<void()>& work)
{
    // The process's own lock is not kept across work, which uses the
    // functions that take it.
    {
        auto lock = LockStore();
        RegistryStore::instance().hold();
    }
    struct Release {
        ~Release()
        {
            auto lock = LockStore();
            RegistryStore::instance().release();
        }
    } release;
    work();
}
