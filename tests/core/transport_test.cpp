#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "crc16.h"
#include "log_capture.hpp"
#include "pty_pair.hpp"
#include "transport_serial11.h"
#include "transport_serial_types11.h"

namespace
{

using bytes_t = std::vector<uint8_t>;
using vesk11_test::log_capture;

constexpr int kWAIT_MS = 10000;

// The reboot batch, and the frame the tool sends it in: header and trailer given byte for byte.
const bytes_t kREBOOT_BODY = {0x03, 0xFB, 0x08, 0xE8, 0x03, 0x00, 0x04, 0xFF, 0x01, 0x63, 0xA7,
                              0x03, 0xFB, 0x08, 0xE8, 0x03, 0x01, 0x00, 0x56, 0x01, 0x00, 0x00,
                              0x03, 0xFB, 0x08, 0xE8, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
const bytes_t kREBOOT_HEAD = {0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0x76};
const bytes_t kREBOOT_TRAILER = {0x55, 0x7B};

bytes_t reboot_frame()
{
    bytes_t out = kREBOOT_HEAD;
    out.insert(out.end(), kREBOOT_BODY.begin(), kREBOOT_BODY.end());
    out.insert(out.end(), kREBOOT_TRAILER.begin(), kREBOOT_TRAILER.end());
    return out;
}

// An empty body: the header announces 0 bytes and the trailer is the checksum's start value.
bytes_t empty_frame()
{
    bytes_t out = {0x7E, 0x01, 0x0C, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00};
    uint16_t crc = Crc16__Update2(out.data(), static_cast<uint8_t>(out.size()), kCRC16_INIT);
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    out.push_back(0xFF);
    out.push_back(0xFF);
    return out;
}

bool wait_readable(int aFd)
{
    struct pollfd readable = {aFd, POLLIN, 0};
    return poll(&readable, 1, kWAIT_MS) == 1;
}

bytes_t read_exactly(int aFd, size_t aCount)
{
    bytes_t out;
    uint8_t buffer[512];
    while (out.size() < aCount && wait_readable(aFd))
    {
        ssize_t n = read(aFd, buffer, std::min(sizeof buffer, aCount - out.size()));
        if (n <= 0)
            break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

struct event
{
    uint8_t stat;
    uint16_t ident;
    uint8_t size;
};

class transport : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty_.is_open());
        pty_.path().copy(args_.endpoint_path, sizeof args_.endpoint_path - 1);
        ASSERT_EQ(Transport__InitCom(&transport_, &args_, handler, this), 0);
    }

    void TearDown() override
    {
        Transport__Close(&transport_);
        Transport__Deinit(&transport_);
    }

    static void handler(void* aUserData, uint64_t, uint8_t aStat, uint16_t aMsgIdent, void*,
                        uint8_t aMsgPayloadSize)
    {
        transport* self = static_cast<transport*>(aUserData);
        self->events_.push_back({aStat, aMsgIdent, aMsgPayloadSize});
        if (aStat == kBLOCKDECODER11_STAT_FINI_OK && self->reply_from_handler_)
        {
            struct iovec empty = {nullptr, 0};
            EXPECT_EQ(Transport__Tx(&self->transport_, &empty, 1), 14);
        }
    }

    int tx(const bytes_t& aBody)
    {
        struct iovec body = {const_cast<uint8_t*>(aBody.data()), aBody.size()};
        return Transport__Tx(&transport_, &body, 1);
    }

    void write_master(const bytes_t& aBytes)
    {
        ASSERT_EQ(write(pty_.master(), aBytes.data(), aBytes.size()),
                  static_cast<ssize_t>(aBytes.size()));
    }

    // Reads from the link until the handler has seen aCount events.
    void rx_until(size_t aCount)
    {
        const int fd = Transport__GetLinkHandle(&transport_);
        while (events_.size() < aCount)
        {
            ASSERT_TRUE(wait_readable(fd)) << events_.size() << " events";
            ASSERT_GT(Transport__Rx(&transport_), 0);
        }
    }

    void expect_reboot_events(size_t aFrom = 0)
    {
        ASSERT_EQ(events_.size(), aFrom + 5);
        EXPECT_EQ(events_[aFrom].stat, kBLOCKDECODER11_STAT_INIT);
        for (size_t i = aFrom + 1; i < aFrom + 4; ++i)
        {
            EXPECT_EQ(events_[i].stat, kBLOCKDECODER11_STAT_MSG);
            EXPECT_EQ(events_[i].ident, 0x03FB);
            EXPECT_EQ(events_[i].size, 8);
        }
        EXPECT_EQ(events_[aFrom + 4].stat, kBLOCKDECODER11_STAT_FINI_OK);
    }

    vesk11_test::pty_pair pty_;
    com_transport_args args_{};
    transport_t transport_{};
    std::vector<event> events_;
    bool reply_from_handler_ = false;
};

TEST(block485, encoders_give_the_known_header_and_trailer)
{
    vesk11_head485 head;
    Block485__EncodeHead(&head, 33);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&head);
    EXPECT_EQ(bytes_t(bytes, bytes + sizeof head), kREBOOT_HEAD);
    uint8_t trailer[2];
    Block485__EncodeTrailer(trailer, kREBOOT_BODY.data(), 33);
    EXPECT_EQ(bytes_t(trailer, trailer + 2), kREBOOT_TRAILER);
}

