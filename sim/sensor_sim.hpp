// In-process API of the simulated sensor: a virtual UAT v4 sensor on a pseudo-terminal (or on a
// real serial device), run by a thread of its own.
#ifndef VESK11_SIM_SENSOR_SIM_HPP
#define VESK11_SIM_SENSOR_SIM_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_options.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

// Result codes the simulated sensor puts into reply message 2.
enum sim_result_t : uint8_t
{
    kRESULT_OK = 0,
    kRESULT_BAD_BATCH_CRC = 1,  // the batch checksum does not verify
    kRESULT_UNKNOWN_GROUP = 2,  // group is not 1000, 2000 or 2003
    kRESULT_UNKNOWN_ID = 3,     // identifier unknown in its group
    kRESULT_READ_ONLY = 4,      // set on a status value
    kRESULT_UNKNOWN_ACTION = 5, // action type above 4
    kRESULT_BAD_ARGUMENT = 6,   // configuration command whose argument names no known group
    kRESULT_WRONG_ACTION = 7,   // command on a value, or a get/set on a command
    kRESULT_WRONG_TYPE = 8,     // set with a value type other than the parameter's
    kRESULT_BAD_INDEX = 9,      // non-zero array dimension on a plain value
    kRESULT_FLASH_FAILED = 10,  // the flash file could not be written; neither copy changed
};

// Identifier of every reply message and the udt_index of reply messages 1 and 3.
constexpr uint16_t kSIM_REPLY_IDENT = 0x03FC;
// Status block of the unasked stream, two messages under one ident. The first: data 0x53 0x54,
// cycle counter (uint32 LE), number of replies sent (low byte), reboot count (low byte). The
// second: data 0x53 0x51, queries replaced by a newer one before their reply (uint32 LE),
// queries received (uint16 LE, low bits).
constexpr uint16_t kSIM_STATUS_IDENT = 0x0200;
constexpr uint16_t kSIM_STATUS_UDT_INDEX = 0x5453;
constexpr uint16_t kSIM_QUERIES_UDT_INDEX = 0x5153;
// Value carried by the unasked reply of the stray-reply fault.
constexpr uint32_t kSIM_STRAY_VALUE = 0xDEADBEEF;

// How many of the queries received the in-process API keeps (the first ones); later ones are
// only counted, so memory stays flat under any input.
constexpr size_t kSIM_QUERIES_KEPT = 1024;

// One query batch received in a block with a good body checksum.
struct sim_query
{
    uint16_t group = 0;
    uint16_t array = 0;
    uint8_t action_type = 0;
    uint8_t value_type = 0;
    uint32_t value = 0; // the four value bytes, low byte first, as raw bits
    uint8_t dim0 = 0;
    uint8_t dim1 = 0;
    bool batch_crc_ok = false;
    std::vector<uint8_t> frame;     // the whole received frame: header, body, body checksum
    uint64_t rx_ts_us = 0;          // get_time_us() when the frame's last byte was decoded
    uint64_t last_block_end_us = 0; // get_time_us() when the last block before it was written
};

class sensor_sim
{
  public:
    explicit sensor_sim(const sim_options& aOptions);
    ~sensor_sim(); // stops
    sensor_sim(const sensor_sim&) = delete;
    sensor_sim& operator=(const sensor_sim&) = delete;

    // Loads the flash file, creates the pty (or opens the device), makes the link and starts the
    // thread. False on failure, with the reason in error().
    bool start();
    // Idempotent: ends the thread, closes the line, removes the link, writes the flash file.
    void stop();

    const std::string& path() const; // the pty slave path (or the device path)
    const std::string& error() const;

    // The first kSIM_QUERIES_KEPT queries received.
    std::vector<sim_query> queries() const;
    // True as soon as at least aCount queries were received; false after aTimeoutMs.
    bool wait_for_queries(size_t aCount, int aTimeoutMs) const;

    // The stored 4 bytes of a value as raw bits; false if (aGroup, aArray) is unknown. Status
    // values have a single copy, returned by both.
    bool ram_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const;
    bool flash_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const;

    uint64_t blocks_sent() const;    // blocks written completely to the line
    uint64_t blocks_dropped() const; // blocks the line had no room for (a reader falling behind)

  private:
    class impl;
    std::unique_ptr<impl> impl_;
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
