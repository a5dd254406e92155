#include "param_model.hpp"

#include <set>
#include <utility>

#include "uat11.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

constexpr uint16_t kCOMMAND_REBOOT = 342;
constexpr uint16_t kCOMMAND_UPDATE_FLASH = 344;
constexpr uint16_t kCOMMAND_RESET_RAM = 345;
constexpr uint16_t kCOMMAND_RESET_FLASH = 346;
// Status values of the identity: the serial, and the firmware's four numbers from 2003/2 on.
constexpr uint16_t kSTATUS_SERIAL = 9;
constexpr uint16_t kSTATUS_FIRMWARE = 2;

struct factory_t
{
    uint16_t group;
    uint16_t array;
    uint8_t value_type;
    int32_t i32;
    float f32;
};

// Factory values: mounting geometry (50..55, metres and degrees), power mode (104: 1 full power,
// 0 low power, which is what the tool's "low-power on" writes), the speed filter (450 enable,
// 451..460 range bounds in km/h), then the status values but the identity (sim_identity).
constexpr factory_t kFACTORY[] = {
    {kUAT11_GROUP_CONFIG, 50, kUAT4_VALUE_F32, 0, 0.25f},
    {kUAT11_GROUP_CONFIG, 51, kUAT4_VALUE_F32, 0, -0.5f},
    {kUAT11_GROUP_CONFIG, 52, kUAT4_VALUE_F32, 0, 1.5f},
    {kUAT11_GROUP_CONFIG, 53, kUAT4_VALUE_F32, 0, 2.0f},
    {kUAT11_GROUP_CONFIG, 54, kUAT4_VALUE_F32, 0, -3.5f},
    {kUAT11_GROUP_CONFIG, 55, kUAT4_VALUE_F32, 0, 10.0f},
    {kUAT11_GROUP_CONFIG, kUAT11_POWER_MODE_ARRAY, kUAT4_VALUE_I32, kUAT11_POWER_MODE_FULL, 0.0f},
    {kUAT11_GROUP_CONFIG, 450, kUAT4_VALUE_I32, 1, 0.0f},
    {kUAT11_GROUP_CONFIG, 451, kUAT4_VALUE_F32, 0, 0.0f},
    {kUAT11_GROUP_CONFIG, 452, kUAT4_VALUE_F32, 0, 10.0f},
    {kUAT11_GROUP_CONFIG, 453, kUAT4_VALUE_F32, 0, 10.0f},
    {kUAT11_GROUP_CONFIG, 454, kUAT4_VALUE_F32, 0, 30.0f},
    {kUAT11_GROUP_CONFIG, 455, kUAT4_VALUE_F32, 0, 30.0f},
    {kUAT11_GROUP_CONFIG, 456, kUAT4_VALUE_F32, 0, 50.0f},
    {kUAT11_GROUP_CONFIG, 457, kUAT4_VALUE_F32, 0, 50.0f},
    {kUAT11_GROUP_CONFIG, 458, kUAT4_VALUE_F32, 0, 80.0f},
    {kUAT11_GROUP_CONFIG, 459, kUAT4_VALUE_F32, 0, 80.0f},
    {kUAT11_GROUP_CONFIG, 460, kUAT4_VALUE_F32, 0, 250.0f},
    {kUAT11_GROUP_STATUS, 7, kUAT4_VALUE_I32, 2, 0.0f},   // antenna
    {kUAT11_GROUP_STATUS, 14, kUAT4_VALUE_I32, 1, 0.0f},  // application major
    {kUAT11_GROUP_STATUS, 15, kUAT4_VALUE_I32, 6, 0.0f},  // application minor
    {kUAT11_GROUP_STATUS, 16, kUAT4_VALUE_I32, 0, 0.0f},  // application patch
    {kUAT11_GROUP_STATUS, 18, kUAT4_VALUE_I32, 1, 0.0f},  // application variant
    {kUAT11_GROUP_STATUS, 23, kUAT4_VALUE_I32, -2, 0.0f}, // roll, degrees
    {kUAT11_GROUP_STATUS, 24, kUAT4_VALUE_I32, 5, 0.0f},  // pitch, degrees
    {kUAT11_GROUP_STATUS, 25, kUAT4_VALUE_I32, 1, 0.0f},  // accelerometer calibrated
    {kUAT11_GROUP_STATUS, 26, kUAT4_VALUE_I32, 38, 0.0f}, // temperature, degrees C
    {kUAT11_GROUP_STATUS, 32, kUAT4_VALUE_I32, 3, 0.0f},  // application type
};

