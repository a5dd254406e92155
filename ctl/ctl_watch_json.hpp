// What watching a line shows, as vesk11-ctl monitor shows it: each block as the JSON object of
// --json and as the text line, both made from the decoder's record of the block, and the block
// period; shared with vesk11d, whose subscribers and status get the very same.
#ifndef VESK11_CTL_CTL_WATCH_JSON_HPP
#define VESK11_CTL_CTL_WATCH_JSON_HPP

#include <string>

#include "block_record.h"
#include "ctl_line_stats.hpp"
#include "ctl_value.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// {"t_ms", "ok", "body_size", "messages": [{"ident", "size", "data"}], "frame" (with aHex)} of
// the block in aRecord (its header taken with BlockRecord__TakeHead), seen aAtMs after the
// watch began. The frame of an intact block is the frame as received; of a damaged one, the
// header and the messages (the wrong checksum is not kept).
ctl_json BlockJson(const block_record& aRecord, bool aIntact, double aAtMs, bool aHex);

// The text line of such an object: time stamp, ok or bad-checksum, body size, each message
// ident:size [data], and "frame [..]" when the object has one. Throws the JSON library's
// exception when a member is missing or of another type.
std::string BlockText(const ctl_json& aBlock);

// {"mean", "min", "max"} of the block period in ms; null when no period was measured.
ctl_json PeriodJson(const line_summary& aSummary);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
