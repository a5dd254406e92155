#include "ctl_value.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

constexpr uint32_t kF32_EXPONENT = 0x7F800000;
constexpr uint32_t kF32_MANTISSA = 0x007FFFFF;
constexpr uint32_t kF32_SIGN = 0x80000000;
constexpr const char* kNAN_PREFIX = "nan:0x";
constexpr size_t kNAN_DIGITS = 8;

bool _T_refuse(std::string* aReason, const char* aText)
{
    *aReason = aText;
    return false;
}

bool _T_finite(uint32_t aBits)
{
    return (aBits & kF32_EXPONENT) != kF32_EXPONENT;
}

std::string _T_non_finite_text(uint32_t aBits)
{
    if ((aBits & kF32_MANTISSA) == 0)
        return (aBits & kF32_SIGN) != 0 ? "-inf" : "inf";
    char text[32];
    std::snprintf(text, sizeof text, "%s%08" PRIX32, kNAN_PREFIX, aBits);
    return text;
}

bool _T_non_finite_from_text(const std::string& aText, uint32_t* aBits)
{
    if (aText == "inf" || aText == "-inf")
    {
        *aBits = kF32_EXPONENT | (aText[0] == '-' ? kF32_SIGN : 0);
        return true;
    }
    const size_t prefix = std::strlen(kNAN_PREFIX);
    if (aText.size() != prefix + kNAN_DIGITS || aText.compare(0, prefix, kNAN_PREFIX) != 0 ||
        aText.find_first_not_of("0123456789abcdefABCDEF", prefix) != std::string::npos)
        return false;
    const uint32_t bits = static_cast<uint32_t>(std::strtoul(aText.c_str() + prefix, nullptr, 16));
    if (_T_finite(bits) || (bits & kF32_MANTISSA) == 0)
        return false;
    *aBits = bits;
    return true;
}

bool _T_integer_syntax(const std::string& aLiteral)
{
    return aLiteral.find_first_of(".eE") == std::string::npos;
}

bool _T_integer_from_literal(const std::string& aLiteral, uint32_t* aBits, std::string* aReason)
{
    if (!_T_integer_syntax(aLiteral))
        return _T_refuse(aReason, "an integer is expected, not a fraction");
    long long value = 0;
    if (!TextToInteger(aLiteral, kI32_MIN, kI32_MAX, &value))
        return _T_refuse(aReason, "out of the range of a 32-bit integer");
    *aBits = static_cast<uint32_t>(static_cast<int32_t>(value));
    return true;
}

// The literal's nearest float, refused when it is not finite, when a literal with a non-zero
// digit became zero, and when an integer literal is not exactly the float.
bool _T_float_from_literal(const std::string& aLiteral, uint32_t* aBits, std::string* aReason)
{
    const float value = std::strtof(aLiteral.c_str(), nullptr);
    if (!std::isfinite(value))
        return _T_refuse(aReason, "out of the range of a float");
    const std::string mantissa = aLiteral.substr(0, aLiteral.find_first_of("eE"));
    if (value == 0.0F && mantissa.find_first_of("123456789") != std::string::npos)
        return _T_refuse(aReason, "too small for a float: it would become 0");
    if (_T_integer_syntax(aLiteral))
    {
        char exact[64];
        std::snprintf(exact, sizeof exact, "%.0f", static_cast<double>(value));
        if (aLiteral != exact)
            return _T_refuse(aReason, "not exactly a float");
    }
    *aBits = Uat4__F32ToBits(value);
    return true;
}

bool _T_float_from_json(const ctl_json& aJson, const std::string& aLiteral, uint32_t* aBits,
                        std::string* aReason)
{
    if (aJson.is_number())
        return _T_float_from_literal(aLiteral, aBits, aReason);
    if (aJson.is_string() && _T_non_finite_from_text(aJson.get<std::string>(), aBits))
        return true;
    return _T_refuse(aReason,
                     "a number is expected (or \"inf\", \"-inf\", \"nan:0x\" and 8 hex digits)");
}

} // namespace

std::string ValueText(uint16_t aValueType, uint32_t aBits)
{
    char text[32];
    if (aValueType == kUAT4_VALUE_F32 && !_T_finite(aBits))
        return _T_non_finite_text(aBits);
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
    if (aValueType == kUAT4_VALUE_F32 && !_T_finite(aBits))
        return ctl_json(_T_non_finite_text(aBits));
    if (aValueType == kUAT4_VALUE_F32)
        return ctl_json(Uat4__BitsToF32(aBits));
    return ctl_json(static_cast<int32_t>(aBits));
}

bool ValueFromJson(const ctl_json& aJson, const std::string& aLiteral, uint16_t aValueType,
                   uint32_t* aBits, std::string* aReason)
{
    if (aValueType == kUAT4_VALUE_F32)
        return _T_float_from_json(aJson, aLiteral, aBits, aReason);
    if (!aJson.is_number())
        return _T_refuse(aReason, "a number is expected");
    return _T_integer_from_literal(aLiteral, aBits, aReason);
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
