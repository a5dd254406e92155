#include "ctl_value.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "number_text.hpp"
#include "uat4/types.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

constexpr long long kI32_MIN = std::numeric_limits<int32_t>::min();
constexpr long long kI32_MAX = std::numeric_limits<int32_t>::max();

bool _T_refuse(std::string* aReason, const char* aText)
{
    *aReason = aText;
    return false;
}

bool _T_integer_from_json(const ctl_json& aJson, uint32_t* aBits, std::string* aReason)
{
    if (!aJson.is_number_integer())
        return _T_refuse(aReason, aJson.is_number() ? "an integer is expected, not a fraction"
                                                    : "a number is expected");
    const bool fits = aJson.is_number_unsigned()
                          ? aJson.get<uint64_t>() <= static_cast<uint64_t>(kI32_MAX)
                          : aJson.get<int64_t>() >= kI32_MIN && aJson.get<int64_t>() <= kI32_MAX;
    if (!fits)
        return _T_refuse(aReason, "out of the range of a 32-bit integer");
    *aBits = static_cast<uint32_t>(static_cast<int32_t>(aJson.get<int64_t>()));
    return true;
}

// An integer is taken for a float only when the float holds it exactly.
bool _T_float_from_json(const ctl_json& aJson, uint32_t* aBits, std::string* aReason)
{
    if (!aJson.is_number())
        return _T_refuse(aReason, "a number is expected");
    float value = 0.0F;
    if (aJson.is_number_float())
        value = aJson.get<float>();
    else if (aJson.is_number_unsigned())
    {
        const uint64_t whole = aJson.get<uint64_t>();
        value = static_cast<float>(whole);
        if (!(static_cast<double>(value) < 0x1p64) || static_cast<uint64_t>(value) != whole)
            return _T_refuse(aReason, "not exactly a float");
    }
    else
    {
        const int64_t whole = aJson.get<int64_t>();
        value = static_cast<float>(whole);
        if (!(static_cast<double>(value) < 0x1p63) || static_cast<int64_t>(value) != whole)
            return _T_refuse(aReason, "not exactly a float");
    }
    if (!std::isfinite(value))
        return _T_refuse(aReason, "out of the range of a float");
    *aBits = Uat4__F32ToBits(value);
    return true;
}

} // namespace

std::string ValueText(uint16_t aValueType, uint32_t aBits)
{
    char text[32];
    if (aValueType == kUAT4_VALUE_F32)
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(Uat4__BitsToF32(aBits)));
    else
        std::snprintf(text, sizeof text, "%" PRId32, static_cast<int32_t>(aBits));
    return text;
}

bool ValueFromText(const std::string& aText, uint16_t aValueType, uint32_t* aBits)
{
    if (aValueType == kUAT4_VALUE_F32)
    {
        float value = 0.0F;
        if (!TextToFloat(aText, &value))
            return false;
        *aBits = Uat4__F32ToBits(value);
        return true;
    }
    long long value = 0;
    if (!TextToInteger(aText, kI32_MIN, kI32_MAX, &value))
        return false;
    *aBits = static_cast<uint32_t>(static_cast<int32_t>(value));
    return true;
}

ctl_json ValueJson(uint16_t aValueType, uint32_t aBits)
{
    if (aValueType == kUAT4_VALUE_F32)
        return ctl_json(Uat4__BitsToF32(aBits));
    return ctl_json(static_cast<int32_t>(aBits));
}

bool ValueFromJson(const ctl_json& aJson, uint16_t aValueType, uint32_t* aBits,
                   std::string* aReason)
{
    return aValueType == kUAT4_VALUE_F32 ? _T_float_from_json(aJson, aBits, aReason)
                                         : _T_integer_from_json(aJson, aBits, aReason);
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
