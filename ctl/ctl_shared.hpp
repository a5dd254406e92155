// What several commands of vesk11-ctl share: the link settings of the options, reads of values
// and of the sensor's identity, the document of a file, the save to flash and an item's JSON.
#ifndef VESK11_CTL_CTL_SHARED_HPP
#define VESK11_CTL_CTL_SHARED_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ctl_document.hpp"
#include "ctl_link.hpp"
#include "ctl_options.hpp"
#include "ctl_output.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// The configuration commands' argument for every parameter group.
constexpr uint32_t kALL_GROUPS = 0xFFFFFFFF;

// The status values ReadIdentity reads.
constexpr std::size_t kIDENTITY_COUNT = 11;

// The link settings the options give.
link_settings LinkSettings(const ctl_options& aOptions);

// The values of aItems, read one after another, progress shown as aDone + i of aTotal.
std::vector<uint32_t> ReadValues(sensor_link& aLink, const std::vector<ctl_item>& aItems,
                                 ctl_output& aOutput, std::size_t aDone, std::size_t aTotal);
// The sensor's identity, versions joined: {"hw_serial", "hw_antenna", "firmware",
// "application", "app_variant", "app_type"}; progress shown as i of aTotal (none below 2, so
// that links on several threads may call it).
ctl_json ReadIdentity(sensor_link& aLink, ctl_output& aOutput, std::size_t aTotal);
// The document in the file aPath; throws ctl_error (66 unreadable, 65 bad document).
config_document LoadDocument(const std::string& aPath);
// Saves the whole configuration to flash (command 1000/344 for all groups).
void SaveToFlash(sensor_link& aLink);
// {"name", "group", "id"} of an item, to which a report adds its values.
ctl_json ItemJson(const ctl_item& aItem);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
