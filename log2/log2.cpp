// liblog2: records go to the file LOG2_FILE names when it opens at once, else to syslog, else
// (without a flag) to standard error when that is a terminal; with none of these they are
// dropped. In a file or on the
// terminal each record is one line:
//   <local time, ISO 8601 with microseconds> <name>[<pid>] <level> <source base name>:<line>
//   <function>: <message>
// Each line is written with one write(2) on an O_APPEND descriptor, so concurrent writers never
// interleave inside a line. The log never makes its caller wait: every descriptor is non-blocking,
// a record that cannot be written at once is dropped, and the number dropped is told by a record
// of its own as soon as one can be written. Under kLOG2_FLAG_ECHO_TTY, level-1 records are also
// shown on standard error when it is a terminal; under kLOG2_FLAG_ECHO_ALL every record kept is,
// whatever standard error is. Nothing ever goes to standard output.
#include "log.h"
#include "syslog_sink.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#define LOG2_API extern "C" __attribute__((visibility("default")))

namespace
{

constexpr size_t kNAME_SIZE = 64;
constexpr size_t kMESSAGE_SIZE = 1024;
constexpr size_t kLINE_SIZE = 1536;
constexpr size_t kTTY_PATH_SIZE = 128;
constexpr const char* kSYSLOG_PATH = "/dev/log";

struct log_state
{
    std::mutex mutex;
    bool opened = false;
    int max_level = 0;
    int fd = -1; // the file, or standard error's terminal when there is no syslog
    int syslog_fd = -1;
    int echo_fd = -1; // standard error, for the echo of level-1 records (or of all)
    bool echo_all = false;
    bool fd_is_terminal = false; // fd is the fallback terminal: it shows failures only
    unsigned long dropped = 0;
    int drop_errno = 0; // why the last of them was dropped
    char name[kNAME_SIZE] = {};
};

log_state& _T_state()
{
    static log_state state;
    return state;
}

int _T_syslog_priority(int aLevel)
{
    switch (aLevel)
    {
    case 1:
        return LOG_ERR;
    case 2:
        return LOG_WARNING;
    case 3:
        return LOG_NOTICE;
    case 4:
        return LOG_INFO;
    default:
        return LOG_DEBUG;
    }
}

const char* _T_base_name(const char* aPath)
{
    const char* slash = std::strrchr(aPath, '/');
    return slash ? slash + 1 : aPath;
}

// A record is one line: control characters in the message or the name become blanks.
void _T_flatten(char* aText)
{
    for (char* c = aText; *c; ++c)
    {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F)
            *c = ' ';
    }
}

size_t _T_format_time(char* aOut, size_t aSize)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char date[32];
    char zone[8];
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    strftime(zone, sizeof zone, "%z", &local);
    int n = snprintf(aOut, aSize, "%s.%06ld%s", date, static_cast<long>(now.tv_usec), zone);
    return n < 0 ? 0 : static_cast<size_t>(n);
}

// Ends the text snprintf put in aLine (of aSize bytes, the last one kept free) with a line end,
// cutting what did not fit; the length with the line end, 0 after a formatting error.
size_t _T_end_line(char* aLine, size_t aSize, int aLength)
{
    if (aLength < 0)
        return 0;
    size_t length =
        static_cast<size_t>(aLength) < aSize - 1 ? static_cast<size_t>(aLength) : aSize - 2;
    aLine[length++] = '\n';
    return length;
}

