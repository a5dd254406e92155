#include "cli_handler.hpp"

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "exceptions.hpp"
#include "log.h"
#include "number_text.hpp"
#include "uat11.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Cli
{

namespace
{

typedef cli_response (*handler_fn)(const cli_request& aRequest, const service_pack& aServicePack);

const char* const kPARAM_GROUP = "--group";
const char* const kPARAM_ID = "--id";
const char* const kPARAM_VALUE = "--value";
constexpr unsigned long long kPARAM_U16_MAX = 0xFFFF;
constexpr unsigned long long kPARAM_I32_MAX = 0x7FFFFFFF;

// The single value given for aName; logs under the decoder's name aFunc and throws otherwise.
const std::string& _T_single_value(const cli_params_t& aParams, const char* aName,
                                   const char* aFunc)
{
    const auto entryIt = aParams.find(aName);
    if (entryIt == aParams.end())
    {
        LogWrite(__FILE__, __LINE__, aFunc, 1, "fail: %s is absent", aName);
        throw not_found_error();
    }
    if (entryIt->second.size() != 1)
    {
        LogWrite(__FILE__, __LINE__, aFunc, 1, "fail: %s is multiple", aName);
        throw not_found_error();
    }
    return entryIt->second.front();
}

// How a number is read. Reading commands keep the C library's lenient reading (blanks and a sign
// allowed, digits up to the first other character, "-1" wrapping to the largest number and so
// refused by any bound); commands that change the sensor take only a text that is wholly a number:
// a read can be repeated, a write cannot be taken back.
enum class reading_t
{
    kLENIENT,
    kSTRICT,
};

[[noreturn]] void _T_bad_value(const char* aName, const char* aFunc)
{
    LogWrite(__FILE__, __LINE__, aFunc, 1, "fail: %s is bad value", aName);
    throw not_found_error();
}

int _T_decode_bounded(const cli_params_t& aParams, const char* aName, unsigned long long aMax,
                      const char* aFunc, reading_t aReading)
{
    const std::string& text = _T_single_value(aParams, aName, aFunc);
    if (aReading == reading_t::kSTRICT)
    {
        long long number = 0;
        if (!TextToInteger(text, 0, static_cast<long long>(aMax), &number))
            _T_bad_value(aName, aFunc);
        return static_cast<int>(number);
    }
    const unsigned long long number = std::strtoull(text.c_str(), nullptr, 10);
    if (number > aMax)
        _T_bad_value(aName, aFunc);
    return static_cast<int>(number);
}

int _T_decode_action_param_group(const cli_params_t& params, reading_t aReading)
{
    return _T_decode_bounded(params, kPARAM_GROUP, kPARAM_U16_MAX, __func__, aReading);
}

int _T_decode_action_param_array(const cli_params_t& params, reading_t aReading)
{
    return _T_decode_bounded(params, kPARAM_ID, kPARAM_U16_MAX, __func__, aReading);
}

// Only ever written to the sensor, so always read strictly.
int _T_decode_action_param_value_i32(const cli_params_t& params)
{
    return _T_decode_bounded(params, kPARAM_VALUE, kPARAM_I32_MAX, __func__, reading_t::kSTRICT);
}

// A float in C syntax, sign included, and finite: "nan", "inf", "1,5" and "" are refused.
float _T_decode_action_param_value_f32(const cli_params_t& params)
{
    float value = 0.0F;
    if (!TextToFloat(_T_single_value(params, kPARAM_VALUE, __func__), &value))
        _T_bad_value(kPARAM_VALUE, __func__);
    return value;
}

// The address every parameter command takes, and the map the value is read from.
struct action_args
{
    cli_params_t params;
    uint16_t group;
    uint16_t id;
};

// The usage text alone does not say what was wrong with the command line: the log does.
void _T_assert_word_count(const cli_request& aRequest, size_t aWordCount)
{
    if (aRequest.args_.size() != aWordCount)
    {
        LOG_WRITE(1, "fail: wrong number of words (actual:%zu, expected:%zu)",
                  aRequest.args_.size(), aWordCount);
        throw not_found_error();
    }
}

// Checks the word count, then decodes "--id" before "--group": the first failure is logged.
action_args _T_decode_action_args(const cli_request& aRequest, size_t aWordCount,
                                  reading_t aReading)
{
    _T_assert_word_count(aRequest, aWordCount);
    action_args args{};
    Cli__DecodeParams(args.params, aRequest.args_);
    args.id = static_cast<uint16_t>(_T_decode_action_param_array(args.params, aReading));
    args.group = static_cast<uint16_t>(_T_decode_action_param_group(args.params, aReading));
    return args;
}

// A word-only command: its word and nothing after it.
void _T_assert_word(const cli_request& aRequest, const char* aWord)
{
    _T_assert_word_count(aRequest, 1);
    aRequest.assert_arg(0, aWord);
}

cli_response _T_done()
{
    return cli_response::done("DONE\n", "");
}

cli_response _T_exec_command(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 4, reading_t::kSTRICT);
    const int value = _T_decode_action_param_value_i32(args.params);
    aServicePack.uat4_->execCommand(args.group, args.id, static_cast<uint32_t>(value));
    return _T_done();
}

cli_response _T_get_status_i32(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 3, reading_t::kLENIENT);
    aServicePack.uat4_->getStatusI32(args.group, args.id);
    return _T_done();
}

