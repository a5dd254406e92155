// The sensor's line as the daemon holds it: the device opened as every tool of ours opens it,
// its byte stream cut into blocks exactly as they came, and queries sent only in the line's
// sending window, never before an intact block was seen since the device was opened.
#ifndef VESK11_VESK11D_SENSOR_LINE_HPP
#define VESK11_VESK11D_SENSOR_LINE_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "block_decoder11.h"
#include "block_record.h"
#include "daemon_stats.hpp"
#include "transport_serial.h"
#include "transport_serial_types11.h"
#include "uat4/types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

class sensor_line
{
  public:
    // Called with every whole block as received (header, body, checksum), intact or damaged;
    // aReply tells an intact block that carries a reply.
    using block_fn = std::function<void(const uint8_t* aBlock, size_t aSize, bool aReply)>;

    sensor_line(const com_transport_args& aArgs, block_fn aOnBlock);
    ~sensor_line();
    sensor_line(const sensor_line&) = delete;
    sensor_line& operator=(const sensor_line&) = delete;

    // Opens and sets up the device: 0, or a kCOM_OPEN_ code with errno as it says.
    int open();
    // Restores the line and closes the device; the window and partial frames go with it.
    void close();

    bool is_open() const { return stats_.open; }
    int fd() const;
    short events() const;
    // Serves what a wait reported. False when the device is lost (it is then closed).
    bool serve(short aRevents);
    // Whether a query may go out now: an intact block seen since opening, its window still open,
    // no query of ours since, nothing left to write, and the last query answered or given up
    // (the sensor holds one query at a time: a second one would replace the first unanswered).
    bool can_send() const;
    // Sends one query batch; false when the write failed (the device is then closed).
    bool send(const uint8_t* aBatch);

    const line_stats& stats() const { return stats_; }

  private:
    static void handle_event(void* aSelf, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                             void* aMsgPayloadData, uint8_t aMsgPayloadSize);
    void end_block(bool aIntact);
    void take_intact();
    bool read_line();
    bool write_rest();
    void lose();

    void* port_ = nullptr;
    block_fn on_block_;
    block_decoder11_t decoder_{};
    block_record record_{};
    // The stream as read, kept in a ring so a block can be copied as it came.
    std::vector<uint8_t> ring_;
    uint64_t fed_ = 0;
    uint64_t block_start_ = 0;
    std::vector<uint8_t> block_;
    bool intact_seen_ = false;
    bool window_open_ = false;
    int64_t window_us_ = 0;
    uint8_t sent_[kUAT4_BATCH_SIZE] = {};
    bool echo_possible_ = false;
    bool awaiting_reply_ = false;
    bool reply_ = false; // the block ending is an intact reply
    unsigned blocks_since_query_ = 0;
    uint8_t frame_[kFRAME485_MAX_SIZE] = {};
    size_t frame_size_ = 0;
    size_t frame_written_ = 0;
    line_stats stats_{};
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
