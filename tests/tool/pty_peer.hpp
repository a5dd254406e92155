// A scripted sensor: the test itself plays the far end of a fresh pseudo-terminal, writing the
// line's bytes with the timing it needs and reading what the tool sends. For what the simulated
// sensor cannot do: oversized headers, floods, echoes, a line that vanishes mid-block.
#ifndef VESK11_TESTS_TOOL_PTY_PEER_HPP
#define VESK11_TESTS_TOOL_PTY_PEER_HPP

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "block_frame.hpp"
#include "cli_child.hpp"
#include "crc16.h"
#include "pty_pair.hpp"
#include "transport_serial_types11.h"

namespace vesk11_test
{

using bytes_t = std::vector<uint8_t>;

// The tool's frame: header, three 11-byte messages, body checksum.
constexpr size_t kQUERY_FRAME_SIZE = 47;

// A whole block around aBody, of any length up to 65535, with both checksums right.
inline bytes_t block_of(const bytes_t& aBody)
{
    uint16_t crc = kCRC16_INIT;
    for (uint8_t byte : aBody)
        Crc16__Update(byte, &crc);
    return assemble_frame(aBody.data(), aBody.size(), crc);
}

// The unasked status block of the sensor.
inline bytes_t status_block()
{
    return block_of({0x02, 0x00, 2, 0x53, 0x54});
}

// A reply block: message 2 (udt_index 0x4279) with this result and value.
inline bytes_t reply_block(uint8_t aResult, uint32_t aValue)
{
    return block_of({0x03, 0xFC, 8, 0x79, 0x42, 0x01, aResult, static_cast<uint8_t>(aValue),
                     static_cast<uint8_t>(aValue >> 8), static_cast<uint8_t>(aValue >> 16),
                     static_cast<uint8_t>(aValue >> 24)});
}

// A reply block as the sensor sends it: message 1 naming the parameter, message 2 with result
// and value, message 3 with the dimensions.
inline bytes_t full_reply_block(uint8_t aResult, uint32_t aValue, uint16_t aGroup,
                                uint16_t aArray, uint8_t aDim0 = 0, uint8_t aDim1 = 0)
{
    const auto lo = [](uint16_t aWord) { return static_cast<uint8_t>(aWord); };
    const auto hi = [](uint16_t aWord) { return static_cast<uint8_t>(aWord >> 8); };
    return block_of({0x03, 0xFC, 8, 0x78, 0x42, 0x00, 0x00, lo(aGroup), hi(aGroup), lo(aArray),
                     hi(aArray),                                            // message 1
                     0x03, 0xFC, 8, 0x79, 0x42, 0x01, aResult, static_cast<uint8_t>(aValue),
                     static_cast<uint8_t>(aValue >> 8), static_cast<uint8_t>(aValue >> 16),
                     static_cast<uint8_t>(aValue >> 24),                    // message 2
                     0x03, 0xFC, 8, 0x7A, 0x42, 0x02, 0x01, aDim0, aDim1, 0, 0}); // message 3
}

// The lines the tool prints for a reply with result 0 and an integer value below 2^23 (its
// float reading then is a tiny subnormal, printed as 0.000000).
inline std::string reply_lines(uint32_t aValue, const std::string& aFloatHex)
{
    char text[160];
    snprintf(
        text, sizeof text,
        "param_result     0 (0x0)\nparam_data_int   %u (0x%x)\nparam_data_float 0.000000 (%s)\n",
        aValue, aValue, aFloatHex.c_str());
    return text;
}

class pty_peer
{
  public:
    pty_peer() : pty_(pty_mode_t::kRAW)
    {
        fcntl(pty_.master(), F_SETFL, fcntl(pty_.master(), F_GETFL) | O_NONBLOCK);
        EXPECT_EQ(tcgetattr(pty_.slave(), &settings_), 0);
    }

    const std::string& path() const { return pty_.path(); }
    std::vector<std::string> env(const std::string& aTout) const
    {
        return {"VESK11_CLI_ENDPOINT=" + path(), "VESK11_CLI_TOUT=" + aTout};
    }

    // Writes all of aBytes in pieces of aPiece bytes, aPauseUs apart; false when the line stays
    // full (nobody reading) for 30 s.
    bool send(const bytes_t& aBytes, size_t aPiece = 0, long aPauseUs = 0)
    {
        const size_t piece = aPiece == 0 ? aBytes.size() : aPiece;
        for (size_t at = 0; at < aBytes.size();)
        {
            const size_t want = std::min(piece, aBytes.size() - at);
            size_t done = 0;
            while (done < want)
            {
                const ssize_t n = write(pty_.master(), aBytes.data() + at + done, want - done);
                if (n > 0)
                    done += static_cast<size_t>(n);
                else if (n < 0 && errno != EAGAIN)
                    return false;
                else if (!wait_master(POLLOUT, within_ms(30000)))
                    return false;
            }
            at += want;
            if (aPauseUs > 0)
                usleep(static_cast<useconds_t>(aPauseUs));
        }
        return true;
    }

    // Plays a sensor that streams status blocks every 10 ms until the tool's frame has come;
    // returns what the tool sent (empty when nothing came within aTimeoutMs).
    bytes_t await_query(long aTimeoutMs = 10000)
    {
        const auto giveUp =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms(aTimeoutMs));
        bytes_t got;
        while (got.size() < kQUERY_FRAME_SIZE && std::chrono::steady_clock::now() < giveUp)
        {
            EXPECT_TRUE(send(status_block()));
            const bytes_t more = receive(10);
            got.insert(got.end(), more.begin(), more.end());
        }
        EXPECT_EQ(got.size(), kQUERY_FRAME_SIZE);
        return got;
    }

    // What the tool sends within aWaitMs.
    bytes_t receive(long aWaitMs)
    {
        bytes_t got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(aWaitMs);
        for (long left = aWaitMs; left >= 0;)
        {
            uint8_t buffer[256];
            const ssize_t n = read(pty_.master(), buffer, sizeof buffer);
            if (n > 0)
                got.insert(got.end(), buffer, buffer + n);
            else if (!wait_master(POLLIN, left))
                break;
            left = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         until - std::chrono::steady_clock::now())
                                         .count());
        }
        return got;
    }

    // The device vanishes: the tool's side sees a hang-up.
    void close_master() { pty_.close_master(); }

    void expect_line_restored() const
    {
        termios now{};
        ASSERT_EQ(tcgetattr(pty_.slave(), &now), 0);
        expect_same_line_settings(now, settings_);
    }

  private:
    bool wait_master(short aEvents, long aTimeoutMs) const
    {
        pollfd entry{pty_.master(), aEvents, 0};
        return poll(&entry, 1, static_cast<int>(aTimeoutMs)) == 1 && (entry.revents & aEvents);
    }

    pty_pair pty_;
    termios settings_{};
};

} // namespace vesk11_test

#endif
