#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "log_capture.hpp"
#include "pty_pair.hpp"
#include "transport_serial.h"

// Fault injection for the read-back check: a pseudo-terminal keeps every setting it is given, so
// a driver that ignores one of them is imitated here. When armed, the next tcsetattr applies the
// settings without CLOCAL and still reports success, as the call does when any change took effect.
namespace
{
bool g_drop_clocal_once = false;
} // namespace

extern "C" int tcsetattr(int aFd, int aActions, const struct termios* aTermios)
{
    using tcsetattr_fn = int (*)(int, int, const struct termios*);
    static tcsetattr_fn real = reinterpret_cast<tcsetattr_fn>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (!g_drop_clocal_once)
        return real(aFd, aActions, aTermios);
    g_drop_clocal_once = false;
    struct termios partial = *aTermios;
    partial.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    return real(aFd, aActions, &partial);
}

namespace
{

using vesk11_test::log_capture;

// A pseudo-terminal pair whose slave starts in a cooked, echoing 9600-baud state, so that both
// the raw settings and their restoration can be told apart.
class serial_port : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty_.is_open());
        struct termios tio
        {
        };
        ASSERT_EQ(tcgetattr(pty_.slave(), &tio), 0);
        tio.c_lflag |= ICANON | ECHO | ISIG;
        tio.c_iflag |= ICRNL | IXON;
        tio.c_oflag |= OPOST | ONLCR;
        tio.c_cc[VMIN] = 4;
        tio.c_cc[VTIME] = 7;
        cfsetospeed(&tio, B9600);
        cfsetispeed(&tio, B9600);
        ASSERT_EQ(tcsetattr(pty_.slave(), TCSANOW, &tio), 0);
        ASSERT_EQ(tcgetattr(pty_.slave(), &earlier_), 0);
    }

    void TearDown() override
    {
        for (void* port : ports_)
        {
            ComTransport__Close(port);
            ComTransport__Destroy(port);
        }
    }

    void* create(const std::string& aPath)
    {
        com_transport_args args{};
        aPath.copy(args.endpoint_path, sizeof args.endpoint_path - 1);
        void* port = nullptr;
        EXPECT_EQ(ComTransport__Create(&port, &args), 0);
        if (port != nullptr)
            ports_.push_back(port);
        return port;
    }

    struct termios current() const
    {
        struct termios tio
        {
        };
        EXPECT_EQ(tcgetattr(pty_.slave(), &tio), 0);
        return tio;
    }

    void expect_earlier_settings() const
    {
        struct termios now = current();
        EXPECT_EQ(now.c_iflag, earlier_.c_iflag);
        EXPECT_EQ(now.c_oflag, earlier_.c_oflag);
        EXPECT_EQ(now.c_cflag, earlier_.c_cflag);
        EXPECT_EQ(now.c_lflag, earlier_.c_lflag);
        EXPECT_EQ(cfgetispeed(&now), B9600);
        EXPECT_EQ(cfgetospeed(&now), B9600);
        EXPECT_EQ(now.c_cc[VMIN], 4);
        EXPECT_EQ(now.c_cc[VTIME], 7);
    }

    void expect_raw_settings() const
    {
        struct termios now = current();
        EXPECT_EQ(now.c_iflag, 0u);
        EXPECT_EQ(now.c_oflag, 0u);
        EXPECT_EQ(now.c_lflag, 0u);
        EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(now.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(now.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
        EXPECT_EQ(cfgetispeed(&now), B115200);
        EXPECT_EQ(cfgetospeed(&now), B115200);
        EXPECT_EQ(now.c_cc[VMIN], 1);
        EXPECT_EQ(now.c_cc[VTIME], 0);
    }

    // A byte written on the device comes out of the master unchanged.
    void expect_working(void* aPort) const
    {
        const char byte = '\n';
        ASSERT_EQ(write(ComTransport__GetLinkHandle(aPort), &byte, 1), 1);
        struct pollfd readable = {pty_.master(), POLLIN, 0};
        ASSERT_EQ(poll(&readable, 1, 10000), 1);
        char got[2] = {};
        ASSERT_EQ(read(pty_.master(), got, sizeof got), 1);
        EXPECT_EQ(got[0], '\n'); // no output processing: not turned into CR LF
    }

    vesk11_test::pty_pair pty_;
    struct termios earlier_
    {
    };
    std::vector<void*> ports_;
};

TEST_F(serial_port, open_sets_raw_eight_none_one_at115200)
{
    log_capture capture;
    void* port = create(pty_.path());
    ASSERT_EQ(ComTransport__Open(port), 0) << capture.dump();
    const int fd = ComTransport__GetLinkHandle(port);
    ASSERT_GE(fd, 0);
    EXPECT_NE(fd, pty_.slave());
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    expect_raw_settings();
    expect_working(port);
    EXPECT_TRUE(capture.has(4, "ComTransport__Open", "exec"));
    EXPECT_TRUE(capture.has(4, "ComTransport__Open", "done"));
}

TEST_F(serial_port, close_restores_earlier_settings_and_reopens)
{
    log_capture capture;
    void* port = create(pty_.path());
    for (int round = 0; round < 2; ++round)
    {
        ASSERT_EQ(ComTransport__Open(port), 0) << capture.dump();
        expect_raw_settings();
        EXPECT_EQ(ComTransport__Close(port), 0);
        EXPECT_EQ(ComTransport__GetLinkHandle(port), -1);
        expect_earlier_settings();
    }
    EXPECT_TRUE(capture.has(3, "ComTransport__Close", "done"));
}

TEST_F(serial_port, close_when_not_open_succeeds)
{
    log_capture capture;
    void* port = create(pty_.path());
    EXPECT_EQ(ComTransport__Close(port), 0);
    EXPECT_EQ(ComTransport__GetLinkHandle(port), -1);
    EXPECT_TRUE(capture.has(3, "ComTransport__Close", "done"));
    expect_earlier_settings();
}

TEST_F(serial_port, second_open_is_refused_and_first_descriptor_keeps_working)
{
    log_capture capture;
    void* port = create(pty_.path());
    ASSERT_EQ(ComTransport__Open(port), 0);
    const int fd = ComTransport__GetLinkHandle(port);
    EXPECT_EQ(ComTransport__Open(port), -1);
    EXPECT_TRUE(capture.has(1, "ComTransport__Open", "fail: already opened")) << capture.dump();
    EXPECT_EQ(ComTransport__GetLinkHandle(port), fd);
    expect_raw_settings();
    expect_working(port);
}

TEST_F(serial_port, missing_path_fails_and_a_later_open_is_allowed)
{
    log_capture capture;
    char dir[] = "/tmp/vesk11-serial-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/ttyLINK";
    void* port = create(link);
    EXPECT_EQ(ComTransport__Open(port), -1);
    EXPECT_EQ(ComTransport__GetLinkHandle(port), -1);
    EXPECT_TRUE(capture.has(1, "ComTransport__Open",
                            "failed to open " + link + " (" + std::strerror(ENOENT) + ")"))
        << capture.dump();
    ASSERT_EQ(symlink(pty_.path().c_str(), link.c_str()), 0);
    EXPECT_EQ(ComTransport__Open(port), 0) << capture.dump();
    expect_raw_settings();
    unlink(link.c_str());
    rmdir(dir);
}

TEST_F(serial_port, non_terminal_is_refused_and_closed)
{
    log_capture capture;
    void* port = create("/dev/null");
    EXPECT_EQ(ComTransport__Open(port), -1);
    EXPECT_EQ(ComTransport__GetLinkHandle(port), -1);
    EXPECT_TRUE(capture.has(1, "ComTransport__Open",
                            std::string("failed to get attributes of /dev/null (") +
                                std::strerror(ENOTTY) + ")"))
        << capture.dump();
}

TEST_F(serial_port, path_of127_characters_is_the_longest_accepted)
{
    log_capture capture;
    com_transport_args args{};
    std::memset(args.endpoint_path, 'a', 127);
    void* port = nullptr;
    ASSERT_EQ(ComTransport__Create(&port, &args), 0);
    ASSERT_NE(port, nullptr);
    ports_.push_back(port);

    std::memset(args.endpoint_path, 'a', sizeof args.endpoint_path); // no room left for the NUL
    void* refused = &args;
    EXPECT_EQ(ComTransport__Create(&refused, &args), -1);
    EXPECT_EQ(refused, &args); // nothing stored
    EXPECT_TRUE(capture.has(1, "ComTransport__Create", "fail: endpoint-path is too long"));
}

TEST_F(serial_port, second_object_is_locked_out_until_the_first_closes)
{
    log_capture capture;
    void* first = create(pty_.path());
    void* second = create(pty_.path());
    ASSERT_EQ(ComTransport__Open(first), 0);
    EXPECT_EQ(ComTransport__Open(second), -1);
    EXPECT_EQ(ComTransport__GetLinkHandle(second), -1);
    EXPECT_TRUE(
        capture.has(1, "ComTransport__Open",
                    "failed to lock " + pty_.path() + " (" + std::strerror(EWOULDBLOCK) + ")"))
        << capture.dump();
    expect_raw_settings();
    expect_working(first);

    ASSERT_EQ(ComTransport__Close(first), 0);
    EXPECT_EQ(ComTransport__Open(second), 0) << capture.dump();
    expect_raw_settings();
}

TEST_F(serial_port, settings_that_do_not_stick_are_undone_and_refused)
{
    log_capture capture;
    void* port = create(pty_.path());
    g_drop_clocal_once = true;
    EXPECT_EQ(ComTransport__Open(port), -1);
    EXPECT_FALSE(g_drop_clocal_once);
    EXPECT_EQ(ComTransport__GetLinkHandle(port), -1);
    EXPECT_TRUE(
        capture.has(1, "ComTransport__Open", "failed to verify attributes of " + pty_.path()))
        << capture.dump();
    expect_earlier_settings();

    void* other = create(pty_.path()); // the lock went with the descriptor
    EXPECT_EQ(ComTransport__Open(other), 0) << capture.dump();
}

TEST(serial_port_object, destroying_null_is_refused)
{
    log_capture capture;
    ComTransport__Destroy(nullptr);
    EXPECT_TRUE(capture.has(1, "ComTransport__Destroy", "fail: bad arg"));
}

} // namespace
