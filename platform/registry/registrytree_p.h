#pragma once
// The in-memory key tree of the registry store. Names keep the spelling they
// were created with and are matched by their upper-cased form.
#include "win32types.h"

#include <QByteArray>
#include <QHashFunctions>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zq::registry {

// The form under which names are compared and subkeys are ordered.
QByteArray FoldName(std::string_view name);

struct RegValue {
    std::string name;
    QByteArray fold;
    DWORD type = 0;
    QByteArray data;
};

struct FoldHash {
    size_t operator()(const QByteArray& fold) const { return qHash(fold); }
};

struct RegKey {
    std::string name;
    std::map<QByteArray, std::unique_ptr<RegKey>> subkeys; // by folded name
    // In the order they were first set; read by position, changed only
    // through setValue and removeValue, which keep valueAt in step.
    std::vector<RegValue> values;
    // Position in values by folded name: a key may hold hundreds of
    // thousands of values, and loading sets each of them once.
    std::unordered_map<QByteArray, size_t, FoldHash> valueAt;

    RegKey* findSubkey(const QByteArray& fold) const;
    // Adds a subkey that must not exist yet.
    RegKey* addSubkey(std::string_view subName, const QByteArray& fold);
    bool removeSubkey(const QByteArray& fold);

    const RegValue* findValue(std::string_view valueName) const;
    void setValue(std::string_view valueName, DWORD type, QByteArray data);
    bool removeValue(std::string_view valueName);
};

// The predefined roots that hold data, in store order.
enum RootIndex { RootLocalMachine = 0, RootCurrentUser = 1, RootCount = 2 };
extern const char* const kRootNames[RootCount];

struct RegTree {
    RegKey roots[RootCount];
};

} // namespace zq::registry
