// One operation of the sensor API in-process, as the tool would run it, with its standard output
// captured.
#ifndef VESK11_TESTS_TOOL_API_CALL_HPP
#define VESK11_TESTS_TOOL_API_CALL_HPP

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "exceptions.hpp"
#include "uat4/api.hpp"

namespace vesk11_test
{

// Runs aCall on aApi; what it printed, and whether it threw internal_error (anything else
// escapes to the test).
inline std::string call_api(const Orvo::Support::Vesk11Cli::Uat4::api_sp_t& aApi,
                            const std::function<void(Orvo::Support::Vesk11Cli::Uat4::api_like&)>& aCall,
                            bool* aThrew)
{
    *aThrew = false;
    testing::internal::CaptureStdout();
    try
    {
        aCall(*aApi);
    }
    catch (const Orvo::internal_error&)
    {
        *aThrew = true;
    }
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline std::string call_get_param_i32(const Orvo::Support::Vesk11Cli::Uat4::api_sp_t& aApi,
                                      uint16_t aGroup, uint16_t aId, bool* aThrew)
{
    return call_api(
        aApi, [&](Orvo::Support::Vesk11Cli::Uat4::api_like& aSensor)
        { aSensor.getParamI32(aGroup, aId); }, aThrew);
}

} // namespace vesk11_test

#endif
