// The time-out of a wait for the sensor, as a program's environment gives it.
#ifndef VESK11_SDK_CORE_TOUT_TEXT_HPP
#define VESK11_SDK_CORE_TOUT_TEXT_HPP

namespace Orvo
{
namespace Support
{

constexpr int kTOUT_MAX_MS = 60000;

// Reads aText as the C library's unsigned conversion does (blanks, a sign, digits up to the first
// other character; none: 0) but judges the number as written, not what the conversion wraps it
// to: "-1", "-18446744073709551615" and "4294967496" are all out of range. True and *aToutMs set
// for 0 to kTOUT_MAX_MS; false (nothing set) otherwise. Logs nothing.
bool TextDecodeTout(const char* aText, int* aToutMs);

} // namespace Support
} // namespace Orvo

#endif
