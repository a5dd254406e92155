// Arbitrary VESK11_CLI_ENDPOINT and VESK11_CLI_TOUT texts, set or unset, through Api__Create.
// The outcome must be params_error or an object, never anything else, and which one follows from
// the texts read as numbers, not from the C library: both set, and the time-out's leading number
// (blanks, a sign, digits) between 0 and 60000. An endpoint too long for a device path is
// refused by the operation, before any device is touched.
// Input: flags (bit 0: endpoint set, bit 1: time-out set), then the endpoint text, a null byte,
// the time-out text (up to a further null byte).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "exceptions.hpp"
#include "fuzz_support.hpp"
#include "uat4/api.hpp"

const char* const vesk11_fuzz::kSUBJECT = "environment";

namespace
{

using vesk11_fuzz::require;

bool _T_is_blank(char aChar)
{
    return aChar == ' ' || (aChar >= '\t' && aChar <= '\r');
}

// Whether the text's leading number, as a mathematical integer, lies in 0..60000.
bool _T_tout_in_range(const std::string& aText)
{
    size_t at = 0;
    while (at < aText.size() && _T_is_blank(aText[at]))
        ++at;
    bool negative = false;
    if (at < aText.size() && (aText[at] == '+' || aText[at] == '-'))
        negative = aText[at++] == '-';
    unsigned long long value = 0;
    for (; at < aText.size() && aText[at] >= '0' && aText[at] <= '9'; ++at)
    {
        value = value * 10 + static_cast<unsigned>(aText[at] - '0');
        if (value > 60000)
            return false;
    }
    return !negative || value == 0;
}

// The variable's entry lives in aEntry: setenv would keep every value ever set.
void _T_set_env(const char* aName, bool aSet, const std::string& aValue, std::string& aEntry)
{
    unsetenv(aName);
    if (!aSet)
        return;
    aEntry = std::string(aName) + "=" + aValue;
    putenv(&aEntry[0]);
}

std::string endpointEntry;
std::string toutEntry;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    vesk11_fuzz::open_log("api_env_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize < 1)
        return 0;
    const bool endpointSet = (aData[0] & 1) != 0;
    const bool toutSet = (aData[0] & 2) != 0;
    const std::vector<std::string> texts =
        vesk11_fuzz::split_at_nulls(std::string(aData + 1, aData + aSize));
    const std::string& endpoint = texts[0];
    const std::string tout = texts.size() > 1 ? texts[1] : "";
    _T_set_env("VESK11_CLI_ENDPOINT", endpointSet, endpoint, endpointEntry);
    _T_set_env("VESK11_CLI_TOUT", toutSet, tout, toutEntry);

    const bool accept = endpointSet && toutSet && _T_tout_in_range(tout);
    Orvo::Support::Vesk11Cli::Uat4::api_sp_t api;
    try
    {
        api = Orvo::Support::Vesk11Cli::Uat4::Api__Create();
    }
    catch (const Orvo::params_error&)
    {
        require(!accept, "refused a usable environment");
        return 0;
    }
    require(accept && api != nullptr, "accepted an unusable environment");
    if (endpoint.size() > 127)
    {
        bool refused = false;
        try
        {
            api->reboot();
        }
        catch (const Orvo::internal_error&)
        {
            refused = true;
        }
        require(refused, "an endpoint of more than 127 bytes was used");
    }
    return 0;
}
