#include "stdidentity_probe.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace zqtest {

std::any VectorInAny()
{
    return std::vector<std::string> { "a", "b" };
}

const std::type_info& VectorTypeInfo()
{
    return typeid(std::vector<std::string>);
}

void ThrowPair()
{
    throw std::pair<int, std::string>(7, "seven");
}

void ThrowNestedVector()
{
    std::throw_with_nested(std::vector<int> { 1, 2, 3 });
}

std::function<int(int)> Negate()
{
    return std::negate<int>();
}

} // namespace zqtest
