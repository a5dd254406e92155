#include "sim_line.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

// Pause between the bytes of a split block: a reader polling the line gets them one by one.
constexpr long kSPLIT_PAUSE_NS = 200L * 1000L;
constexpr uint64_t kNS_PER_S = 1000000000;
// A byte on an 8N1 line is 10 bits: start, 8 data, stop. Bit time x baud = 1 s.
constexpr uint64_t kBYTE_BITS_NS = 10 * kNS_PER_S;

uint64_t _T_now_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNS_PER_S + static_cast<uint64_t>(now.tv_nsec);
}

std::string _T_errno_text(const std::string& aWhat)
{
    return aWhat + ": " + std::strerror(errno);
}

// Raw 8N1 at 115200 baud, reads returning as soon as one byte is there.
bool _T_make_raw(int aFd)
{
    termios settings{};
    if (tcgetattr(aFd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return cfsetospeed(&settings, B115200) == 0 && cfsetispeed(&settings, B115200) == 0 &&
           tcsetattr(aFd, TCSANOW, &settings) == 0;
}

bool _T_set_flags(int aFd)
{
    int flags = fcntl(aFd, F_GETFL);
    return flags >= 0 && fcntl(aFd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(aFd, F_SETFD, FD_CLOEXEC) == 0;
}

// A symlink whose target is gone, as a killed run leaves its link; errno is kept for the caller.
bool _T_is_dangling_link(const std::string& aPath)
{
    int saved = errno;
    struct stat info
    {
    };
    bool dangling = lstat(aPath.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
                    stat(aPath.c_str(), &info) != 0 && errno == ENOENT;
    errno = saved;
    return dangling;
}

} // namespace

sim_line::~sim_line()
{
    close_line();
    remove_link();
}

bool sim_line::open_pty(std::string& aError)
{
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
    {
        aError = _T_errno_text("cannot create a pseudo-terminal");
        return false;
    }
    fd_ = master;
    slave_fd_ = slave;
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0 || !_T_make_raw(slave) || !_T_set_flags(master) ||
        fcntl(slave, F_SETFD, FD_CLOEXEC) != 0)
    {
        aError = _T_errno_text("cannot set up the pseudo-terminal");
        close_line();
        return false;
    }
    path_ = name;
    return true;
}

bool sim_line::open_device(const std::string& aPath, std::string& aError)
{
    fd_ = open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
    {
        aError = _T_errno_text("cannot open " + aPath);
        return false;
    }
    if (tcgetattr(fd_, &old_termios_) != 0)
    {
        aError = _T_errno_text("not a serial device: " + aPath);
        close_line();
        return false;
    }
    restore_ = true;
    tcflush(fd_, TCIOFLUSH);
    if (!_T_make_raw(fd_))
    {
        aError = _T_errno_text("cannot set up " + aPath);
        close_line();
        return false;
    }
    path_ = aPath;
    return true;
}

bool sim_line::make_link(const std::string& aLinkPath, std::string& aError)
{
    bool made = symlink(path_.c_str(), aLinkPath.c_str()) == 0;
    if (!made && errno == EEXIST && _T_is_dangling_link(aLinkPath))
        made = unlink(aLinkPath.c_str()) == 0 && symlink(path_.c_str(), aLinkPath.c_str()) == 0;
    if (!made)
    {
        aError = _T_errno_text("cannot make the link " + aLinkPath);
        return false;
    }
    link_path_ = aLinkPath;
    return true;
}

ssize_t sim_line::read_some(uint8_t* aBuffer, size_t aSize)
{
    if (fd_ < 0)
        return -1;
    ssize_t n = read(fd_, aBuffer, aSize);
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    return -1;
}

void sim_line::pace(uint32_t aBaud, int aStopFd)
{
    baud_ = aBaud;
    stop_fd_ = aStopFd;
}

write_outcome_t sim_line::write_block(const uint8_t* aData, size_t aSize, bool aSplit)
{
    if (baud_ > 0)
        return write_paced(aData, aSize);
    if (!aSplit)
        return write_piece(aData, aSize);
    for (size_t i = 0; i < aSize; ++i)
    {
        if (i > 0)
        {
            timespec pause{0, kSPLIT_PAUSE_NS};
            nanosleep(&pause, nullptr);
        }
        write_outcome_t outcome = write_piece(aData + i, 1);
        if (outcome != write_outcome_t::kWRITTEN)
            return outcome;
    }
    return write_outcome_t::kWRITTEN;
}

write_outcome_t sim_line::write_piece(const uint8_t* aData, size_t aSize)
{
    size_t done = 0;
    while (done < aSize)
    {
        if (fd_ < 0)
            return write_outcome_t::kFAILED;
        ssize_t n = write(fd_, aData + done, aSize - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN)
            return write_outcome_t::kDROPPED;
        else
            return write_outcome_t::kFAILED;
    }
    return write_outcome_t::kWRITTEN;
}

// Each byte is written once a UART would have sent its last bit: byte i (from 0) at
// (i + 1) * 10 bit times after the start. Bytes that fell due together go in one write.
write_outcome_t sim_line::write_paced(const uint8_t* aData, size_t aSize)
{
    uint64_t start = _T_now_ns();
    uint64_t blockNs = (aSize * kBYTE_BITS_NS + baud_ - 1) / baud_;
    size_t done = 0;
    while (done < aSize)
    {
        uint64_t elapsed = _T_now_ns() - start;
        size_t due =
            elapsed >= blockNs ? aSize : static_cast<size_t>(elapsed * baud_ / kBYTE_BITS_NS);
        if (due > done)
        {
            write_outcome_t outcome = write_piece(aData + done, due - done);
            if (outcome != write_outcome_t::kWRITTEN)
                return outcome;
            done = due;
            continue;
        }
        // Rounded up, so that the wake-up is never before the byte is due.
        uint64_t next = ((done + 1) * kBYTE_BITS_NS + baud_ - 1) / baud_;
        uint64_t wait = next > elapsed ? next - elapsed : 0;
        timespec timeout{static_cast<time_t>(wait / kNS_PER_S),
                         static_cast<long>(wait % kNS_PER_S)};
        pollfd stop{stop_fd_, POLLIN, 0};
        if (ppoll(&stop, stop_fd_ >= 0 ? 1 : 0, &timeout, nullptr) > 0)
            return write_outcome_t::kDROPPED;
    }
    return write_outcome_t::kWRITTEN;
}

void sim_line::close_line()
{
    if (fd_ >= 0 && restore_)
        tcsetattr(fd_, TCSANOW, &old_termios_);
    restore_ = false;
    if (fd_ >= 0)
        close(fd_);
    if (slave_fd_ >= 0)
        close(slave_fd_);
    fd_ = -1;
    slave_fd_ = -1;
}

void sim_line::remove_link()
{
    if (!link_path_.empty())
        unlink(link_path_.c_str());
    link_path_.clear();
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