// The frame encoder gives the worked frames, into a buffer or as the three pieces of a gathered
// write, and refuses a buffer too small for the whole frame.
TEST(block485, frame_encoder_gives_the_known_frames)
{
    struct frame_case
    {
        const char* name;
        bytes_t body;
        bytes_t frame;
    };
    const frame_case cases[] = {
        {"reboot batch", kREBOOT_BODY, reboot_frame()},
        {"empty body", {}, empty_frame()},
    };
    for (const frame_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        const uint8_t size = static_cast<uint8_t>(aCase.body.size());
        bytes_t out(aCase.frame.size() + 1, 0xEE);
        EXPECT_EQ(Block485__EncodeFrame(out.data(), out.size(), aCase.body.data(), size),
                  aCase.frame.size());
        EXPECT_EQ(bytes_t(out.begin(), out.end() - 1), aCase.frame);
        EXPECT_EQ(out.back(), 0xEE);
        EXPECT_EQ(Block485__EncodeFrame(out.data(), aCase.frame.size() - 1, aCase.body.data(),
                                        size),
                  0u);

        block485_frame_parts parts;
        struct iovec pieces[3];
        ASSERT_EQ(Block485__EncodeFramePieces(&parts, aCase.body.data(), size, pieces),
                  aCase.frame.size());
        bytes_t gathered;
        for (const iovec& piece : pieces)
            gathered.insert(gathered.end(), static_cast<const uint8_t*>(piece.iov_base),
                            static_cast<const uint8_t*>(piece.iov_base) + piece.iov_len);
        EXPECT_EQ(gathered, aCase.frame);
        EXPECT_EQ(pieces[1].iov_base, aCase.body.data()); // the body is not copied
    }
}

TEST_F(transport, body_leaves_as_one_frame_byte_for_byte)
{
    log_capture capture;
    ASSERT_EQ(Transport__Open(&transport_), 0);
    EXPECT_EQ(tx(kREBOOT_BODY), 47);
    EXPECT_EQ(read_exactly(pty_.master(), 47), reboot_frame());
    EXPECT_TRUE(capture.has(4, "_T_tx_block485", "done"));
}