cli_response _T_get_status_f32(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 3, reading_t::kLENIENT);
    aServicePack.uat4_->getStatusF32(args.group, args.id);
    return _T_done();
}

cli_response _T_get_param_i32(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 3, reading_t::kLENIENT);
    aServicePack.uat4_->getParamI32(args.group, args.id);
    return _T_done();
}

cli_response _T_get_param_f32(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 3, reading_t::kLENIENT);
    aServicePack.uat4_->getParamF32(args.group, args.id);
    return _T_done();
}

cli_response _T_set_param_i32(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 4, reading_t::kSTRICT);
    const int value = _T_decode_action_param_value_i32(args.params);
    aServicePack.uat4_->setParamI32(args.group, args.id, value);
    return _T_done();
}

cli_response _T_set_param_f32(const cli_request& aRequest, const service_pack& aServicePack)
{
    const action_args args = _T_decode_action_args(aRequest, 4, reading_t::kSTRICT);
    const float value = _T_decode_action_param_value_f32(args.params);
    aServicePack.uat4_->setParamF32(args.group, args.id, value);
    return _T_done();
}

cli_response _T_reboot(const cli_request& aRequest, const service_pack& aServicePack)
{
    _T_assert_word(aRequest, "reboot");
    aServicePack.uat4_->reboot();
    return _T_done();
}

cli_response _T_reset_ram_conf(const cli_request& aRequest, const service_pack& aServicePack)
{
    _T_assert_word(aRequest, "reset-ram-conf");
    aServicePack.uat4_->resetRamConf(kUAT11_ALL_GROUPS);
    return _T_done();
}

cli_response _T_reset_flash_conf(const cli_request& aRequest, const service_pack& aServicePack)
{
    _T_assert_word(aRequest, "reset-flash-conf");
    aServicePack.uat4_->resetFlashConf(kUAT11_ALL_GROUPS);
    return _T_done();
}

cli_response _T_update_flash_conf(const cli_request& aRequest, const service_pack& aServicePack)
{
    _T_assert_word(aRequest, "update-flash-conf");
    aServicePack.uat4_->updateFlashConf(kUAT11_ALL_GROUPS);
    return _T_done();
}