uint32_t _T_factory_bits(const factory_t& aFactory)
{
    return aFactory.value_type == kUAT4_VALUE_F32 ? Uat4__F32ToBits(aFactory.f32)
                                                  : static_cast<uint32_t>(aFactory.i32);
}

bool _T_refuse(std::string& aError, const std::string& aReason)
{
    aError = aReason;
    return false;
}

// Shared by the const and non-const lookups.
template <typename Values>
auto _T_find(Values& aValues, uint16_t aGroup, uint16_t aArray) -> decltype(aValues.data())
{
    for (auto& value : aValues)
    {
        if (value.group == aGroup && value.array == aArray)
            return &value;
    }
    return nullptr;
}

bool _T_is_command(uint16_t aArray)
{
    return aArray == kCOMMAND_REBOOT || aArray == kCOMMAND_UPDATE_FLASH ||
           aArray == kCOMMAND_RESET_RAM || aArray == kCOMMAND_RESET_FLASH;
}

} // namespace

param_outcome_t failed_outcome(const sim_query& aQuery, uint8_t aResult)
{
    param_outcome_t outcome;
    outcome.result = aResult;
    outcome.value_type = aQuery.value_type;
    return outcome;
}

param_model::param_model(const sim_identity& aIdentity)
{
    for (const factory_t& factory : kFACTORY)
    {
        uint32_t bits = _T_factory_bits(factory);
        values_.push_back({factory.group, factory.array, factory.value_type, bits, bits, bits});
    }
    const uint32_t serial = aIdentity.serial;
    values_.push_back(
        {kUAT11_GROUP_STATUS, kSTATUS_SERIAL, kUAT4_VALUE_I32, serial, serial, serial});
    for (size_t part = 0; part < aIdentity.firmware.size(); ++part)
    {
        const uint32_t bits = aIdentity.firmware[part];
        values_.push_back({kUAT11_GROUP_STATUS, static_cast<uint16_t>(kSTATUS_FIRMWARE + part),
                           kUAT4_VALUE_I32, bits, bits, bits});
    }
}

param_model::value_t* param_model::find(uint16_t aGroup, uint16_t aArray)
{
    return _T_find(values_, aGroup, aArray);
}

const param_model::value_t* param_model::find(uint16_t aGroup, uint16_t aArray) const
{
    return _T_find(values_, aGroup, aArray);
}

param_outcome_t param_model::execute(const sim_query& aQuery)
{
    if (!aQuery.batch_crc_ok)
        return failed_outcome(aQuery, kRESULT_BAD_BATCH_CRC);
    if (aQuery.action_type > kUAT4_ACTION_SET_GET_PARAM)
        return failed_outcome(aQuery, kRESULT_UNKNOWN_ACTION);
    if (aQuery.group == kUAT11_GROUP_COMMAND)
        return execute_command(aQuery);
    if (aQuery.group != kUAT11_GROUP_CONFIG && aQuery.group != kUAT11_GROUP_STATUS)
        return failed_outcome(aQuery, kRESULT_UNKNOWN_GROUP);
    value_t* value = find(aQuery.group, aQuery.array);
    if (!value)
        return failed_outcome(aQuery, kRESULT_UNKNOWN_ID);
    return execute_value(aQuery, *value);
}

param_outcome_t param_model::refuse(const sim_query& aQuery, uint8_t aResult) const
{
    param_outcome_t outcome = failed_outcome(aQuery, aResult);
    const value_t* value = find(aQuery.group, aQuery.array);
    if (value)
    {
        outcome.value_type = value->value_type;
        outcome.value = value->ram;
    }
    return outcome;
}