// Output stopped as by flow control: nothing leaves, the frame is kept, and Transport__TxRest
// writes it once the line drains.
TEST_F(transport, a_stalled_frame_is_finished_by_tx_rest)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    const int fd = Transport__GetLinkHandle(&transport_);
    transport_tx_progress progress{};
    ASSERT_EQ(Transport__TxRest(&transport_, &progress), 0);
    EXPECT_EQ(progress.size, 0u) << "nothing sent yet";
    ASSERT_EQ(tcflow(fd, TCOOFF), 0);
    EXPECT_EQ(tx(kREBOOT_BODY), 0);
    ASSERT_EQ(Transport__TxRest(&transport_, &progress), 0);
    EXPECT_EQ(progress.written, 0u);
    EXPECT_EQ(bytes_t(progress.frame, progress.frame + progress.size), reboot_frame());
    short revents = 0;
    const timespec now{0, 0};
    EXPECT_EQ(Transport__Wait(&transport_, POLLOUT, &now, nullptr, &revents), 0);
    ASSERT_EQ(tcflow(fd, TCOON), 0);
    const timespec wait{kWAIT_MS / 1000, 0};
    ASSERT_EQ(Transport__Wait(&transport_, POLLOUT, &wait, nullptr, &revents), 1);
    EXPECT_NE(revents & POLLOUT, 0);
    ASSERT_EQ(Transport__TxRest(&transport_, &progress), 0);
    EXPECT_EQ(progress.written, progress.size);
    EXPECT_EQ(read_exactly(pty_.master(), 47), reboot_frame());
}

TEST_F(transport, empty_body_leaves_as_fourteen_bytes)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    struct iovec empty = {nullptr, 0};
    EXPECT_EQ(Transport__Tx(&transport_, &empty, 1), 14);
    EXPECT_EQ(read_exactly(pty_.master(), 14), empty_frame());
}

TEST_F(transport, longest_body_is_accepted)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    bytes_t body(kBODY485_MAX_SIZE, 0xA5);
    EXPECT_EQ(tx(body), 12 + 255 + 2);
    bytes_t got = read_exactly(pty_.master(), 12 + 255 + 2);
    ASSERT_EQ(got.size(), 269u);
    EXPECT_EQ(got[3], 0x00);
    EXPECT_EQ(got[4], 0xFF);
}

TEST_F(transport, bad_buffer_lists_are_refused_and_nothing_is_written)
{
    log_capture capture;
    ASSERT_EQ(Transport__Open(&transport_), 0);
    bytes_t body(8, 0x11);
    struct iovec two[2] = {{body.data(), 4}, {body.data() + 4, 4}};
    EXPECT_EQ(Transport__Tx(&transport_, two, 2), -1);
    EXPECT_EQ(Transport__Tx(&transport_, two, 0), -1);
    EXPECT_EQ(tx(bytes_t(kBODY485_MAX_SIZE + 1, 0x22)), -1);
    EXPECT_TRUE(capture.has(1, "_T_tx_block485", "fail: bad buffer list (count:2, expected:1)"));
    EXPECT_TRUE(capture.has(1, "_T_tx_block485", "fail: bad buffer list (count:0, expected:1)"));
    EXPECT_TRUE(capture.has(1, "_T_tx_block485", "fail: body too long (size:256, max:255)"))
        << capture.dump();
    // The first bytes on the line are those of the next good frame.
    struct iovec empty = {nullptr, 0};
    ASSERT_EQ(Transport__Tx(&transport_, &empty, 1), 14);
    EXPECT_EQ(read_exactly(pty_.master(), 14), empty_frame());
}

TEST_F(transport, write_on_a_closed_link_fails_and_is_logged)
{
    log_capture capture;
    EXPECT_EQ(tx(kREBOOT_BODY), -1);
    EXPECT_TRUE(capture.has(1, "_T_tx_block485", std::string("fail: writev (") +
                                                     std::strerror(EBADF) + ")"))
        << capture.dump();
    EXPECT_TRUE(capture.has(4, "_T_tx_block485", "done"));
}

TEST_F(transport, bytes_from_the_line_reach_the_handler)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    write_master(reboot_frame());
    rx_until(5);
    expect_reboot_events();
}

TEST_F(transport, frame_split_across_many_reads)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    const int fd = Transport__GetLinkHandle(&transport_);
    const bytes_t frame = reboot_frame();
    for (size_t at = 0; at < frame.size(); ++at)
    {
        write_master({frame[at]});
        ASSERT_TRUE(wait_readable(fd));
        ASSERT_EQ(Transport__Rx(&transport_), 1);
        if (at < 11)
        {
            ASSERT_TRUE(events_.empty()) << at;
        }
    }
    expect_reboot_events();
}

TEST_F(transport, handler_may_send_from_inside_rx)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    reply_from_handler_ = true;
    write_master(reboot_frame());
    rx_until(5);
    EXPECT_EQ(read_exactly(pty_.master(), 14), empty_frame());
}

