#pragma once
// A library linked as ours are (hidden visibility, cmake/stdlocal.map) that
// hands its caller values of standard-library types it instantiates itself,
// so their typeinfo in it is a copy of its own.
#include <any>
#include <functional>
#include <typeinfo>

#define ZQSTDPROBE_EXPORT __attribute__((visibility("default")))

namespace zqtest {

// std::vector<std::string> { "a", "b" }
ZQSTDPROBE_EXPORT std::any VectorInAny();
ZQSTDPROBE_EXPORT const std::type_info& VectorTypeInfo();
// Throws std::pair<int, std::string> { 7, "seven" }.
ZQSTDPROBE_EXPORT void ThrowPair();
// Throws std::vector<int> { 1, 2, 3 } with std::throw_with_nested, which
// derives a class of its own from it and std::nested_exception.
ZQSTDPROBE_EXPORT void ThrowNestedVector();
// Holds a std::negate<int>.
ZQSTDPROBE_EXPORT std::function<int(int)> Negate();

} // namespace zqtest
