#include "registrytree_p.h"

#include <QString>

#include <algorithm>

namespace zqreg {

const char* const kRootNames[RootCount] = { "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER" };

QByteArray FoldName(std::string_view name)
{
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toUpper().toUtf8();
}

RegKey* RegKey::findSubkey(const QByteArray& fold) const
{
    auto it = subkeys.find(fold);
    return it == subkeys.end() ? nullptr : it->second.get();
}

RegKey* RegKey::addSubkey(std::string_view subName, const QByteArray& fold)
{
    auto key = std::make_unique<RegKey>();
    key->name = std::string(subName);
    RegKey* raw = key.get();
    subkeys.emplace(fold, std::move(key));
    return raw;
}

bool RegKey::removeSubkey(const QByteArray& fold)
{
    return subkeys.erase(fold) > 0;
}

const RegValue* RegKey::findValue(std::string_view valueName) const
{
    const QByteArray fold = FoldName(valueName);
    auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return v.fold == fold; });
    return it == values.end() ? nullptr : &*it;
}

void RegKey::setValue(std::string_view valueName, DWORD type, QByteArray data)
{
    const QByteArray fold = FoldName(valueName);
    auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return v.fold == fold; });
    if (it == values.end()) {
        values.push_back(RegValue { std::string(valueName), fold, type, std::move(data) });
        return;
    }
    it->type = type;
    it->data = std::move(data);
}

bool RegKey::removeValue(std::string_view valueName)
{
    const QByteArray fold = FoldName(valueName);
    auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return v.fold == fold; });
    if (it == values.end())
        return false;
    values.erase(it);
    return true;
}

} // namespace zqreg
