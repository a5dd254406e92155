#include "uat11_names.h"

#include <algorithm>
#include <cstring>

#include "uat11.h"

namespace
{

constexpr size_t kNEAREST_MAX_LENGTH = 64;

// clang-format off
constexpr uat11_name kNAMES[] = {
    {"param_x",            kUAT11_GROUP_CONFIG, 50,  kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"param_y",            kUAT11_GROUP_CONFIG, 51,  kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"param_z",            kUAT11_GROUP_CONFIG, 52,  kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"param_xy",           kUAT11_GROUP_CONFIG, 53,  kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"param_xz",           kUAT11_GROUP_CONFIG, 54,  kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"param_yz",           kUAT11_GROUP_CONFIG, 55,  kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"power_mode",         kUAT11_GROUP_CONFIG, kUAT11_POWER_MODE_ARRAY, kUAT11_KIND_PARAM, kUAT4_VALUE_I32},
    {"speed_limit_enable", kUAT11_GROUP_CONFIG, 450, kUAT11_KIND_PARAM, kUAT4_VALUE_I32},
    {"speed_limit_1_min",  kUAT11_GROUP_CONFIG, 451, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_1_max",  kUAT11_GROUP_CONFIG, 452, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_2_min",  kUAT11_GROUP_CONFIG, 453, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_2_max",  kUAT11_GROUP_CONFIG, 454, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_3_min",  kUAT11_GROUP_CONFIG, 455, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_3_max",  kUAT11_GROUP_CONFIG, 456, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_4_min",  kUAT11_GROUP_CONFIG, 457, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_4_max",  kUAT11_GROUP_CONFIG, 458, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_5_min",  kUAT11_GROUP_CONFIG, 459, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"speed_limit_5_max",  kUAT11_GROUP_CONFIG, 460, kUAT11_KIND_PARAM, kUAT4_VALUE_F32},
    {"fw_version_gen",     kUAT11_GROUP_STATUS, 2,   kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"fw_version_major",   kUAT11_GROUP_STATUS, 3,   kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"fw_version_minor",   kUAT11_GROUP_STATUS, 4,   kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"fw_version_patch",   kUAT11_GROUP_STATUS, 5,   kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"hw_antenna",         kUAT11_GROUP_STATUS, 7,   kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"hw_serial",          kUAT11_GROUP_STATUS, 9,   kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"app_version_major",  kUAT11_GROUP_STATUS, 14,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"app_version_minor",  kUAT11_GROUP_STATUS, 15,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"app_version_patch",  kUAT11_GROUP_STATUS, 16,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"app_variant",        kUAT11_GROUP_STATUS, 18,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"acc_roll",           kUAT11_GROUP_STATUS, 23,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"acc_pitch",          kUAT11_GROUP_STATUS, 24,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"acc_calib",          kUAT11_GROUP_STATUS, 25,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"temperature",        kUAT11_GROUP_STATUS, 26,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"app_type",           kUAT11_GROUP_STATUS, 32,  kUAT11_KIND_STATUS, kUAT4_VALUE_I32},
    {"reboot",             kUAT11_GROUP_COMMAND, 342, kUAT11_KIND_COMMAND, kUAT4_VALUE_I32},
    {"update_flash_conf",  kUAT11_GROUP_COMMAND, 344, kUAT11_KIND_COMMAND, kUAT4_VALUE_I32},
    {"reset_ram_conf",     kUAT11_GROUP_COMMAND, 345, kUAT11_KIND_COMMAND, kUAT4_VALUE_I32},
    {"reset_flash_conf",   kUAT11_GROUP_COMMAND, 346, kUAT11_KIND_COMMAND, kUAT4_VALUE_I32},
};
// clang-format on

constexpr size_t kNAME_COUNT = sizeof kNAMES / sizeof kNAMES[0];

// Edit distance with swaps of neighbours (optimal string alignment). Row i of the table is kept
// in rows[i % 3]: the swap looks two rows back.
size_t _T_distance(const char* aOne, size_t aOneSize, const char* aOther, size_t aOtherSize)
{
    size_t rows[3][kNEAREST_MAX_LENGTH + 1];
    for (size_t j = 0; j <= aOtherSize; ++j)
        rows[0][j] = j;
    for (size_t i = 1; i <= aOneSize; ++i)
    {
        size_t* current = rows[i % 3];
        const size_t* previous = rows[(i + 2) % 3];
        const size_t* before = rows[(i + 1) % 3];
        current[0] = i;
        for (size_t j = 1; j <= aOtherSize; ++j)
        {
            const size_t cost = aOne[i - 1] == aOther[j - 1] ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && aOne[i - 1] == aOther[j - 2] && aOne[i - 2] == aOther[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
    }
    return rows[aOneSize % 3][aOtherSize];
}

} // namespace

size_t Uat11Names__Count()
{
    return kNAME_COUNT;
}

const uat11_name* Uat11Names__At(size_t aIndex)
{
    return aIndex < kNAME_COUNT ? &kNAMES[aIndex] : nullptr;
}

const uat11_name* Uat11Names__Find(const char* aName)
{
    if (aName == nullptr)
        return nullptr;
    for (const uat11_name& entry : kNAMES)
    {
        if (std::strcmp(entry.name, aName) == 0)
            return &entry;
    }
    return nullptr;
}

const uat11_name* Uat11Names__FindId(uint16_t aGroup, uint16_t aArray)
{
    for (const uat11_name& entry : kNAMES)
    {
        if (entry.group == aGroup && entry.array == aArray)
            return &entry;
    }
    return nullptr;
}

bool Uat11Names__ParseId(const char* aText, size_t aSize, uint16_t* aGroup, uint16_t* aArray)
{
    uint32_t numbers[2] = {0, 0};
    size_t digits[2] = {0, 0};
    size_t part = 0;
    for (size_t i = 0; i < aSize; ++i)
    {
        const char c = aText[i];
        if (c == '/' && part == 0)
        {
            part = 1;
            continue;
        }
        const bool digit = c >= '0' && c <= '9';
        numbers[part] = numbers[part] * 10 + (digit ? static_cast<uint32_t>(c - '0') : 0);
        if (!digit || numbers[part] > UINT16_MAX)
            return false;
        ++digits[part];
    }
    if (part == 0 || digits[0] == 0 || digits[1] == 0)
        return false;
    *aGroup = static_cast<uint16_t>(numbers[0]);
    *aArray = static_cast<uint16_t>(numbers[1]);
    return true;
}

const uat11_name* Uat11Names__Nearest(const char* aName)
{
    if (aName == nullptr)
        return nullptr;
    const size_t size = std::strlen(aName);
    if (size > kNEAREST_MAX_LENGTH)
        return nullptr;
    const uat11_name* nearest = nullptr;
    size_t nearestDistance = 0;
    for (const uat11_name& entry : kNAMES)
    {
        const size_t entrySize = std::strlen(entry.name);
        const size_t distance = _T_distance(aName, size, entry.name, entrySize);
        if (distance * 3 > std::max(size, entrySize))
            continue;
        if (nearest == nullptr || distance < nearestDistance)
        {
            nearest = &entry;
            nearestDistance = distance;
        }
    }
    return nearest;
}

void Uat11Names__InitRead(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aArray,
                          uint16_t aValueType)
{
    const bool isFloat = aValueType == kUAT4_VALUE_F32;
    if (aGroup == kUAT11_GROUP_STATUS && isFloat)
        UatAction4__InitGetStatusF32(aSelf, aGroup, aArray);
    else if (aGroup == kUAT11_GROUP_STATUS)
        UatAction4__InitGetStatusI32(aSelf, aGroup, aArray);
    else if (isFloat)
        UatAction4__InitGetParamF32(aSelf, aGroup, aArray, 0, 0);
    else
        UatAction4__InitGetParamI32(aSelf, aGroup, aArray, 0, 0);
}

void Uat11Names__InitWrite(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aArray,
                           uint16_t aValueType, uint32_t aBits)
{
    if (aValueType == kUAT4_VALUE_F32)
        UatAction4__InitSetGetParamF32(aSelf, aGroup, aArray, Uat4__BitsToF32(aBits), 0, 0);
    else
        UatAction4__InitSetGetParamI32(aSelf, aGroup, aArray, static_cast<int32_t>(aBits), 0, 0);
}
