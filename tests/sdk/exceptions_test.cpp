#include <exception>
#include <string>

#include <gtest/gtest.h>

#include "exceptions.hpp"

namespace
{

using namespace Orvo;

// Which handler of a catch chain receives the thrown class.
template <typename Thrown, typename First, typename Second> std::string _T_caught_by()
{
    try
    {
        throw Thrown();
    }
    catch (const First&)
    {
        return "first";
    }
    catch (const Second&)
    {
        return "second";
    }
    catch (...)
    {
        return "none";
    }
}

TEST(exceptions, params_error_is_an_external_error_but_not_not_found)
{
    EXPECT_EQ((_T_caught_by<params_error, not_found_error, external_error>()), "second");
    EXPECT_EQ((_T_caught_by<params_error, not_found_error, generic_error>()), "second");
    EXPECT_EQ((_T_caught_by<params_error, external_error, generic_error>()), "first");
    EXPECT_EQ((_T_caught_by<params_error, internal_error, not_found_error>()), "none");
}

TEST(exceptions, internal_error_passes_external_handlers)
{
    EXPECT_EQ((_T_caught_by<internal_error, external_error, generic_error>()), "second");
    EXPECT_EQ((_T_caught_by<internal_error, not_found_error, params_error>()), "none");
}

TEST(exceptions, not_found_error_is_external)
{
    EXPECT_EQ((_T_caught_by<not_found_error, params_error, external_error>()), "second");
    EXPECT_EQ((_T_caught_by<not_found_error, internal_error, generic_error>()), "second");
}

TEST(exceptions, every_class_is_a_standard_exception)
{
    EXPECT_EQ((_T_caught_by<generic_error, external_error, std::exception>()), "second");
    EXPECT_EQ((_T_caught_by<external_error, internal_error, std::exception>()), "second");
    EXPECT_EQ((_T_caught_by<not_found_error, std::exception, int>()), "first");
    EXPECT_NE(params_error().what(), nullptr);
}

} // namespace
