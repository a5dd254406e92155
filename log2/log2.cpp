// liblog2: records go to syslog, or, when LOG2_FILE names a file, to that file one line each:
//   <local time, ISO 8601 with microseconds> <name>[<pid>] <level> <source base name>:<line> <function>: <message>
// Each line is written with one write(2) on an O_APPEND descriptor, so concurrent writers never
// interleave inside a line. Nothing ever goes to standard output or standard error.
#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include <fcntl.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#define LOG2_API extern "C" __attribute__((visibility("default")))

namespace
{

constexpr size_t kNAME_SIZE = 64;
constexpr size_t kMESSAGE_SIZE = 1024;
constexpr size_t kLINE_SIZE = 1536;

struct log_state
{
    std::mutex mutex;
    bool opened = false;
    int max_level = 0;
    int fd = -1;
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

// A record is one line: control characters in the message become blanks.
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

void _T_write_file(log_state& aState, const char* aFile, unsigned long long aLine,
                   const char* aFunc, int aLevel, const char* aMessage)
{
    char line[kLINE_SIZE];
    char stamp[64];
    _T_format_time(stamp, sizeof stamp);
    int n = snprintf(line, sizeof line - 1, "%s %s[%ld] %d %s:%llu %s: %s", stamp, aState.name,
                     static_cast<long>(getpid()), aLevel, _T_base_name(aFile), aLine, aFunc,
                     aMessage);
    if (n < 0)
        return;
    size_t len = static_cast<size_t>(n) < sizeof line - 1 ? static_cast<size_t>(n) : sizeof line - 2;
    line[len++] = '\n';
    // A failed or short write loses the record; the log never disturbs the program.
    ssize_t written = write(aState.fd, line, len);
    (void)written;
}

} // namespace

LOG2_API void LogOpen2(const char* aName, int aMaxLevel, int aFlags)
{
    (void)aFlags;
    log_state& state = _T_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.opened)
        return;
    snprintf(state.name, sizeof state.name, "%s", aName ? aName : "");
    state.max_level = aMaxLevel;
    const char* path = getenv("LOG2_FILE");
    if (path && *path)
        state.fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (state.fd < 0)
        openlog(state.name, LOG_PID, LOG_USER);
    state.opened = true;
}

LOG2_API void LogWrite(const char* aFile, unsigned long long aLine, const char* aFunc, int aLevel,
                       const char* aFormat, ...)
{
    log_state& state = _T_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.opened || aLevel > state.max_level || !aFormat)
        return;
    char message[kMESSAGE_SIZE];
    va_list args;
    va_start(args, aFormat);
    int n = vsnprintf(message, sizeof message, aFormat, args);
    va_end(args);
    if (n < 0)
        return;
    _T_flatten(message);
    const char* file = aFile ? aFile : "";
    const char* func = aFunc ? aFunc : "";
    if (state.fd >= 0)
        _T_write_file(state, file, aLine, func, aLevel, message);
    else
        syslog(_T_syslog_priority(aLevel), "%s:%llu %s: %s", _T_base_name(file), aLine, func,
               message);
}

LOG2_API void LogClose(void)
{
    log_state& state = _T_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.opened)
        return;
    if (state.fd >= 0)
        close(state.fd);
    else
        closelog();
    state.fd = -1;
    state.opened = false;
}
