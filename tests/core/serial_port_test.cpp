#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>

#include <cstdarg>

#include <dlfcn.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "log_capture.hpp"
#include "pty_pair.hpp"
#include "exchange.h"
#include "serial_rs485.h"
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

// A pseudo-terminal has no RS-485 mode: the driver of a real adapter is imitated here. While
// armed, TIOCGRS485 and TIOCSRS485 on any descriptor are answered from g_rs485_state, and every
// TIOCSRS485 is recorded; g_rs485_refuse makes TIOCSRS485 fail with that errno.
namespace
{
bool g_rs485_armed = false;
int g_rs485_refuse = 0;
struct serial_rs485 g_rs485_state
{
};
std::vector<struct serial_rs485> g_rs485_sets;
} // namespace

extern "C" int ioctl(int aFd, unsigned long aRequest, ...)
{
    va_list args;
    va_start(args, aRequest);
    void* argument = va_arg(args, void*);
    va_end(args);
    using ioctl_fn = int (*)(int, unsigned long, ...);
    static ioctl_fn real = reinterpret_cast<ioctl_fn>(dlsym(RTLD_NEXT, "ioctl"));
    if (!g_rs485_armed || (aRequest != TIOCGRS485 && aRequest != TIOCSRS485))
        return real(aFd, aRequest, argument);
    auto* rs485 = static_cast<struct serial_rs485*>(argument);
    if (aRequest == TIOCGRS485)
    {
        *rs485 = g_rs485_state;
        return 0;
    }
    g_rs485_sets.push_back(*rs485);
    if (g_rs485_refuse != 0)
    {
        errno = g_rs485_refuse;
        return -1;
    }
    g_rs485_state = *rs485;
    return 0;
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

    void* create(const std::string& aPath, serial_rs485_args aRs485 = {})
    {
        com_transport_args args{};
        args.rs485 = aRs485;
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
    EXPECT_EQ(ComTransport__Open(port), kCOM_OPEN_NO_ACCESS);
    EXPECT_EQ(errno, ENOENT);
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
    EXPECT_EQ(ComTransport__Open(port), kCOM_OPEN_NOT_SERIAL);
    EXPECT_EQ(errno, ENOTTY);
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
    EXPECT_EQ(ComTransport__Open(second), kCOM_OPEN_LOCKED);
    EXPECT_EQ(errno, EWOULDBLOCK);
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

// The adapter's own state before the run: something the run must put back field by field.
struct serial_rs485 _T_adapter_state()
{
    struct serial_rs485 state
    {
    };
    state.flags = SER_RS485_RX_DURING_TX;
    state.delay_rts_before_send = 7;
    state.delay_rts_after_send = 9;
    return state;
}

bool _T_same(const struct serial_rs485& aLeft, const struct serial_rs485& aRight)
{
    return std::memcmp(&aLeft, &aRight, sizeof aLeft) == 0;
}

class serial_port_rs485 : public serial_port
{
  protected:
    void SetUp() override
    {
        serial_port::SetUp();
        g_rs485_armed = true;
        g_rs485_refuse = 0;
        g_rs485_state = _T_adapter_state();
        g_rs485_sets.clear();
    }

    void TearDown() override
    {
        serial_port::TearDown();
        g_rs485_armed = false;
    }
};

// The exact structure asked for in each mode, and the earlier state put back at close.
TEST_F(serial_port_rs485, mode_is_asked_for_exactly_and_the_earlier_state_restored)
{
    struct mode_case
    {
        serial_rs485_args args;
        uint32_t flags;
    };
    const mode_case cases[] = {
        {{kSERIAL_RS485_RTS_ON_SEND, 0, 0}, SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND},
        {{kSERIAL_RS485_RTS_AFTER_SEND, 3, 1000}, SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND},
    };
    for (const mode_case& entry : cases)
    {
        SCOPED_TRACE(SerialRs485__ModeName(entry.args.mode));
        g_rs485_sets.clear();
        log_capture capture;
        void* port = create(pty_.path(), entry.args);
        ASSERT_EQ(ComTransport__Open(port), 0) << capture.dump();
        ASSERT_EQ(g_rs485_sets.size(), 1u);
        struct serial_rs485 want
        {
        };
        want.flags = entry.flags;
        want.delay_rts_before_send = entry.args.delay_before_ms;
        want.delay_rts_after_send = entry.args.delay_after_ms;
        EXPECT_TRUE(_T_same(g_rs485_sets[0], want)) << "flags " << g_rs485_sets[0].flags;
        expect_raw_settings();
        ASSERT_EQ(ComTransport__Close(port), 0);
        ASSERT_EQ(g_rs485_sets.size(), 2u);
        EXPECT_TRUE(_T_same(g_rs485_state, _T_adapter_state()));
        expect_earlier_settings();
    }
}

TEST_F(serial_port_rs485, mode_off_leaves_the_rs485_state_alone)
{
    void* port = create(pty_.path());
    ASSERT_EQ(ComTransport__Open(port), 0);
    ASSERT_EQ(ComTransport__Close(port), 0);
    EXPECT_TRUE(g_rs485_sets.empty());
}

// A driver without RS-485 mode: the open fails with its own status, the line as it was found.
TEST_F(serial_port_rs485, refusal_leaves_the_line_as_found)
{
    for (int error : {ENOTTY, EINVAL})
    {
        SCOPED_TRACE(error);
        g_rs485_refuse = error;
        log_capture capture;
        void* port = create(pty_.path(), {kSERIAL_RS485_RTS_ON_SEND, 0, 0});
        EXPECT_EQ(ComTransport__Open(port), kCOM_OPEN_RS485_REFUSED);
        EXPECT_EQ(ComTransport__GetLinkHandle(port), -1);
        EXPECT_TRUE(capture.has(1, "_T_enable_rs485",
                                "the driver of " + pty_.path() + " refused RS-485 mode rts-on-send (" +
                                    std::strerror(error) + ")"))
            << capture.dump();
        expect_earlier_settings();
        EXPECT_TRUE(_T_same(g_rs485_state, _T_adapter_state()));
    }
    g_rs485_armed = false; // the real pseudo-terminal refuses too
    void* port = create(pty_.path(), {kSERIAL_RS485_RTS_ON_SEND, 0, 0});
    EXPECT_EQ(ComTransport__Open(port), kCOM_OPEN_RS485_REFUSED);
    expect_earlier_settings();
    void* plain = create(pty_.path());
    EXPECT_EQ(ComTransport__Open(plain), 0) << "the lock went with the descriptor";
}

// A session that ends by a failure or by a stop signal puts the RS-485 state back all the same.
TEST_F(serial_port_rs485, session_restores_the_state_after_failure_and_stop_signal)
{
    for (bool stop : {false, true})
    {
        SCOPED_TRACE(stop ? "stop signal" : "silent line");
        g_rs485_sets.clear();
        volatile sig_atomic_t stopSignal = stop ? SIGTERM : 0;
        const exchange_config config{20, nullptr, nullptr, nullptr, nullptr, &stopSignal};
        com_transport_args args{};
        pty_.path().copy(args.endpoint_path, sizeof args.endpoint_path - 1);
        args.rs485 = {kSERIAL_RS485_RTS_AFTER_SEND, 1, 2};
        exchange_session* session = nullptr;
        ASSERT_EQ(Exchange__Open(&session, &args, Transport__InitCom, &config),
                  kEXCHANGE_OPEN_DONE);
        uat4_action_t query{};
        UatAction4__InitCommandU32(&query, 1000, 344, 0xFFFFFFFF);
        exchange_outcome outcome{};
        Exchange__Query(session, &query, &outcome);
        EXPECT_EQ(outcome.status, stop ? kEXCHANGE_STOPPED : kEXCHANGE_NO_INPUT);
        EXPECT_EQ(g_rs485_state.flags, static_cast<uint32_t>(SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND));
        Exchange__Close(session);
        EXPECT_EQ(g_rs485_sets.size(), 2u);
        EXPECT_TRUE(_T_same(g_rs485_state, _T_adapter_state()));
        expect_earlier_settings();
    }
}

// VESK11_RS485 and --rs485 values.
TEST(serial_rs485_mode, names_and_environment_values)
{
    struct value_case
    {
        const char* text;
        bool environment_ok;
        serial_rs485_mode mode;
        bool name_ok;
    };
    const value_case cases[] = {
        {"", true, kSERIAL_RS485_OFF, false},
        {"0", true, kSERIAL_RS485_OFF, false},
        {"1", true, kSERIAL_RS485_RTS_ON_SEND, false},
        {"on", true, kSERIAL_RS485_RTS_ON_SEND, false},
        {"rts-on-send", true, kSERIAL_RS485_RTS_ON_SEND, true},
        {"rts-after-send", true, kSERIAL_RS485_RTS_AFTER_SEND, true},
        {"off", false, kSERIAL_RS485_OFF, false},
        {"RTS-ON-SEND", false, kSERIAL_RS485_OFF, false},
        {"2", false, kSERIAL_RS485_OFF, false},
    };
    for (const value_case& entry : cases)
    {
        SCOPED_TRACE(entry.text);
        serial_rs485_mode mode = static_cast<serial_rs485_mode>(99);
        EXPECT_EQ(SerialRs485__ModeFromEnvironment(entry.text, &mode), entry.environment_ok);
        if (entry.environment_ok)
        {
            EXPECT_EQ(mode, entry.mode);
        }
        mode = static_cast<serial_rs485_mode>(99);
        EXPECT_EQ(SerialRs485__ParseMode(entry.text, &mode), entry.name_ok);
        EXPECT_EQ(mode, entry.name_ok ? entry.mode : static_cast<serial_rs485_mode>(99));
    }
    serial_rs485_mode mode = kSERIAL_RS485_RTS_ON_SEND;
    EXPECT_TRUE(SerialRs485__ModeFromEnvironment(nullptr, &mode));
    EXPECT_EQ(mode, kSERIAL_RS485_OFF);
}

TEST(serial_port_object, destroying_null_is_refused)
{
    log_capture capture;
    ComTransport__Destroy(nullptr);
    EXPECT_TRUE(capture.has(1, "ComTransport__Destroy", "fail: bad arg"));
}

} // namespace
