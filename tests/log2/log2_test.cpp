#include <chrono>
#include <fstream>
#include <csignal>
#include <functional>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "log.h"
#include "log.hpp"
#include "log_capture.hpp"
#include "pty_pair.hpp"

namespace
{

using vesk11_test::log_capture;
using vesk11_test::pty_mode_t;
using vesk11_test::pty_pair;
using vesk11_test::read_log_file;
using vesk11_test::stalled_fifo;
using vesk11_test::syslog_listener;

// Sets, or with nullptr unsets, an environment variable for the scope.
class scoped_env
{
  public:
    scoped_env(const char* aName, const char* aValue) : name_(aName)
    {
        const char* was = getenv(aName);
        had_ = was != nullptr;
        if (had_)
            was_ = was;
        if (aValue)
            setenv(aName, aValue, 1);
        else
            unsetenv(aName);
    }
    ~scoped_env()
    {
        if (had_)
            setenv(name_.c_str(), was_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

  private:
    std::string name_;
    std::string was_;
    bool had_ = false;
};

// Standard error is aFd for the scope.
class scoped_stderr
{
  public:
    explicit scoped_stderr(int aFd) : saved_(dup(STDERR_FILENO)) { dup2(aFd, STDERR_FILENO); }
    ~scoped_stderr()
    {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    scoped_stderr(const scoped_stderr&) = delete;
    scoped_stderr& operator=(const scoped_stderr&) = delete;

  private:
    int saved_;
};

// Runs aCall on a thread of its own: true when it returned within two seconds. A call still
// waiting then is set free by aRelease, acting at the far end of what it waits on.
bool _T_returns_at_once(const std::function<void()>& aCall, const std::function<void()>& aRelease)
{
    std::future<void> done = std::async(std::launch::async, aCall);
    if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready)
        return true;
    aRelease();
    done.wait();
    return false;
}

std::vector<std::string> _T_lines(const std::string& aText)
{
    std::vector<std::string> lines;
    std::istringstream in(aText);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool _T_ends_with(const std::string& aText, const std::string& aEnd)
{
    return aText.size() >= aEnd.size() &&
           aText.compare(aText.size() - aEnd.size(), aEnd.size(), aEnd) == 0;
}

// Everything waiting on aFd, without waiting for more.
std::string _T_drain(int aFd)
{
    std::string text;
    pollfd ready{aFd, POLLIN, 0};
    char buffer[4096];
    while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0)
    {
        const ssize_t n = read(aFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// What the terminal showed so far: the test writes a mark of its own behind the library's output
// and reads up to it, so that "nothing" needs no waiting.
std::string _T_terminal_text(const pty_pair& aPty)
{
    const char kMARK = '\x01'; // a control character, which no record can carry
    EXPECT_EQ(write(aPty.slave(), &kMARK, 1), 1);
    std::string text;
    pollfd ready{aPty.master(), POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 2000) == 1 && read(aPty.master(), &c, 1) == 1 && c != kMARK)
        text.push_back(c);
    EXPECT_EQ(c, kMARK) << "the terminal's output ended early: " << text;
    return text;
}

// A syslog socket that does not exist.
constexpr const char* kNO_SYSLOG = "/nonexistent-dir/vesk11/log";

std::string _T_read_raw(const std::string& aPath)
{
    FILE* f = fopen(aPath.c_str(), "r");
    std::string text;
    if (!f)
        return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    return text;
}

TEST(log2, line_format_is_the_documented_contract)
{
    log_capture capture(4);
    LogWrite("/src/dir/some_file.cpp", 42, "someFunc", 3, "done: %s <%d>", "open", 7);
    std::string raw = _T_read_raw(capture.path());
    std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d{4} test\[(\d+)\] 3 )"
                    R"(some_file\.cpp:42 someFunc: done: open <7>\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(raw, match, line)) << raw;
    EXPECT_EQ(std::stol(match[1]), static_cast<long>(getpid()));
}

TEST(log2, records_above_max_level_are_dropped)
{
    log_capture capture(3);
    for (int level = 1; level <= 5; ++level)
        LogWrite(__FILE__, 1, "f", level, "level %d", level);
    auto records = capture.records();
    ASSERT_EQ(records.size(), 3u) << capture.dump();
    for (int level = 1; level <= 3; ++level)
        EXPECT_EQ(records[static_cast<size_t>(level - 1)].level, level);
}

TEST(log2, long_message_is_cut_not_overflowed)
{
    log_capture capture(4);
    std::string huge(10000, 'x');
    LogWrite(__FILE__, 1, "f", 1, "%s", huge.c_str());
    LogWrite(__FILE__, 2, "g", 1, "after");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GT(records[0].message.size(), 500u);
    EXPECT_LT(records[0].message.size(), huge.size());
    EXPECT_EQ(records[0].message.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(records[1].message, "after");
}

TEST(log2, line_breaks_in_caller_text_stay_on_one_line)
{
    log_capture capture(4);
    LogWrite(__FILE__, 1, "f", 1, "path %s", "/dev/a\nb");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "path /dev/a b");
}

TEST(log2, writes_before_open_and_after_close_are_dropped)
{
    char pattern[] = "/tmp/vesk11-log-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("LOG2_FILE", pattern, 1);
    LogWrite(__FILE__, 1, "f", 1, "before open");
    LogClose(); // closing a log that is not open is harmless
    {
        Orvo::Support::log_guard guard("guarded", 4, 0);
        LogWrite(__FILE__, 2, "f", 1, "inside");
    }
    LogWrite(__FILE__, 3, "f", 1, "after close");
    auto records = read_log_file(pattern);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "guarded");
    EXPECT_EQ(records[0].message, "inside");
    unsetenv("LOG2_FILE");
    unlink(pattern);
}

TEST(log2, file_is_created_with_restricted_mode)
{
    std::string path = "/tmp/vesk11-log-mode-" + std::to_string(getpid());
    unlink(path.c_str());
    setenv("LOG2_FILE", path.c_str(), 1);
    mode_t old = umask(0);
    LogOpen2("mode", 4, 0);
    umask(old);
    LogWrite(__FILE__, 1, "f", 1, "x");
    LogClose();
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    unsetenv("LOG2_FILE");
    unlink(path.c_str());
}

TEST(log2, unopenable_file_falls_back_to_syslog_and_never_touches_std_streams)
{
    char pattern[] = "/tmp/vesk11-std-XXXXXX";
    int sink = mkstemp(pattern);
    ASSERT_GE(sink, 0);
    int savedOut = dup(1);
    int savedErr = dup(2);
    fflush(stdout);
    fflush(stderr);
    dup2(sink, 1);
    dup2(sink, 2);
    setenv("LOG2_FILE", "/nonexistent-dir/x/log", 1);
    LogOpen2("fallback", 5, 0);
    for (int level = 1; level <= 5; ++level)
        LogWrite(__FILE__, 1, "f", level, "to syslog %d", level);
    LogClose();
    unsetenv("LOG2_FILE");
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    struct stat st{};
    ASSERT_EQ(fstat(sink, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_NE(access("/nonexistent-dir/x/log", F_OK), 0);
    close(sink);
    unlink(pattern);
}

// The datagram syslog(3) sends for openlog(name, LOG_PID, LOG_USER): the user facility (8) plus
// the severity, a C-locale time stamp, the name and pid; the body is the source place and message.
TEST(log2, syslog_datagram_is_the_one_syslog_would_send)
{
    syslog_listener daemon;
    scoped_env file("LOG2_FILE", nullptr);
    scoped_env socket("LOG2_SYSLOG_SOCKET", daemon.path().c_str());
    LogOpen2("sys", 5, 0);
    for (int level = 1; level <= 5; ++level)
        LogWrite("/src/x/some.cpp", 40 + static_cast<unsigned long long>(level), "fn", level,
                 "level %d", level);
    LogClose();
    const std::vector<std::string> datagrams = daemon.receive();
    const char* const kPRIORITIES[] = {"11", "12", "13", "14", "15"}; // LOG_ERR .. LOG_DEBUG
    ASSERT_EQ(datagrams.size(), 5u);
    for (size_t i = 0; i < datagrams.size(); ++i)
    {
        const std::regex expected(std::string("<") + kPRIORITIES[i] +
                                  R"(>(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                                  R"([ 123]\d \d\d:\d\d:\d\d sys\[)" +
                                  std::to_string(getpid()) + "\\]: some\\.cpp:" +
                                  std::to_string(41 + i) + " fn: level " + std::to_string(i + 1));
        EXPECT_TRUE(std::regex_match(datagrams[i], expected)) << datagrams[i];
    }
}

// A line break in the program's name must not split a record, in a file or in syslog.
TEST(log2, name_is_flattened_like_messages)
{
    syslog_listener daemon;
    scoped_env socket("LOG2_SYSLOG_SOCKET", daemon.path().c_str());
    const std::string who = " two lines [1][" + std::to_string(getpid()) + "]";
    {
        log_capture capture(4);
        LogClose(); // reopened under the bad name
        LogOpen2("two\nlines\t[1]", 4, 0);
        LogWrite(__FILE__, 1, "f", 1, "m");
        LogClose();
        const std::string text = _T_read_raw(capture.path());
        EXPECT_EQ(_T_lines(text).size(), 1u) << text;
        EXPECT_NE(text.find(who + " 1 "), std::string::npos) << text;
    }
    scoped_env file("LOG2_FILE", nullptr);
    LogOpen2("two\nlines\t[1]", 4, 0);
    LogWrite(__FILE__, 1, "f", 1, "m");
    LogClose();
    const std::vector<std::string> datagrams = daemon.receive();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_NE(datagrams[0].find(who + ": "), std::string::npos) << datagrams[0];
    EXPECT_EQ(datagrams[0].find('\n'), std::string::npos) << datagrams[0];
}

// Opening a FIFO that nobody reads would wait for a reader: the log passes it over for syslog.
TEST(log2, fifo_without_reader_is_passed_over_for_syslog)
{
    stalled_fifo fifo;
    syslog_listener daemon;
    scoped_env file("LOG2_FILE", fifo.path().c_str());
    scoped_env socket("LOG2_SYSLOG_SOCKET", daemon.path().c_str());
    EXPECT_TRUE(_T_returns_at_once([] { LogOpen2("fifo", 4, 0); }, [&] { fifo.open_reader(); }));
    LogWrite(__FILE__, 1, "f", 1, "to syslog");
    LogClose();
    const std::vector<std::string> datagrams = daemon.receive();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_TRUE(_T_ends_with(datagrams[0], " f: to syslog")) << datagrams[0];
    fifo.open_reader();
    EXPECT_EQ(fifo.drain(), "");
}

// A sink that takes nothing costs records, never time; once it takes records again, the first
// one says how many are missing, at the place where they are missing, and so does the close.
TEST(log2, stalled_sink_drops_records_at_once_and_counts_them)
{
    stalled_fifo fifo;
    fifo.open_reader();
    syslog_listener daemon;
    struct stalled_case
    {
        const char* sink;
        const char* file;       // LOG2_FILE
        std::string countMark;  // how the count record shows its level
        std::function<void()> fill;
        std::function<std::vector<std::string>()> drain;
    };
    const std::vector<stalled_case> cases = {
        {"FIFO whose reader stalls", fifo.path().c_str(), " 2 log2.cpp:", [&] { fifo.fill(); },
         [&] { return _T_lines(fifo.drain()); }},
        {"syslog whose queue is full", nullptr, "<12>", [&] { daemon.fill(); },
         [&] { return daemon.receive(); }},
    };
    scoped_env socket("LOG2_SYSLOG_SOCKET", daemon.path().c_str());
    for (const stalled_case& stalled : cases)
    {
        SCOPED_TRACE(stalled.sink);
        scoped_env file("LOG2_FILE", stalled.file);
        LogOpen2("stall", 4, 0);
        stalled.fill();
        auto threeRecords = [] {
            for (int i = 0; i < 3; ++i)
                LogWrite(__FILE__, 1, "f", 4, "lost %d", i);
        };
        EXPECT_TRUE(_T_returns_at_once(threeRecords, [&] { stalled.drain(); }));
        stalled.drain(); // the filling
        LogWrite(__FILE__, 2, "f", 4, "after");
        std::vector<std::string> got = stalled.drain();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_NE(got[0].find(stalled.countMark), std::string::npos) << got[0];
        EXPECT_TRUE(_T_ends_with(got[0], " LogWrite: fail: records dropped <3> "
                                         "(Resource temporarily unavailable)"))
            << got[0];
        EXPECT_TRUE(_T_ends_with(got[1], " f: after")) << got[1];

        stalled.fill();
        LogWrite(__FILE__, 3, "f", 4, "lost at the end");
        stalled.drain();
        LogClose();
        got = stalled.drain();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(_T_ends_with(got[0], "fail: records dropped <1> "
                                         "(Resource temporarily unavailable)"))
            << got[0];
    }
}

// A FIFO reader that went away costs the record, not the process (no SIGPIPE).
TEST(log2, reader_that_left_costs_records_not_the_process)
{
    stalled_fifo fifo;
    fifo.open_reader();
    scoped_env file("LOG2_FILE", fifo.path().c_str());
    LogOpen2("left", 4, 0);
    fifo.close_reader();
    LogWrite(__FILE__, 1, "f", 1, "nobody reads this");
    LogClose();
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

// With neither a file nor syslog, records are shown on standard error if it is a terminal, where
// someone can read them; else they are dropped as before, and nothing goes to standard error.
TEST(log2, without_file_or_syslog_records_go_to_a_standard_error_terminal_only)
{
    pty_pair terminal(pty_mode_t::kRAW);
    syslog_listener daemon;
    char pattern[] = "/tmp/vesk11-stderr-XXXXXX";
    const int plainFile = mkstemp(pattern);
    ASSERT_GE(plainFile, 0);
    struct fallback_case
    {
        const char* setting;
        bool terminal;
        bool syslog;
    };
    const fallback_case cases[] = {
        {"terminal, no syslog", true, false},
        {"terminal, syslog", true, true},
        {"plain file, no syslog", false, false},
    };
    scoped_env file("LOG2_FILE", nullptr);
    for (const fallback_case& setting : cases)
    {
        SCOPED_TRACE(setting.setting);
        scoped_env socket("LOG2_SYSLOG_SOCKET", setting.syslog ? daemon.path().c_str() : kNO_SYSLOG);
        {
            scoped_stderr redirect(setting.terminal ? terminal.slave() : plainFile);
            LogOpen2("fallback", 4, 0);
            LogWrite("/a/b.cpp", 7, "f", 3, "traced");
            LogWrite("/a/b.cpp", 7, "f", 2, "shown");
            LogClose();
        }
        const std::string shown = _T_terminal_text(terminal);
        if (setting.terminal && !setting.syslog)
        {
            const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d{4} fallback\[)" +
                                  std::to_string(getpid()) + R"(\] 2 b\.cpp:7 f: shown\n)");
            EXPECT_TRUE(std::regex_match(shown, line)) << shown;
        }
        else
            EXPECT_EQ(shown, "");
        EXPECT_EQ(daemon.receive().size(), setting.syslog ? 2u : 0u);
    }
    struct stat st{};
    ASSERT_EQ(fstat(plainFile, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    close(plainFile);
    unlink(pattern);
}

// Under kLOG2_FLAG_ECHO_TTY each level-1 record is also shown as "<name>: <message>" on standard
// error when it is a terminal that does not show the records already; never anywhere else.
TEST(log2, failures_are_echoed_on_a_standard_error_terminal)
{
    pty_pair terminal(pty_mode_t::kRAW);
    char pattern[] = "/tmp/vesk11-stderr-XXXXXX";
    const int plainFile = mkstemp(pattern);
    ASSERT_GE(plainFile, 0);
    char logPattern[] = "/tmp/vesk11-log-XXXXXX";
    const int logFd = mkstemp(logPattern);
    ASSERT_GE(logFd, 0);
    close(logFd);
    struct echo_case
    {
        const char* setting;
        int flags;
        bool terminal;
        std::string file;                 // LOG2_FILE
        std::vector<std::string> echoes;  // the terminal's lines that begin with the name
        size_t records;                   // its other lines: records
    };
    const echo_case cases[] = {
        {"flag, terminal", kLOG2_FLAG_ECHO_TTY, true, logPattern, {"echo: first failure"}, 0},
        {"no flag, terminal", 0, true, logPattern, {}, 0},
        {"flag, plain file", kLOG2_FLAG_ECHO_TTY, false, logPattern, {}, 0},
        {"flag, records on the terminal", kLOG2_FLAG_ECHO_TTY, true, terminal.path(), {}, 2},
        {"flag, no file, no syslog", kLOG2_FLAG_ECHO_TTY, true, "", {"echo: first failure"}, 0},
        {"no-tty flag, no file, no syslog", kLOG2_FLAG_NO_TTY, true, "", {}, 0},
    };
    scoped_env socket("LOG2_SYSLOG_SOCKET", kNO_SYSLOG);
    for (const echo_case& setting : cases)
    {
        SCOPED_TRACE(setting.setting);
        scoped_env file("LOG2_FILE", setting.file.c_str());
        {
            scoped_stderr redirect(setting.terminal ? terminal.slave() : plainFile);
            LogOpen2("echo", 4, setting.flags);
            LogWrite(__FILE__, 1, "f", 1, "first\nfailure");
            LogWrite(__FILE__, 2, "f", 2, "not a failure");
            LogClose();
        }
        std::vector<std::string> echoes;
        size_t records = 0;
        for (const std::string& line : _T_lines(_T_terminal_text(terminal)))
        {
            if (line.rfind("echo: ", 0) == 0)
                echoes.push_back(line);
            else
                ++records;
        }
        EXPECT_EQ(echoes, setting.echoes);
        EXPECT_EQ(records, setting.records);
    }
    EXPECT_EQ(read_log_file(logPattern).size(), 6u) << "the file keeps every record";
    struct stat st{};
    ASSERT_EQ(fstat(plainFile, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    close(plainFile);
    unlink(pattern);
    unlink(logPattern);
}

// A terminal that takes no more output (scrolling stopped, nobody reads a pty) costs the echo,
// not time.
TEST(log2, echo_to_a_stalled_terminal_returns_at_once)
{
    pty_pair terminal(pty_mode_t::kRAW);
    const int filler = open(terminal.path().c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    const std::string piece(256, 'x');
    while (write(filler, piece.data(), piece.size()) > 0)
    {
    }
    close(filler);
    log_capture capture(4);
    LogClose(); // reopened with the flag
    {
        scoped_stderr redirect(terminal.slave());
        LogOpen2("echo", 4, kLOG2_FLAG_ECHO_TTY);
    }
    EXPECT_TRUE(_T_returns_at_once([] { LogWrite(__FILE__, 1, "f", 1, "stalled"); },
                                   [&] { _T_drain(terminal.master()); }));
    LogClose();
    auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "stalled");
}

// Under kLOG2_FLAG_ECHO_ALL every record kept is also shown as "<name>: <message>" on standard
// error, whatever it is; a pipe nobody reads costs the echo, not time.
TEST(log2, every_record_is_echoed_on_any_standard_error_under_echo_all)
{
    pty_pair terminal(pty_mode_t::kRAW);
    char pattern[] = "/tmp/vesk11-stderr-XXXXXX";
    const int plainFile = mkstemp(pattern);
    ASSERT_GE(plainFile, 0);
    ASSERT_EQ(write(plainFile, "kept\n", 5), 5);
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    const std::string piece(4096, 'x');
    while (write(pipeFds[1], piece.data(), piece.size()) > 0)
    {
    }
    struct echo_all_case
    {
        const char* setting;
        int fd;
        std::function<std::string()> shown;
        std::vector<std::string> lines;
    };
    const std::vector<echo_all_case> cases = {
        {"terminal", terminal.slave(), [&] { return _T_terminal_text(terminal); },
         {"all: failure", "all: trace"}},
        {"plain file, appended to", plainFile,
         [&] {
             std::ifstream in(pattern);
             std::stringstream text;
             text << in.rdbuf();
             return text.str();
         },
         {"kept", "all: failure", "all: trace"}},
        {"full pipe", pipeFds[1], [] { return std::string(); }, {}},
    };
    char logPattern[] = "/tmp/vesk11-log-XXXXXX";
    const int logFd = mkstemp(logPattern);
    ASSERT_GE(logFd, 0);
    close(logFd);
    scoped_env file("LOG2_FILE", logPattern);
    for (const echo_all_case& setting : cases)
    {
        SCOPED_TRACE(setting.setting);
        {
            scoped_stderr redirect(setting.fd);
            LogOpen2("all", 4, kLOG2_FLAG_ECHO_ALL);
            EXPECT_TRUE(_T_returns_at_once(
                [] {
                    LogWrite(__FILE__, 1, "f", 1, "failure");
                    LogWrite(__FILE__, 2, "f", 4, "trace");
                    LogWrite(__FILE__, 3, "f", 5, "above the level");
                },
                [&] { _T_drain(pipeFds[0]); }));
            LogClose();
        }
        EXPECT_EQ(_T_lines(setting.shown()), setting.lines);
    }
    close(pipeFds[0]);
    close(pipeFds[1]);
    EXPECT_EQ(read_log_file(logPattern).size(), 6u) << "the file keeps every record";
    close(plainFile);
    unlink(pattern);
    unlink(logPattern);
}

} // namespace