// "on" writes 0 and "off" writes 1: the sensor's parameter says whether it stays awake.
cli_response _T_low_power(const cli_request& aRequest, const service_pack& aServicePack)
{
    _T_assert_word_count(aRequest, 2);
    aRequest.assert_arg(0, "low-power");
    const std::string& mode = aRequest.args_[1];
    if (mode != "on" && mode != "off")
    {
        LOG_WRITE(1, "fail: invalid params");
        throw not_found_error();
    }
    const int32_t lowPowerParamDataI =
        mode == "on" ? kUAT11_POWER_MODE_LOW : kUAT11_POWER_MODE_FULL;
    aServicePack.uat4_->setParamI32(kUAT11_GROUP_CONFIG, kUAT11_POWER_MODE_ARRAY,
                                    lowPowerParamDataI);
    return _T_done();
}

} // namespace

cli_handler::cli_handler(service_pack aServicePack) : service_pack_(std::move(aServicePack)) {}

std::string cli_handler::usage()
{
    std::ostringstream oStream;
    oStream << "export VESK11_CLI_ENDPOINT=</dev/ttyS0>\n"
            << "export VESK11_CLI_TOUT=<200>\n"
            << "\n"
            << "\n"
            << "vesk11-cli command --group=<section> --id=<param-array> --value=<value>\n"
            << "\n"
            << "vesk11-cli get-status-i32 --group=<section> --id=<param-array>\n"
            << "\n"
            << "vesk11-cli get-status-f32 --group=<section> --id=<param-array>\n"
            << "\n"
            << "vesk11-cli get-param-i32 --group=<section> --id=<param-array>\n"
            << "\n"
            << "vesk11-cli get-param-f32 --group=<section> --id=<param-array>\n"
            << "\n"
            << "vesk11-cli set-param-i32 --group=<section> --id=<param-array> --value=<i32>\n"
            << "\n"
            << "vesk11-cli set-param-f32 --group=<section> --id=<param-array> --value=<f32>\n"
            << "\n"
            << "vesk11-cli reboot\n"
            << "\n"
            << "vesk11-cli reset-ram-conf\n"
            << "\n"
            << "vesk11-cli reset-flash-conf\n"
            << "\n"
            << "vesk11-cli update-flash-conf\n"
            << "\n"
            << "vesk11-cli low-power on\n"
            << "\n"
            << "vesk11-cli low-power off\n";
    return oStream.str();
}

cli_response cli_handler::activate(const cli_request& aRequest)
{
    // Several handlers may share a word and are tried in turn; here each word has one.
    static const std::map<std::string, std::vector<handler_fn>> actionToHandlersMap = {
        {"command", {_T_exec_command}},
        {"get-status-i32", {_T_get_status_i32}},
        {"get-status-f32", {_T_get_status_f32}},
        {"get-param-i32", {_T_get_param_i32}},
        {"get-param-f32", {_T_get_param_f32}},
        {"set-param-i32", {_T_set_param_i32}},
        {"set-param-f32", {_T_set_param_f32}},
        {"reboot", {_T_reboot}},
        {"reset-ram-conf", {_T_reset_ram_conf}},
        {"reset-flash-conf", {_T_reset_flash_conf}},
        {"update-flash-conf", {_T_update_flash_conf}},
        {"low-power", {_T_low_power}},
    };

    cli_response response = cli_response::fail_internal("FAIL\n", "");
    try
    {
        if (aRequest.args_.empty())
        {
            LOG_WRITE(1, "fail: no command");
            throw not_found_error();
        }
        const auto entryIt = actionToHandlersMap.find(aRequest.args_[0]);
        if (entryIt == actionToHandlersMap.end())
            LOG_WRITE(1, "fail: unknown command <%s>", aRequest.args_[0].c_str());
        else
        {
            for (handler_fn handlerFn : entryIt->second)
            {
                try
                {
                    return handlerFn(aRequest, service_pack_);
                }
                catch (const not_found_error&)
                {
                    // not this handler's command line: the next one may take it
                }
            }
        }
        throw not_found_error();
    }
    catch (const external_error&)
    {
        response = cli_response::fail_internal(usage(), "");
    }
    catch (const generic_error&)
    {
    }
    catch (const std::exception& x)
    {
        LOG_WRITE(1, "fail: exception <%s>", x.what());
    }
    return response;
}

} // namespace Vesk11Cli
} // namespace Support
} // namespace Orvo
