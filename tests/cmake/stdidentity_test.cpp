// Values of standard-library types made in another library, whose typeinfo
// for them is a copy of its own, keep their type here: any_cast, catch
// clauses, dynamic_cast and std::function::target compare the two copies.
#include "stdidentity_probe.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(StdIdentityAcrossLibraries, TheLibraryHasACopyOfItsOwn)
{
    // Were it shared, the other tests would compare one object with itself.
    EXPECT_NE(&zqtest::VectorTypeInfo(), &typeid(std::vector<std::string>));
    EXPECT_EQ(zqtest::VectorTypeInfo(), typeid(std::vector<std::string>));
}

TEST(StdIdentityAcrossLibraries, AnyCastAndFunctionTarget)
{
    const std::any value = zqtest::VectorInAny();
    const auto* strings = std::any_cast<std::vector<std::string>>(&value);
    ASSERT_NE(strings, nullptr);
    EXPECT_EQ(*strings, (std::vector<std::string> { "a", "b" }));
    EXPECT_EQ(std::any_cast<std::vector<int>>(&value), nullptr);

    const auto negate = zqtest::Negate();
    EXPECT_NE(negate.target<std::negate<int>>(), nullptr);
    EXPECT_EQ(negate.target<std::plus<int>>(), nullptr);
    EXPECT_EQ(negate(4), -4);
}

TEST(StdIdentityAcrossLibraries, CatchAndDynamicCast)
{
    try {
        zqtest::ThrowPair();
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::pair<int, std::string>& e) {
        EXPECT_EQ(e.second, "seven");
    }
    // A base class of the library's own class, found through its typeinfo.
    try {
        zqtest::ThrowNestedVector();
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::vector<int>& e) {
        EXPECT_EQ(e, (std::vector<int> { 1, 2, 3 }));
    }
    try {
        zqtest::ThrowNestedVector();
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::nested_exception& e) {
        const auto* numbers = dynamic_cast<const std::vector<int>*>(&e);
        ASSERT_NE(numbers, nullptr);
        EXPECT_EQ(numbers->size(), 3u);
    }
}

} // namespace
