#include "registrytree_p.h"

#include <QString>

namespace zq::registry {

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
    auto it = valueAt.find(FoldName(valueName));
    return it == valueAt.end() ? nullptr : &values[it->second];
}

void RegKey::setValue(std::string_view valueName, DWORD type, QByteArray data)
{
    QByteArray fold = FoldName(valueName);
    auto it = valueAt.find(fold);
    if (it == valueAt.end()) {
        valueAt.emplace(fold, values.size());
        values.push_back(RegValue { std::string(valueName), std::move(fold), type, std::move(data) });
        return;
    }
    RegValue& value = values[it->second];
    value.type = type;
    value.data = std::move(data);
}

bool RegKey::removeValue(std::string_view valueName)
{
    auto it = valueAt.find(FoldName(valueName));
    if (it == valueAt.end())
        return false;
    const size_t at = it->second;
    valueAt.erase(it);
    values.erase(values.begin() + qsizetype(at));
    for (size_t i = at; i < values.size(); ++i)
        valueAt[values[i].fold] = i;
    return true;
}

} // namespace zq::registry
