// The blocks the simulated sensor sends: status stream, replies, and their framing.
#ifndef VESK11_SIM_SIM_FRAMES_HPP
#define VESK11_SIM_SIM_FRAMES_HPP

#include <cstdint>
#include <vector>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

// Format byte of reply message 3: one plain (scalar) value.
constexpr uint8_t kSIM_REPLY_FORMAT_SCALAR = 1;

struct reply_fields_t
{
    uint16_t group;
    uint16_t array;
    uint8_t value_type;
    uint8_t dim0;
    uint8_t dim1;
    uint8_t result;
    uint32_t value;
};

// The counters a status block carries.
struct status_fields_t
{
    uint32_t cycle;    // blocks since the last reboot
    uint32_t replies;  // replies sent
    uint32_t reboots;  // reboots done
    uint32_t replaced; // queries replaced by a newer one before their reply
    uint32_t received; // queries received
};

typedef std::vector<uint8_t> bytes_t;

// Two 11-byte status messages (22 bytes), see kSIM_STATUS_UDT_INDEX and
// kSIM_QUERIES_UDT_INDEX.
bytes_t status_body(const status_fields_t& aStatus);

// Three 11-byte reply messages (33 bytes).
bytes_t reply_body(const reply_fields_t& aReply);

// Header, body and body checksum; aBadCrc inverts the checksum.
bytes_t frame_block(const bytes_t& aBody, bool aBadCrc);

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
