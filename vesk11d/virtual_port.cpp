#include "virtual_port.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "daemon_error.hpp"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

constexpr size_t kREAD_CHUNK = 4096;

std::string _T_why(const std::string& aWhat)
{
    return aWhat + " (" + std::strerror(errno) + ")";
}

// Opening the slave once and closing it also leaves the master hung up until a client opens it,
// which is how an idle port is told from one in use.
void _T_make_raw(const std::string& aSlave)
{
    const int slave = ::open(aSlave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (slave < 0 || tcgetattr(slave, &settings) != 0)
        throw daemon_error(kEXIT_OSERR, _T_why("cannot set up " + aSlave));
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    const bool set = tcsetattr(slave, TCSANOW, &settings) == 0;
    ::close(slave);
    if (!set)
        throw daemon_error(kEXIT_OSERR, _T_why("cannot set up " + aSlave));
}

void _T_replace_link(const std::string& aTarget, const std::string& aLink)
{
    struct stat found = {};
    if (lstat(aLink.c_str(), &found) == 0)
    {
        if (!S_ISLNK(found.st_mode))
            throw daemon_error(kEXIT_CANTCREAT, aLink + " exists and is not a symlink: remove it");
        unlink(aLink.c_str());
    }
    if (symlink(aTarget.c_str(), aLink.c_str()) != 0)
        throw daemon_error(kEXIT_CANTCREAT, _T_why("cannot make the port link " + aLink));
}

} // namespace

virtual_port::~virtual_port()
{
    close();
}

void virtual_port::open()
{
    if (!BlockDecoder11__Init(&decoder_, &virtual_port::handle_event, this))
        throw daemon_error(kEXIT_OSERR, "out of memory");
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname(master_) == nullptr)
        throw daemon_error(kEXIT_OSERR, _T_why("cannot make a pseudo-terminal"));
    slave_path_ = ptsname(master_);
    _T_make_raw(slave_path_);
    if (chown(slave_path_.c_str(), setup_.owner, setup_.group) != 0 && setup_.owner_given)
        throw daemon_error(kEXIT_CANTCREAT, _T_why("cannot give " + slave_path_ + " its owner"));
    if (chmod(slave_path_.c_str(), setup_.mode) != 0)
        throw daemon_error(kEXIT_CANTCREAT, _T_why("cannot set the mode of " + slave_path_));
    _T_replace_link(slave_path_, setup_.link);
}

void virtual_port::close()
{
    if (master_ < 0)
        return;
    unlink(setup_.link.c_str());
    ::close(master_);
    master_ = -1;
    BlockDecoder11__Deinit(&decoder_);
}

short virtual_port::events() const
{
    return static_cast<short>(POLLIN | (queue_.empty() ? 0 : POLLOUT));
}

void virtual_port::serve(short aRevents)
{
    if ((aRevents & POLLIN) != 0)
        read_client();
    if (attached() && (aRevents & POLLOUT) != 0)
        flush_queue();
    if (attached() && (aRevents & (POLLHUP | POLLERR)) != 0 && (aRevents & POLLIN) == 0)
        detach();
}

void virtual_port::notice(short aRevents)
{
    if ((aRevents & POLLHUP) != 0 || stats_.attached)
        return;
    stats_.attached = true;
    ++stats_.clients;
}

void virtual_port::offer(const uint8_t* aBlock, size_t aSize)
{
    if (!attached())
        return;
    if (!queue_.push(aBlock, aSize))
    {
        ++stats_.blocks_dropped;
        return;
    }
    ++stats_.blocks_copied;
    flush_queue();
}

void virtual_port::forwarded()
{
    has_query_ = false;
    ++stats_.queries_forwarded;
}

void virtual_port::drop_query()
{
    if (has_query_)
        ++stats_.queries_lost;
    has_query_ = false;
}

void virtual_port::read_client()
{
    uint8_t bytes[kREAD_CHUNK];
    const ssize_t got = read(master_, bytes, sizeof bytes);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0)
    {
        detach(); // EIO: the last client closed the port
        return;
    }
    if (!setup_.writable)
    {
        stats_.ignored_bytes += static_cast<uint64_t>(got);
        return;
    }
    BlockDecoder11__AddBuffer(&decoder_, bytes, static_cast<size_t>(got));
    stats_.garbage_bytes = BlockDecoder11__Discarded(&decoder_);
}

void virtual_port::flush_queue()
{
    if (!queue_.empty() && queue_.write_to(master_) < 0)
        detach();
}

// The client is gone: nothing more is queued for the port until one opens it again, and what it
// left unread or half written goes.
void virtual_port::detach()
{
    stats_.attached = false;
    queue_.clear();
    BlockDecoder11__Reset(&decoder_);
    record_ = block_record{};
    drop_query();
    discard_unread();
}

// Bytes the last client left unread would reach the next one: the slave's input is flushed.
void virtual_port::discard_unread()
{
    const int slave = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return;
    tcflush(slave, TCIFLUSH);
    ::close(slave);
}

void virtual_port::handle_event(void* aSelf, uint64_t /*aBlockTs*/, uint8_t aStat,
                                uint16_t aMsgIdent, void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    virtual_port* self = static_cast<virtual_port*>(aSelf);
    block_record& record = self->record_;
    BlockRecord__Take(&record, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    if (aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        ++self->stats_.frames_rejected;
    if (aStat != kBLOCKDECODER11_STAT_FINI_OK)
        return;
    if (record.total != record.size ||
        !UatAction4__IsWellFormedQueryBatch(record.bytes, record.size))
    {
        ++self->stats_.frames_rejected;
        return;
    }
    if (self->has_query_)
        ++self->stats_.queries_replaced;
    std::memcpy(self->query_, record.bytes, sizeof self->query_);
    self->has_query_ = true;
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
