#include "metrics_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "daemon_error.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

constexpr std::chrono::seconds kREWRITE_EVERY{5};

} // namespace

metrics_file::~metrics_file()
{
    stop();
}

void metrics_file::start(const std::string& aPath)
{
    path_ = aPath;
    if (!write())
        throw daemon_error(kEXIT_CANTCREAT, "cannot write the metrics file " + path_ + " (" +
                                                std::strerror(errno) + ")");
    thread_ = std::thread([this] { rewrite(); });
}

void metrics_file::stop()
{
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    unlink(path_.c_str());
}

// The temporary name does not end in .prom, so the collector never picks it up.
bool metrics_file::write() const
{
    const std::string text = board_.text();
    const std::string temporary = path_ + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    if (::close(fd) != 0 || !written || rename(temporary.c_str(), path_.c_str()) != 0)
    {
        errno = written ? errno : error;
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// A failure is told once, and again only after the file was written in between.
void metrics_file::rewrite()
{
    bool failing = false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kREWRITE_EVERY, [this] { return stopping_; }))
    {
        lock.unlock();
        const bool written = write();
        if (!written && !failing)
            std::fprintf(stderr, "vesk11d: cannot write the metrics file %s (%s)\n", path_.c_str(),
                         std::strerror(errno));
        failing = !written;
        lock.lock();
    }
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
