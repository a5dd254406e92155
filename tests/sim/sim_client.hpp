// The tool's side of a simulated sensor's line, for the simulator's tests: sends query batches
// built by the project's encoders and decodes what arrives with the project's block decoder.
#ifndef VESK11_TESTS_SIM_SIM_CLIENT_HPP
#define VESK11_TESTS_SIM_SIM_CLIENT_HPP

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "block_decoder11.h"
#include "block_frame.hpp"
#include "time_allowance.hpp"
#include "timeu64.h"
#include "uat4/uat4.h"

namespace vesk11_sim_test
{

typedef std::vector<uint8_t> bytes_t;

struct rx_message
{
    uint16_t ident;
    bytes_t data;
};

struct rx_block
{
    std::vector<rx_message> messages;
    bool crc_ok = false;
    uint64_t end_us = 0; // when the client decoded its last byte
};

// A reply batch as the simulator lays it out: three messages, the middle one 0x79 0x42.
struct rx_reply
{
    uint16_t ident = 0;
    uint16_t msg1_udt = 0;
    uint16_t msg3_udt = 0;
    uint8_t value_type = 0;
    uint16_t group = 0;
    uint16_t array = 0;
    uint8_t result = 0;
    uint32_t value = 0;
    uint8_t format = 0;
    uint8_t dim0 = 0;
    uint8_t dim1 = 0;
};

inline bool is_reply_msg2(const rx_message& aMessage)
{
    return aMessage.data.size() >= 2 && aMessage.data[0] == 0x79 && aMessage.data[1] == 0x42;
}

inline bool has_reply(const rx_block& aBlock)
{
    for (const rx_message& message : aBlock.messages)
    {
        if (is_reply_msg2(message))
            return true;
    }
    return false;
}

inline rx_reply parse_reply(const rx_block& aBlock)
{
    rx_reply reply;
    EXPECT_EQ(aBlock.messages.size(), 3u);
    if (aBlock.messages.size() != 3)
        return reply;
    const bytes_t& m1 = aBlock.messages[0].data;
    const bytes_t& m2 = aBlock.messages[1].data;
    const bytes_t& m3 = aBlock.messages[2].data;
    EXPECT_EQ(m1.size(), 8u);
    EXPECT_EQ(m2.size(), 8u);
    EXPECT_EQ(m3.size(), 8u);
    reply.ident = aBlock.messages[1].ident;
    reply.msg1_udt = Uat4__GetU16le(&m1[0]);
    reply.value_type = m1[3];
    reply.group = Uat4__GetU16le(&m1[4]);
    reply.array = Uat4__GetU16le(&m1[6]);
    reply.result = m2[3];
    reply.value = Uat4__GetU32le(&m2[4]);
    reply.msg3_udt = Uat4__GetU16le(&m3[0]);
    reply.format = m3[3];
    reply.dim0 = m3[4];
    reply.dim1 = m3[5];
    return reply;
}

using vesk11_test::frame_of;

inline bytes_t query_frame(const uat4_action_t& aAction)
{
    uat4_query_batch batch{};
    UatAction4__EncodeQueryBatch(&batch, &aAction);
    return frame_of(&batch, sizeof batch);
}

class sim_client
{
  public:
    explicit sim_client(const std::string& aPath)
    {
        fd_ = open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << aPath;
        EXPECT_TRUE(BlockDecoder11__Init(&decoder_, &sim_client::handleEvent, this));
    }
    // Takes over an open descriptor, such as the far end of a serial "cable".
    explicit sim_client(int aFd) : fd_(aFd)
    {
        EXPECT_TRUE(BlockDecoder11__Init(&decoder_, &sim_client::handleEvent, this));
    }
    ~sim_client()
    {
        BlockDecoder11__Deinit(&decoder_);
        if (fd_ >= 0)
            close(fd_);
    }
    sim_client(const sim_client&) = delete;
    sim_client& operator=(const sim_client&) = delete;

    int fd() const { return fd_; }

