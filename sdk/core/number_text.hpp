// Numbers read strictly, for values that change a sensor: the whole text must be the number.
#ifndef VESK11_SDK_CORE_NUMBER_TEXT_HPP
#define VESK11_SDK_CORE_NUMBER_TEXT_HPP

#include <string>

namespace Orvo
{
namespace Support
{

// Blanks, an optional '+' or (when aMin < 0) '-', decimal digits, blanks, nothing else, within
// aMin..aMax. True and *aValue set when it is; false (nothing set) otherwise. Logs nothing.
bool TextToInteger(const std::string& aText, long long aMin, long long aMax, long long* aValue);

// Blanks, a number in C syntax (sign, digits, fraction, exponent, or a hexadecimal float),
// blanks, nothing else; the float must be finite. True and *aValue set when it is; false
// otherwise. "nan", "inf", "1,5", "0x" and "" are refused. Logs nothing.
bool TextToFloat(const std::string& aText, float* aValue);

} // namespace Support
} // namespace Orvo

#endif
