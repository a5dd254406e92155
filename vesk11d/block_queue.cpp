#include "block_queue.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/uio.h>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

bool block_queue::push(const uint8_t* aBlock, size_t aSize)
{
    const size_t capacity = ring_.size();
    if (aSize > capacity - size_)
        return false;
    const size_t tail = (head_ + size_) % capacity;
    const size_t first = std::min(aSize, capacity - tail);
    std::memcpy(ring_.data() + tail, aBlock, first);
    std::memcpy(ring_.data(), aBlock + first, aSize - first);
    size_ += aSize;
    return true;
}

long block_queue::write_to(int aFd)
{
    const size_t capacity = ring_.size();
    const size_t first = std::min(size_, capacity - head_);
    iovec pieces[2] = {{ring_.data() + head_, first}, {ring_.data(), size_ - first}};
    const ssize_t written = writev(aFd, pieces, size_ > first ? 2 : 1);
    if (written < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    head_ = (head_ + static_cast<size_t>(written)) % capacity;
    size_ -= static_cast<size_t>(written);
    return written;
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
