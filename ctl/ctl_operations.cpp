// The sensor's operations: save, the two resets, reboot, low power and any command by its id.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ctl_commands.hpp"
#include "ctl_error.hpp"
#include "ctl_shared.hpp"
#include "uat11.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// Decimal, or hexadecimal after 0x: the whole text, within 32 bits.
bool _T_u32_from_text(const std::string& aText, uint32_t* aValue)
{
    const bool hex = aText.size() > 2 && aText[0] == '0' && (aText[1] == 'x' || aText[1] == 'X');
    const std::string digits = hex ? aText.substr(2) : aText;
    const char* const allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > (hex ? 8U : 10U) ||
        digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (value > UINT32_MAX)
        return false;
    *aValue = static_cast<uint32_t>(value);
    return true;
}

uint32_t _T_argument(const std::string& aText, const std::string& aWhat)
{
    uint32_t value = 0;
    if (!_T_u32_from_text(aText, &value))
        throw UsageError(aWhat + " '" + aText +
                         "' is not a whole number from 0 to 4294967295 (or 0x0 to 0xFFFFFFFF)");
    return value;
}

// The optional GROUP word of the configuration commands; all groups when it is left out.
uint32_t _T_group(const ctl_options& aOptions)
{
    return aOptions.words.empty() ? kUAT11_ALL_GROUPS : _T_argument(aOptions.words[0], "GROUP");
}

// A command of the catalogue by its name or GROUP/ID, or any GROUP/ID.
ctl_item _T_command_item(const std::string& aText)
{
    ctl_item item;
    std::string reason;
    const size_t slash = aText.find('/');
    if (slash != std::string::npos && aText.find(':') == std::string::npos &&
        !ResolveItem(aText, &item, &reason))
    {
        uint16_t group = 0;
        uint16_t array = 0;
        if (!Uat11Names__ParseId(aText.data(), aText.size(), &group, &array))
            throw UsageError("'" + aText + "' is not a command name or GROUP/ID");
        const std::string id = std::to_string(group) + "/" + std::to_string(array);
        return ctl_item{id, group, array, kUAT11_KIND_COMMAND, kUAT4_VALUE_I32};
    }
    item = ItemOrUsageError(aText);
    if (item.kind != kUAT11_KIND_COMMAND)
        throw UsageError(item.name + " is not a command: use get or set");
    return item;
}

void _T_show_command(ctl_output& aOutput, const ctl_item& aItem, uint32_t aArgument,
                     const ctl_json& aExtra = ctl_json::object())
{
    if (aOutput.json())
    {
        ctl_json report{{"command", ItemJson(aItem)}};
        report["command"]["argument"] = aArgument;
        report.update(aExtra);
        aOutput.emit(report);
        return;
    }
    char argument[16];
    std::snprintf(argument, sizeof argument, "0x%08X", static_cast<unsigned>(aArgument));
    aOutput.rows({{aItem.name, ItemId(aItem), argument, "accepted"}});
}

int _T_run_command(const uat4_action_t& aAction, const ctl_options& aOptions, ctl_output& aOutput)
{
    const ctl_item item = _T_command_item(std::to_string(aAction.param.group) + "/" +
                                          std::to_string(aAction.param.array));
    sensor_link link(LinkSettings(aOptions));
    link.command(aAction, item.name);
    _T_show_command(aOutput, item, static_cast<uint32_t>(aAction.param.value_i32));
    return kEXIT_OK;
}

} // namespace

int RunSave(const ctl_options& aOptions, ctl_output& aOutput)
{
    uat4_action_t action{};
    Uat11__InitCommandUpdateFlashConf(&action, _T_group(aOptions));
    return _T_run_command(action, aOptions, aOutput);
}

int RunResetRam(const ctl_options& aOptions, ctl_output& aOutput)
{
    uat4_action_t action{};
    Uat11__InitCommandResetRamConf(&action, _T_group(aOptions));
    return _T_run_command(action, aOptions, aOutput);
}

int RunResetFlash(const ctl_options& aOptions, ctl_output& aOutput)
{
    uat4_action_t action{};
    Uat11__InitCommandResetFlashConf(&action, _T_group(aOptions));
    return _T_run_command(action, aOptions, aOutput);
}

int RunSendCommand(const ctl_options& aOptions, ctl_output& aOutput)
{
    const ctl_item item = _T_command_item(aOptions.words[0]);
    uat4_action_t action{};
    UatAction4__InitCommandU32(&action, item.group, item.array,
                               _T_argument(aOptions.words[1], "VALUE"));
    return _T_run_command(action, aOptions, aOutput);
}

int RunReboot(const ctl_options& aOptions, ctl_output& aOutput)
{
    uat4_action_t action{};
    Uat11__InitCommandReboot(&action);
    const ctl_item item = _T_command_item("reboot");
    sensor_link link(LinkSettings(aOptions));
    try
    {
        link.command(action, item.name);
    }
    catch (const ctl_error& x)
    {
        if (x.kind() != error_kind::unavailable || !link.wentOut())
            throw;
        // What the line did after it is the reboot's own silence: say what is known.
        throw x.withMessage("the reboot was sent to " + aOptions.device +
                            " and its reply was lost (--timeout " +
                            std::to_string(aOptions.timeout_ms) +
                            " ms): it may have been carried out, so it was not sent again; the "
                            "sensor may be rebooting now (vesk11-ctl monitor shows when it sends "
                            "again)");
    }
    aOutput.progress(2, 2, "waiting for the sensor to come back");
    const uint32_t silentMs = link.awaitBlock(aOptions.reboot_wait_ms, "waiting after the reboot");
    _T_show_command(aOutput, item, 0, ctl_json{{"silent_ms", silentMs}});
    if (!aOutput.json())
        aOutput.line("back after " + std::to_string(silentMs) + " ms of silence");
    return kEXIT_OK;
}

int RunLowPower(const ctl_options& aOptions, ctl_output& aOutput)
{
    const std::string& word = aOptions.words[0];
    if (word != "on" && word != "off")
        throw UsageError("low-power takes on or off, got '" + word + "'");
    const ctl_item item = ItemOrUsageError("power_mode");
    const uint32_t mode = word == "on" ? kUAT11_POWER_MODE_LOW : kUAT11_POWER_MODE_FULL;
    sensor_link link(LinkSettings(aOptions));
    link.write(item, mode);
    if (aOutput.json())
    {
        ctl_json value = ItemJson(item);
        value["value"] = mode;
        aOutput.emit(ctl_json{{"values", ctl_json::array({value})}});
        return kEXIT_OK;
    }
    aOutput.rows({{item.name, ItemId(item), std::to_string(mode)}});
    return kEXIT_OK;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