TEST_F(transport, reopen_drops_a_partial_frame)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    const bytes_t frame = reboot_frame();
    write_master(bytes_t(frame.begin(), frame.begin() + 5));
    ASSERT_TRUE(wait_readable(Transport__GetLinkHandle(&transport_)));
    ASSERT_EQ(Transport__Rx(&transport_), 5);
    ASSERT_EQ(Transport__Close(&transport_), 0);
    EXPECT_EQ(Transport__GetLinkHandle(&transport_), -1);
    ASSERT_EQ(Transport__Open(&transport_), 0);
    write_master(frame);
    rx_until(5);
    expect_reboot_events();
}

// A hung-up pseudo-terminal reads as end of file (or EIO on some kernels).
TEST_F(transport, hung_up_line_ends_without_events)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    write_master(bytes_t(kREBOOT_HEAD.begin(), kREBOOT_HEAD.begin() + 6));
    pty_.close_master();
    const int fd = Transport__GetLinkHandle(&transport_);
    int result = 0;
    while ((result = Transport__Rx(&transport_)) > 0)
        ASSERT_TRUE(wait_readable(fd));
    EXPECT_TRUE(result == 0 || (result == -1 && errno == EIO)) << result;
    EXPECT_TRUE(events_.empty());
}

// The caller's thread state in /proc: the first field is the number of the system call it is in.
bool in_read_call(pid_t aTid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(aTid) + "/syscall");
    long number = -1;
    return (in >> number) && number == SYS_read;
}

std::atomic<int> g_signals{0};

void count_signal(int) { ++g_signals; }

TEST_F(transport, read_interrupted_by_signal_is_retried)
{
    ASSERT_EQ(Transport__Open(&transport_), 0);
    // The device is opened non-blocking; only a blocking read can be interrupted.
    const int link = Transport__GetLinkHandle(&transport_);
    ASSERT_EQ(fcntl(link, F_SETFL, fcntl(link, F_GETFL) & ~O_NONBLOCK), 0);
    g_signals = 0;
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = count_signal; // no SA_RESTART: the blocked read returns EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    const pthread_t self = pthread_self();
    const bytes_t frame = reboot_frame();
    std::thread peer([&] {
        auto wait_for = [](auto aCondition) {
            for (int i = 0; i < kWAIT_MS && !aCondition(); ++i)
                usleep(1000);
        };
        wait_for([&] { return in_read_call(tid); });
        pthread_kill(self, SIGUSR1);
        wait_for([&] { return g_signals > 0 && in_read_call(tid); });
        EXPECT_EQ(write(pty_.master(), frame.data(), frame.size()), ssize_t(frame.size()));
    });
    const int result = Transport__Rx(&transport_);
    peer.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(g_signals, 1);
    EXPECT_GT(result, 0);
    rx_until(5);
    expect_reboot_events();
}

TEST(transport_handle, deinit_releases_once_and_empties_the_handle)
{
    transport_t handle{};
    Transport__Deinit(&handle); // empty handle: nothing to do
    com_transport_args args{};
    std::strcpy(args.endpoint_path, "/dev/null");
    ASSERT_EQ(Transport__InitCom(&handle, &args, nullptr, nullptr), 0);
    EXPECT_NE(handle.self, nullptr);
    Transport__Deinit(&handle);
    EXPECT_EQ(handle.self, nullptr);
    Transport__Deinit(&handle);
    EXPECT_EQ(handle.self, nullptr);
}

TEST(transport_handle, failed_creation_leaves_the_handle_untouched)
{
    log_capture capture;
    transport_t handle{};
    int marker = 0;
    handle.self = &marker;
    com_transport_args args;
    std::memset(args.endpoint_path, 'x', sizeof args.endpoint_path);
    EXPECT_EQ(Transport__InitCom(&handle, &args, nullptr, nullptr), -1);
    EXPECT_EQ(handle.self, &marker);
    EXPECT_EQ(handle.vtable.open, nullptr);
    EXPECT_TRUE(capture.has(1, "Transport__InitCom", "fail: ComTransport__Create"));
}

} // namespace