param_outcome_t param_model::execute_command(const sim_query& aQuery)
{
    if (!_T_is_command(aQuery.array))
        return failed_outcome(aQuery, kRESULT_UNKNOWN_ID);
    if (aQuery.action_type != kUAT4_ACTION_COMMAND)
        return failed_outcome(aQuery, kRESULT_WRONG_ACTION);
    param_outcome_t outcome;
    outcome.value_type = kUAT4_VALUE_I32;
    outcome.value = aQuery.value; // a command answers its argument
    if (aQuery.array == kCOMMAND_REBOOT)
    {
        outcome.effect = param_effect_t::kREBOOT;
        return outcome;
    }
    if (aQuery.value != kUAT11_ALL_GROUPS && aQuery.value != kUAT11_GROUP_CONFIG)
        return failed_outcome(aQuery, kRESULT_BAD_ARGUMENT);
    for (value_t& value : values_)
    {
        if (value.group != kUAT11_GROUP_CONFIG)
            continue;
        if (aQuery.array == kCOMMAND_UPDATE_FLASH)
            value.flash = value.ram;
        else if (aQuery.array == kCOMMAND_RESET_RAM)
            value.ram = value.flash;
        else
            value.flash = value.factory;
    }
    if (aQuery.array != kCOMMAND_RESET_RAM)
        outcome.effect = param_effect_t::kFLASH_CHANGED;
    return outcome;
}

param_outcome_t param_model::execute_value(const sim_query& aQuery, value_t& aValue)
{
    if (aQuery.action_type == kUAT4_ACTION_COMMAND)
        return failed_outcome(aQuery, kRESULT_WRONG_ACTION);
    if (aQuery.dim0 != 0 || aQuery.dim1 != 0)
        return failed_outcome(aQuery, kRESULT_BAD_INDEX);
    bool isSet = aQuery.action_type == kUAT4_ACTION_SET_PARAM ||
                 aQuery.action_type == kUAT4_ACTION_SET_GET_PARAM;
    if (isSet && aValue.group == kUAT11_GROUP_STATUS)
        return failed_outcome(aQuery, kRESULT_READ_ONLY);
    if (isSet && aQuery.value_type != aValue.value_type)
        return failed_outcome(aQuery, kRESULT_WRONG_TYPE);
    if (isSet)
        aValue.ram = aQuery.value;
    param_outcome_t outcome;
    outcome.value_type = aValue.value_type;
    outcome.value = aValue.ram;
    return outcome;
}

bool param_model::ram_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const
{
    const value_t* value = find(aGroup, aArray);
    if (value)
        *aBits = value->ram;
    return value != nullptr;
}

bool param_model::flash_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const
{
    const value_t* value = find(aGroup, aArray);
    if (value)
        *aBits = value->group == kUAT11_GROUP_STATUS ? value->ram : value->flash;
    return value != nullptr;
}

void param_model::load_ram_from_flash()
{
    for (value_t& value : values_)
    {
        if (value.group == kUAT11_GROUP_CONFIG)
            value.ram = value.flash;
    }
}

std::vector<flash_entry_t> param_model::flash_entries() const
{
    std::vector<flash_entry_t> entries;
    for (const value_t& value : values_)
    {
        if (value.group == kUAT11_GROUP_CONFIG)
            entries.push_back({value.group, value.array, value.value_type, value.flash});
    }
    return entries;
}

bool param_model::set_flash_entries(const std::vector<flash_entry_t>& aEntries, std::string& aError)
{
    std::set<std::pair<uint16_t, uint16_t>> seen;
    for (const flash_entry_t& entry : aEntries)
    {
        std::string where = std::to_string(entry.group) + "/" + std::to_string(entry.array);
        const value_t* value = find(entry.group, entry.array);
        if (!value || value->group != kUAT11_GROUP_CONFIG)
            return _T_refuse(aError, "unknown parameter " + where);
        if (entry.value_type != value->value_type)
            return _T_refuse(aError, "wrong value type for " + where);
        if (!seen.insert({entry.group, entry.array}).second)
            return _T_refuse(aError, "parameter " + where + " given twice");
    }
    if (seen.size() != flash_entries().size())
        return _T_refuse(aError, "parameters missing");
    for (const flash_entry_t& entry : aEntries)
        find(entry.group, entry.array)->flash = entry.bits;
    return true;
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
