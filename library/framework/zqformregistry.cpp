#include "zqformregistry_p.h"

#include <cctype>
#include <mutex>

namespace zq::framework {

namespace {

std::mutex registryMutex;
std::map<std::string, TComponentFactory>& Factories()
{
    static std::map<std::string, TComponentFactory> f;
    return f;
}
std::map<std::string, int>& EnumMembers()
{
    static std::map<std::string, int> m;
    return m;
}
} // namespace

TComponentFactory FindComponentClass(const std::string& className)
{
    std::lock_guard lock(registryMutex);
    auto it = Factories().find(className);
    return it != Factories().end() ? it->second : TComponentFactory {};
}

void RegisterComponentClass(const std::string& className, TComponentFactory factory)
{
    std::lock_guard lock(registryMutex);
    Factories()[className] = std::move(factory);
}

void RegisterEnumMembers(const std::vector<std::pair<std::string, int>>& members)
{
    std::lock_guard lock(registryMutex);
    for (const auto& [name, value] : members)
        EnumMembers()[name] = value;
}

bool EnumMemberValue(const std::string& name, int& value)
{
    std::lock_guard lock(registryMutex);
    auto it = EnumMembers().find(name);
    if (it == EnumMembers().end())
        return false;
    value = it->second;
    return true;
}

std::string EnumMemberName(const std::string& typePrefix, int value)
{
    std::lock_guard lock(registryMutex);
    for (const auto& [name, v] : EnumMembers())
        if (v == value && name.rfind(typePrefix, 0) == 0 && name.size() > typePrefix.size()
            && std::isupper(static_cast<unsigned char>(name[typePrefix.size()])))
            return name;
    return {};
}

} // namespace zq::framework
