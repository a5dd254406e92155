#include "number_text.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace Orvo
{
namespace Support
{

namespace
{

bool _T_is_blank(char aChar)
{
    return std::isspace(static_cast<unsigned char>(aChar)) != 0;
}

// Only blanks from aAt to the end.
bool _T_rest_is_blank(const char* aAt)
{
    while (_T_is_blank(*aAt))
        ++aAt;
    return *aAt == '\0';
}

const char* _T_skip_blanks(const char* aAt)
{
    while (_T_is_blank(*aAt))
        ++aAt;
    return aAt;
}

} // namespace

bool TextToInteger(const std::string& aText, long long aMin, long long aMax, long long* aValue)
{
    const char* at = _T_skip_blanks(aText.c_str());
    const bool negative = *at == '-';
    if (*at == '+' || (negative && aMin < 0))
        ++at;
    if (!std::isdigit(static_cast<unsigned char>(*at)))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(at, &end, 10);
    if (errno == ERANGE || !_T_rest_is_blank(end))
        return false;
    // Compared as magnitudes, so that no value of the text can overflow a signed number.
    const unsigned long long limit = negative ? 0ULL - static_cast<unsigned long long>(aMin)
                                              : static_cast<unsigned long long>(aMax);
    if (magnitude > limit)
        return false;
    const long long value =
        negative ? static_cast<long long>(0ULL - magnitude) : static_cast<long long>(magnitude);
    if (value < aMin || value > aMax)
        return false;
    *aValue = value;
    return true;
}

bool TextToFloat(const std::string& aText, float* aValue)
{
    const char* start = _T_skip_blanks(aText.c_str());
    char* end = nullptr;
    const float value = std::strtof(start, &end);
    if (end == start || !_T_rest_is_blank(end) || !std::isfinite(value))
        return false;
    *aValue = value;
    return true;
}

} // namespace Support
} // namespace Orvo
