// Values of the sensor as vesk11-ctl shows and reads them: a 32-bit integer or float kept as its
// four bytes' bits, in text for people and in JSON for machines and documents.
#ifndef VESK11_CTL_CTL_VALUE_HPP
#define VESK11_CTL_CTL_VALUE_HPP

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// JSON with keys kept in the order written and single floats: a float is written in its
// shortest text that reads back to the same bits (with ".0" when it looks whole, so that -0.0
// stays itself), and read with strtof, so it round-trips exactly.
typedef nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t,
                             std::uint64_t, float>
    ctl_json;

// Integers in decimal, finite floats with %.9g (nine digits always read back to the same float),
// the others in their non-finite form (below).
std::string ValueText(uint16_t aValueType, uint32_t aBits);

// The whole text a number of aValueType: an int32 in decimal, or a finite float in C syntax
// (blanks around allowed). False, *aBits untouched, otherwise.
bool ValueFromText(const std::string& aText, uint16_t aValueType, uint32_t* aBits);

// An int32 as a JSON integer, a finite float as a JSON number, and a float that is not finite as
// a string that keeps its very bits: "inf", "-inf", or "nan:0x" and the eight hexadecimal
// digits of its 32 bits (sign, quiet bit and payload), e.g. "nan:0x7FC00001".
ctl_json ValueJson(uint16_t aValueType, uint32_t aBits);

// A value of a document: aLiteral is the JSON number's text as written (for a number) and aJson
// the parsed value. An int32 wants an integer literal within its range. A float wants a number
// within its range that does not underflow to zero (an integer literal only when the float
// holds it exactly), or one of the non-finite forms ValueJson writes. False with the reason in
// *aReason otherwise.
bool ValueFromJson(const ctl_json& aJson, const std::string& aLiteral, uint16_t aValueType,
                   uint32_t* aBits, std::string* aReason);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
