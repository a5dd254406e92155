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

// Integers in decimal, floats with %.9g (nine digits always read back to the same float).
std::string ValueText(uint16_t aValueType, uint32_t aBits);

// The whole text a number of aValueType: an int32 in decimal, or a finite float in C syntax
// (blanks around allowed). False, *aBits untouched, otherwise.
bool ValueFromText(const std::string& aText, uint16_t aValueType, uint32_t* aBits);

ctl_json ValueJson(uint16_t aValueType, uint32_t aBits);

// A JSON number of aValueType: for an int32, an integer within its range; for a float, a finite
// number within its range, an integer only when the float holds it exactly. False with the
// reason in *aReason otherwise.
bool ValueFromJson(const ctl_json& aJson, uint16_t aValueType, uint32_t* aBits,
                   std::string* aReason);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
