// Arbitrary argument vectors (and environments) through cli_request::create and the dispatcher,
// with a fake sensor API that returns or throws as the input says. Checks that the response is
// always one of the three allowed kinds, that nothing escapes, and that each kind matches what
// happened: "DONE\n" (0) after one call that returned; the usage text (70) after no call or one
// that threw an external_error; "FAIL\n" (70) after one call that threw anything else. The call
// made must be the one the command word names.
// Input: argument count, fake API behaviour, then the words separated by null bytes: the first
// <count> are the argument vector, program path first, the rest the environment.
#include <cstdint>
#include <initializer_list>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli.hpp"
#include "cli_handler.hpp"
#include "exceptions.hpp"
#include "fuzz_support.hpp"

const char* const vesk11_fuzz::kSUBJECT = "dispatcher";

namespace
{

using vesk11_fuzz::require;

using namespace Orvo::Support;
using namespace Orvo::Support::Vesk11Cli;

enum behaviour_t : uint8_t
{
    kRETURN,
    kINTERNAL_ERROR,
    kPARAMS_ERROR,
    kNOT_FOUND_ERROR,
    kRUNTIME_ERROR,
    kBAD_ALLOC,
    kBEHAVIOUR_COUNT
};

// Records each call as "name(arguments)", then behaves as told.
class fake_api : public Uat4::api_like
{
  public:
    explicit fake_api(behaviour_t aBehaviour) : behaviour_(aBehaviour) {}

    void execCommand(uint16_t aGroup, uint16_t aParamArray, uint32_t aParamValue) override
    {
        call("execCommand", aGroup, aParamArray, aParamValue);
    }
    void getStatusI32(uint16_t aGroup, uint16_t aParamArray) override
    {
        call("getStatusI32", aGroup, aParamArray);
    }
    void getStatusF32(uint16_t aGroup, uint16_t aParamArray) override
    {
        call("getStatusF32", aGroup, aParamArray);
    }
    void getParamI32(uint16_t aGroup, uint16_t aParamArray) override
    {
        call("getParamI32", aGroup, aParamArray);
    }
    void getParamF32(uint16_t aGroup, uint16_t aParamArray) override
    {
        call("getParamF32", aGroup, aParamArray);
    }
    void setParamI32(uint16_t aGroup, uint16_t aParamArray, int32_t aParamValue) override
    {
        call("setParamI32", aGroup, aParamArray, static_cast<uint32_t>(aParamValue));
        require(aParamValue >= 0, "a negative 32-bit value passed the decoder");
    }
    void setParamF32(uint16_t aGroup, uint16_t aParamArray, float /*aParamValue*/) override
    {
        call("setParamF32", aGroup, aParamArray);
    }
    void reboot() override { call("reboot"); }
    void resetRamConf(uint32_t aParamGroup) override { call("resetRamConf", aParamGroup); }
    void resetFlashConf(uint32_t aParamGroup) override { call("resetFlashConf", aParamGroup); }
    void updateFlashConf(uint32_t aParamGroup) override { call("updateFlashConf", aParamGroup); }

    const std::vector<std::string>& calls() const { return calls_; }

  private:
    template <typename... args_t> void call(const char* aName, args_t... aArgs)
    {
        std::ostringstream text;
        text << aName << "(";
        const char* separator = "";
        for (uint64_t arg : std::initializer_list<uint64_t>{static_cast<uint64_t>(aArgs)...})
        {
            text << separator << arg;
            separator = ",";
        }
        text << ")";
        calls_.push_back(text.str());
        switch (behaviour_)
        {
        case kINTERNAL_ERROR:
            throw Orvo::internal_error();
        case kPARAMS_ERROR:
            throw Orvo::params_error();
        case kNOT_FOUND_ERROR:
            throw Orvo::not_found_error();
        case kRUNTIME_ERROR:
            throw std::runtime_error("sensor gone");
        case kBAD_ALLOC:
            throw std::bad_alloc();
        default:
            return;
        }
    }

    behaviour_t behaviour_;
    std::vector<std::string> calls_;
};

// The operation each command word calls; for word-only commands and "low-power" the whole call.
std::string _T_expected_call(const std::vector<std::string>& aArgs)
{
    static const char* const kOPERATIONS[][2] = {
        {"command", "execCommand("},
        {"get-status-i32", "getStatusI32("},
        {"get-status-f32", "getStatusF32("},
        {"get-param-i32", "getParamI32("},
        {"get-param-f32", "getParamF32("},
        {"set-param-i32", "setParamI32("},
        {"set-param-f32", "setParamF32("},
        {"reboot", "reboot()"},
        {"reset-ram-conf", "resetRamConf(4294967295)"},
        {"reset-flash-conf", "resetFlashConf(4294967295)"},
        {"update-flash-conf", "updateFlashConf(4294967295)"},
    };
    if (aArgs.empty())
        return "";
    if (aArgs[0] == "low-power" && aArgs.size() == 2)
        return aArgs[1] == "on" ? "setParamI32(2000,104,0)" : "setParamI32(2000,104,1)";
    for (const auto& operation : kOPERATIONS)
    {
        if (aArgs[0] == operation[0])
            return operation[1];
    }
    return "";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    vesk11_fuzz::open_log("cli_request_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize < 2)
        return 0;
    const size_t argc = aData[0] % 8;
    const behaviour_t behaviour = static_cast<behaviour_t>(aData[1] % kBEHAVIOUR_COUNT);
    const std::vector<std::string> words =
        vesk11_fuzz::split_at_nulls(std::string(aData + 2, aData + aSize));
    std::vector<const char*> argv;
    std::vector<const char*> envp;
    for (size_t i = 0; i < words.size(); ++i)
        (i < argc ? argv : envp).push_back(words[i].c_str());
    const int count = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const cli_request request = cli_request::create(count, argv.data(), envp.data());
    require(request.getLogLevel() == 4, "log level other than 4");
    request.getLogName();
    const std::shared_ptr<fake_api> api = std::make_shared<fake_api>(behaviour);
    cli_handler engine(service_pack{api});
    const std::string usage = engine.usage();
    std::ostringstream out;
    std::ostringstream err;
    cli_response response = cli_response::fail_internal("", "");
    try
    {
        response = engine.activate(request);
    }
    catch (...)
    {
        require(false, "an exception escaped activate");
    }
    const int status = response.render(out, err);

    require(err.str().empty(), "text on standard error");
    const std::vector<std::string>& calls = api->calls();
    require(calls.size() <= 1, "more than one sensor call");
    const bool external = behaviour == kPARAMS_ERROR || behaviour == kNOT_FOUND_ERROR;
    if (status == 0 && out.str() == "DONE\n")
        require(calls.size() == 1 && behaviour == kRETURN, "DONE without a successful call");
    else if (status == 70 && out.str() == usage)
        require(calls.empty() || external, "usage text after a call that did not refuse");
    else if (status == 70 && out.str() == "FAIL\n")
        require(calls.size() == 1 && behaviour != kRETURN && !external,
                "FAIL without a failing call");
    else
        require(false, "a response of none of the three kinds");
    if (!calls.empty())
    {
        const std::string expected = _T_expected_call(request.args_);
        require(!expected.empty() && calls[0].compare(0, expected.size(), expected) == 0,
                "the call is not the one the command word names");
    }
    return 0;
}
