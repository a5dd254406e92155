// One operation of the sensor API in-process, as the tool would run it, with its standard output
// captured.
#ifndef VESK11_TESTS_TOOL_API_CALL_HPP
#define VESK11_TESTS_TOOL_API_CALL_HPP

#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "exceptions.hpp"
#include "uat4/api.hpp"

namespace vesk11_test
{

// Runs getParamI32 on aApi; what it printed, and whether it threw internal_error (anything else
// escapes to the test).
inline std::string call_get_param_i32(const Orvo::Support::Vesk11Cli::Uat4::api_sp_t& aApi,
                                      uint16_t aGroup, uint16_t aId, bool* aThrew)
{
    *aThrew = false;
    testing::internal::CaptureStdout();
    try
    {
        aApi->getParamI32(aGroup, aId);
    }
    catch (const Orvo::internal_error&)
    {
        *aThrew = true;
    }
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

} // namespace vesk11_test

#endif
