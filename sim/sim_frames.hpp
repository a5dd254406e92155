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

typedef std::vector<uint8_t> bytes_t;

// One 11-byte status message: cycle counter, replies sent and reboots, low bytes.
bytes_t status_body(uint32_t aCycle, uint32_t aReplies, uint32_t aReboots);

// Three 11-byte reply messages (33 bytes).
bytes_t reply_body(const reply_fields_t& aReply);

// Header, body and body checksum; aBadCrc inverts the checksum.
bytes_t frame_block(const bytes_t& aBody, bool aBadCrc);

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
