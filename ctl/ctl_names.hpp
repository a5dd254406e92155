// What a name on the command line or in a document stands for: a catalogue entry by its name or
// GROUP/ID, or an identifier outside the catalogue with its type, GROUP/ID:f32 or GROUP/ID:i32.
#ifndef VESK11_CTL_CTL_NAMES_HPP
#define VESK11_CTL_CTL_NAMES_HPP

#include <cstdint>
#include <string>

#include "uat11_names.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

struct ctl_item
{
    std::string name; // the catalogue's name, or "GROUP/ID:TYPE" outside it
    uint16_t group = 0;
    uint16_t array = 0;
    uat11_kind kind = kUAT11_KIND_PARAM;
    uint16_t value_type = 0;
};

// The item aText names; false with the reason (the nearest known name suggested, where one is
// near) in *aReason otherwise. Outside the catalogue, group 2003 is a status value, 1000 a
// command, any other group a parameter.
bool ResolveItem(const std::string& aText, ctl_item* aItem, std::string* aReason);

// The item aText names, or a usage error with the reason.
ctl_item ItemOrUsageError(const std::string& aText);

// The catalogue entry as an item.
ctl_item CatalogueItem(const uat11_name& aEntry);

// "group/id" of the item, as shown beside its name.
std::string ItemId(const ctl_item& aItem);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
