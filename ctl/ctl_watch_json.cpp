#include "ctl_watch_json.hpp"

#include <algorithm>
#include <cstdio>

#include "hex_text.h"
#include "transport_serial_types11.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

std::string _T_hex(const uint8_t* aBytes, size_t aSize)
{
    char text[3 * kFRAME485_MAX_SIZE + 1];
    HexText__Format(aBytes, std::min(aSize, kFRAME485_MAX_SIZE), text);
    return text;
}

std::string _T_frame_hex(const block_record& aRecord, bool aIntact)
{
    uint8_t frame[kFRAME485_MAX_SIZE];
    size_t size = aIntact ? BlockRecord__Frame(&aRecord, frame, sizeof frame) : 0;
    if (size == 0)
    {
        std::copy(aRecord.head, aRecord.head + aRecord.head_size, frame);
        size = aRecord.head_size + std::min(aRecord.size, sizeof frame - aRecord.head_size);
        std::copy(aRecord.bytes, aRecord.bytes + (size - aRecord.head_size),
                  frame + aRecord.head_size);
    }
    return _T_hex(frame, size);
}

} // namespace

ctl_json BlockJson(const block_record& aRecord, bool aIntact, double aAtMs, bool aHex)
{
    ctl_json messages = ctl_json::array();
    size_t next = 0;
    block_record_message message{};
    while (BlockRecord__NextMessage(&aRecord, &next, &message))
        messages.push_back(ctl_json{{"ident", message.ident},
                                    {"size", message.size},
                                    {"data", _T_hex(message.data, message.size)}});
    ctl_json block{{"t_ms", aAtMs},
                   {"ok", aIntact},
                   {"body_size", BlockRecord__BodySize(&aRecord)},
                   {"messages", messages}};
    if (aHex)
        block["frame"] = _T_frame_hex(aRecord, aIntact);
    return block;
}

std::string BlockText(const ctl_json& aBlock)
{
    char at[32];
    std::snprintf(at, sizeof at, "%10.3f", aBlock.at("t_ms").get<double>());
    std::string text =
        at + std::string(aBlock.at("ok").get<bool>() ? "  ok            " : "  bad-checksum  ") +
        std::to_string(aBlock.at("body_size").get<size_t>());
    for (const ctl_json& message : aBlock.at("messages"))
    {
        char name[16];
        std::snprintf(name, sizeof name, "%04x:%zu", message.at("ident").get<unsigned>(),
                      message.at("size").get<size_t>());
        text += std::string("  ") + name + " [" + message.at("data").get<std::string>() + "]";
    }
    if (aBlock.contains("frame"))
        text += "  frame [" + aBlock.at("frame").get<std::string>() + "]";
    return text;
}

ctl_json PeriodJson(const line_summary& aSummary)
{
    if (aSummary.periods == 0)
        return nullptr;
    return ctl_json{{"mean", aSummary.mean_period_us / 1000.0},
                    {"min", static_cast<double>(aSummary.min_period_us) / 1000.0},
                    {"max", static_cast<double>(aSummary.max_period_us) / 1000.0}};
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
