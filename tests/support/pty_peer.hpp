// A scripted sensor: the test itself plays the far end of a fresh pseudo-terminal, writing the
// line's bytes with the timing it needs and reading what the tool sends. For what the simulated
// sensor cannot do: oversized headers, floods, echoes, a line that vanishes mid-block.
#ifndef VESK11_TESTS_SUPPORT_PTY_PEER_HPP
#define VESK11_TESTS_SUPPORT_PTY_PEER_HPP

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