    // All of aBytes, however much the line takes at a time.
    void send(const bytes_t& aBytes)
    {
        size_t done = 0;
        while (done < aBytes.size())
        {
            pollfd entry{fd_, POLLOUT, 0};
            ASSERT_EQ(poll(&entry, 1, static_cast<int>(vesk11_test::within_ms(5000))), 1)
                << "the line stopped taking bytes";
            ssize_t n = write(fd_, aBytes.data() + done, aBytes.size() - done);
            ASSERT_TRUE(n > 0 || (n < 0 && errno == EAGAIN)) << strerror(errno);
            done += n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    void send_action(const uat4_action_t& aAction) { send(query_frame(aAction)); }

    // Reads and decodes until aDone holds (checked after every read) or aTimeoutMs passes.
    bool read_until(const std::function<bool()>& aDone, int aTimeoutMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
        while (!aDone())
        {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0 || !read_once(static_cast<int>(left)))
                return aDone();
        }
        return true;
    }
    // Reads for the whole of aMs.
    void read_for(int aMs)
    {
        read_until([] { return false; }, aMs);
    }
    bool wait_blocks(size_t aCount, int aTimeoutMs)
    {
        return read_until([&] { return blocks.size() >= aCount; }, aTimeoutMs);
    }
    // Index of the first block from aFrom on that carries a reply; -1 if none yet.
    long reply_index(size_t aFrom = 0) const
    {
        for (size_t i = aFrom; i < blocks.size(); ++i)
        {
            if (has_reply(blocks[i]))
                return static_cast<long>(i);
        }
        return -1;
    }
    bool wait_reply(size_t aFrom, int aTimeoutMs)
    {
        return read_until([&] { return reply_index(aFrom) >= 0; }, aTimeoutMs);
    }
    // Sends the action and returns the reply that answers it, passing over replies about other
    // parameters (to earlier queries still under way); fails the test if none comes.
    rx_reply exchange(const uat4_action_t& aAction, int aTimeoutMs = 5000)
    {
        size_t from = blocks.size();
        send_action(aAction);
        while (wait_reply(from, aTimeoutMs))
        {
            const size_t at = static_cast<size_t>(reply_index(from));
            const rx_reply reply = parse_reply(blocks[at]);
            if (reply.group == aAction.param.group && reply.array == aAction.param.array)
                return reply;
            from = at + 1;
        }
        ADD_FAILURE() << "no reply";
        return rx_reply{};
    }

    std::vector<rx_block> blocks;
    bytes_t raw;
    size_t reads = 0;
    bool hung_up = false;

    static void handleEvent(void* aUserData, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                            void* aMsgPayloadData, uint8_t aMsgPayloadSize)
    {
        (void)aBlockTs;
        sim_client* self = static_cast<sim_client*>(aUserData);
        const uint8_t* data = static_cast<const uint8_t*>(aMsgPayloadData);
        switch (aStat)
        {
        case kBLOCKDECODER11_STAT_INIT:
            self->current_ = rx_block{};
            break;
        case kBLOCKDECODER11_STAT_MSG:
            self->current_.messages.push_back({aMsgIdent, bytes_t(data, data + aMsgPayloadSize)});
            break;
        default:
            self->current_.crc_ok = aStat == kBLOCKDECODER11_STAT_FINI_OK;
            self->current_.end_us = get_time_us();
            self->blocks.push_back(self->current_);
            break;
        }
    }

  private:
    // One poll and one read; false on time-out or when the line is gone.
    bool read_once(int aTimeoutMs)
    {
        pollfd entry{fd_, POLLIN, 0};
        int ready = poll(&entry, 1, aTimeoutMs);
        if (ready <= 0)
            return false;
        uint8_t buffer[256];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN)
            return true;
        if (n <= 0)
        {
            hung_up = true;
            return false;
        }
        ++reads;
        raw.insert(raw.end(), buffer, buffer + n);
        BlockDecoder11__AddBuffer(&decoder_, buffer, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    block_decoder11_t decoder_{};
    rx_block current_;
};

} // namespace vesk11_sim_test

#endif
