#include "trace_sink.hpp"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

trace_sink::~trace_sink()
{
    if (own_fd_)
        close(fd_);
}

void trace_sink::open(int aFd)
{
    fd_ = aFd;
    struct stat info
    {
    };
    if (fstat(aFd, &info) != 0)
        return;
    if (S_ISSOCK(info.st_mode))
    {
        mode_ = write_mode_t::kSEND;
        return;
    }
    if (S_ISREG(info.st_mode))
    {
        mode_ = write_mode_t::kWRITE;
        return;
    }
    std::string self = "/proc/self/fd/" + std::to_string(aFd);
    int fd = ::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    fd_ = fd;
    own_fd_ = true;
    mode_ = write_mode_t::kWRITE;
}

void trace_sink::write_line(const std::string& aLine)
{
    if (!pay_owed())
    {
        ++dropped_;
        return;
    }
    std::string text = notice() + aLine + "\n";
    ssize_t n = write_now(text);
    if (n <= 0)
    {
        ++dropped_;
        return;
    }
    dropped_ = 0;
    owed_ = text.substr(static_cast<size_t>(n));
}

void trace_sink::flush()
{
    if (pay_owed() && dropped_ > 0)
        write_now(notice());
}

ssize_t trace_sink::write_now(const std::string& aText)
{
    if (fd_ < 0)
        return -1;
    pollfd entry{fd_, POLLOUT, 0};
    if (mode_ == write_mode_t::kPOLL && (poll(&entry, 1, 0) != 1 || !(entry.revents & POLLOUT)))
        return -1;
    ssize_t n;
    do
        n = mode_ == write_mode_t::kSEND
                ? send(fd_, aText.data(), aText.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                : write(fd_, aText.data(), aText.size());
    while (n < 0 && errno == EINTR);
    return n;
}

// True once nothing is owed any more.
bool trace_sink::pay_owed()
{
    if (owed_.empty())
        return true;
    ssize_t n = write_now(owed_);
    if (n > 0)
        owed_.erase(0, static_cast<size_t>(n));
    return owed_.empty();
}

std::string trace_sink::notice() const
{
    return dropped_ > 0 ? "dropped lines=" + std::to_string(dropped_) + "\n" : std::string();
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
