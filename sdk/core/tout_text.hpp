// The time-out of a wait for the sensor, as a program's command line or environment gives it.
#ifndef VESK11_SDK_CORE_TOUT_TEXT_HPP
#define VESK11_SDK_CORE_TOUT_TEXT_HPP

namespace Orvo
{
namespace Support
{

constexpr int kTOUT_MAX_MS = 60000;

enum class tout_reading_t
{
    // As the C library's unsigned conversion reads it (blanks, a sign, digits up to the first
    // other character; none: 0), judged by the number as written, not what the conversion wraps
    // it to: "-1", "-18446744073709551615" and "4294967496" are all out of range. 0 to
    // kTOUT_MAX_MS.
    kLENIENT,
    // The whole text a whole number (blanks and a '+' around it allowed), 1 to kTOUT_MAX_MS.
    kSTRICT,
};

// True and *aToutMs set when aText is a time-out in ms as aReading reads it; false (nothing set)
// otherwise. Logs nothing.
bool TextDecodeTout(const char* aText, tout_reading_t aReading, int* aToutMs);

} // namespace Support
} // namespace Orvo

#endif
