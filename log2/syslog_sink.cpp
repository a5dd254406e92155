#include "syslog_sink.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace
{

constexpr size_t kDATAGRAM_SIZE = 2048;

// "Mmm dd hh:mm:ss", local time, month names of the C locale whatever the program's locale.
void _T_format_stamp(char* aOut, size_t aSize)
{
    static const char* const kMONTHS[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    snprintf(aOut, aSize, "%s %2d %02d:%02d:%02d", kMONTHS[local.tm_mon % 12], local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec);
}

} // namespace

int SyslogSink__Connect(const char* aPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(aPath);
    if (length == 0 || length >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, aPath, length);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        close(fd);
        return -1;
    }
    return fd;
}

bool SyslogSink__Send(int aFd, const char* aIdent, int aSeverity, const char* aBody)
{
    char stamp[32];
    _T_format_stamp(stamp, sizeof stamp);
    char datagram[kDATAGRAM_SIZE];
    const int n = snprintf(datagram, sizeof datagram, "<%d>%s %s[%ld]: %s", LOG_USER | aSeverity,
                           stamp, aIdent, static_cast<long>(getpid()), aBody);
    if (n < 0)
        return false;
    // Cut rather than overflowed; the library's records fit with room to spare.
    const size_t length =
        static_cast<size_t>(n) < sizeof datagram ? static_cast<size_t>(n) : sizeof datagram - 1;
    const ssize_t sent = send(aFd, datagram, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(length);
}
