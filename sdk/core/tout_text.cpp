#include "tout_text.hpp"

#include <cctype>
#include <cstdlib>

#include "number_text.hpp"

namespace Orvo
{
namespace Support
{

namespace
{

bool _T_lenient(const char* aText, int* aToutMs)
{
    const char* sign = aText;
    while (std::isspace(static_cast<unsigned char>(*sign)))
        ++sign;
    const unsigned long value = std::strtoul(aText, nullptr, 10);
    if (value > static_cast<unsigned long>(kTOUT_MAX_MS) || (*sign == '-' && value != 0))
        return false;
    *aToutMs = static_cast<int>(value);
    return true;
}

bool _T_strict(const char* aText, int* aToutMs)
{
    long long value = 0;
    if (!TextToInteger(aText, 1, kTOUT_MAX_MS, &value))
        return false;
    *aToutMs = static_cast<int>(value);
    return true;
}

} // namespace

bool TextDecodeTout(const char* aText, tout_reading_t aReading, int* aToutMs)
{
    return aReading == tout_reading_t::kSTRICT ? _T_strict(aText, aToutMs)
                                               : _T_lenient(aText, aToutMs);
}

} // namespace Support
} // namespace Orvo
