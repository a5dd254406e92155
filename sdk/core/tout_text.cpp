#include "tout_text.hpp"

#include <cctype>
#include <cstdlib>

namespace Orvo
{
namespace Support
{

bool TextDecodeTout(const char* aText, int* aToutMs)
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

} // namespace Support
} // namespace Orvo