// A reader that went away must not end the program with SIGPIPE: the signal is held back for
// this write and, when the write raised it, taken back. A short write counts as EAGAIN.
bool _T_write_quietly(int aFd, const char* aData, size_t aSize)
{
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    const ssize_t written = write(aFd, aData, aSize);
    const int error = written < 0 ? errno : EAGAIN;
    if (error == EPIPE && !wasPending)
    {
        const timespec none{};
        sigtimedwait(&pipeOnly, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return written == static_cast<ssize_t>(aSize);
}

bool _T_write_file(const log_state& aState, const char* aFile, unsigned long long aLine,
                   const char* aFunc, int aLevel, const char* aMessage)
{
    char line[kLINE_SIZE];
    char stamp[64];
    _T_format_time(stamp, sizeof stamp);
    const int n =
        snprintf(line, sizeof line - 1, "%s %s[%ld] %d %s:%llu %s: %s", stamp, aState.name,
                 static_cast<long>(getpid()), aLevel, _T_base_name(aFile), aLine, aFunc, aMessage);
    const size_t length = _T_end_line(line, sizeof line, n);
    return length > 0 && _T_write_quietly(aState.fd, line, length);
}

// True when the sink took the whole record, or when there is no sink to take it.
bool _T_emit(const log_state& aState, const char* aFile, unsigned long long aLine,
             const char* aFunc, int aLevel, const char* aMessage)
{
    if (aState.fd >= 0)
        return _T_write_file(aState, aFile, aLine, aFunc, aLevel, aMessage);
    if (aState.syslog_fd < 0)
        return true;
    char body[kLINE_SIZE];
    snprintf(body, sizeof body, "%s:%llu %s: %s", _T_base_name(aFile), aLine, aFunc, aMessage);
    return SyslogSink__Send(aState.syslog_fd, aState.name, _T_syslog_priority(aLevel), body);
}

// Tells how many records were dropped, in a record of its own that stands where they are missing.
// True when nothing is left to tell.
bool _T_report_drops(log_state& aState)
{
    if (aState.dropped == 0)
        return true;
    char message[kMESSAGE_SIZE];
    snprintf(message, sizeof message, "fail: records dropped <%lu> (%s)", aState.dropped,
             std::strerror(aState.drop_errno));
    if (!_T_emit(aState, __FILE__, __LINE__, "LogWrite", 2, message))
        return false;
    aState.dropped = 0;
    return true;
}

// Standard error's terminal opened anew, so that it can be non-blocking without changing the
// descriptor the program shares with its parent; -1 when standard error is not a terminal.
int _T_open_terminal()
{
    char path[kTTY_PATH_SIZE] = {};
    if (ttyname_r(STDERR_FILENO, path, sizeof path) != 0)
        return -1;
    return open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Standard error opened anew and non-blocking, whatever it is: its terminal, or the file or pipe
// behind it (appending, so that a shared file is never overwritten); -1 when it cannot be.
int _T_open_stderr()
{
    const int terminal = _T_open_terminal();
    if (terminal >= 0)
        return terminal;
    return open("/proc/self/fd/2", O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool _T_same_file(int aFd, int aOtherFd)
{
    struct stat one
    {
    };
    struct stat other
    {
    };
    return aFd >= 0 && fstat(aFd, &one) == 0 && fstat(aOtherFd, &other) == 0 &&
           one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

void _T_open_sinks(log_state& aState, int aFlags)
{
    const char* path = getenv("LOG2_FILE");
    if (path && *path)
        aState.fd =
            open(path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0640);
    if (aState.fd < 0)
    {
        const char* socketPath = getenv("LOG2_SYSLOG_SOCKET");
        aState.syslog_fd =
            SyslogSink__Connect(socketPath && *socketPath ? socketPath : kSYSLOG_PATH);
    }
    // A program that echoes, or tells its failures itself, shows the person at the terminal the
    // same with or without syslog; only one that does neither gets the records themselves there.
    const bool ownsTerminal =
        (aFlags & (kLOG2_FLAG_ECHO_TTY | kLOG2_FLAG_ECHO_ALL | kLOG2_FLAG_NO_TTY)) != 0;
    if (aState.fd < 0 && aState.syslog_fd < 0 && !ownsTerminal)
    {
        aState.fd = _T_open_terminal();
        aState.fd_is_terminal = aState.fd >= 0;
    }
    aState.echo_all = (aFlags & kLOG2_FLAG_ECHO_ALL) != 0;
    // Records that already reach standard error are not shown twice.
    if (_T_same_file(aState.fd, STDERR_FILENO))
        return;
    if (aState.echo_all)
        aState.echo_fd = _T_open_stderr();
    else if ((aFlags & kLOG2_FLAG_ECHO_TTY) != 0)
        aState.echo_fd = _T_open_terminal();
}

// A courtesy to the person at the terminal: lost, and not counted, when it cannot be shown at once.
void _T_echo(const log_state& aState, const char* aMessage)
{
    char line[kLINE_SIZE];
    const int n = snprintf(line, sizeof line - 1, "%s: %s", aState.name, aMessage);
    const size_t length = _T_end_line(line, sizeof line, n);
    if (length > 0)
        _T_write_quietly(aState.echo_fd, line, length);
}

void _T_close(int& aFd)
{
    if (aFd >= 0)
        close(aFd);
    aFd = -1;
}

} // namespace

LOG2_API void LogOpen2(const char* aName, int aMaxLevel, int aFlags)
{
    log_state& state = _T_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.opened)
        return;
    snprintf(state.name, sizeof state.name, "%s", aName ? aName : "");
    _T_flatten(state.name);
    state.max_level = aMaxLevel;
    state.dropped = 0;
    _T_open_sinks(state, aFlags);
    state.opened = true;
}

LOG2_API void LogWrite(const char* aFile, unsigned long long aLine, const char* aFunc, int aLevel,
                       const char* aFormat, ...)
{
    log_state& state = _T_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    // A person at the terminal wants to see what failed, not the trace of every step.
    const int maxLevel = state.fd_is_terminal ? std::min(state.max_level, 2) : state.max_level;
    if (!state.opened || aLevel > maxLevel || !aFormat)
        return;
    char message[kMESSAGE_SIZE];
    va_list args;
    va_start(args, aFormat);
    int n = vsnprintf(message, sizeof message, aFormat, args);
    va_end(args);
    if (n < 0)
        return;
    _T_flatten(message);
    // Once a record is missing, none is written until the count of missing ones is.
    if (!_T_report_drops(state) ||
        !_T_emit(state, aFile ? aFile : "", aLine, aFunc ? aFunc : "", aLevel, message))
    {
        state.drop_errno = errno;
        ++state.dropped;
    }
    if ((aLevel == 1 || state.echo_all) && state.echo_fd >= 0)
        _T_echo(state, message);
}

LOG2_API void LogClose(void)
{
    log_state& state = _T_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.opened)
        return;
    _T_report_drops(state); // the last chance to tell
    _T_close(state.fd);
    _T_close(state.syslog_fd);
    _T_close(state.echo_fd);
    state.echo_all = false;
    state.fd_is_terminal = false;
    state.opened = false;
}
