// A bounded queue of whole blocks on their way to one reader, as one byte ring: a block goes in
// whole or not at all, and leaves in pieces as the reader's side takes them.
#ifndef VESK11_VESK11D_BLOCK_QUEUE_HPP
#define VESK11_VESK11D_BLOCK_QUEUE_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

class block_queue
{
  public:
    explicit block_queue(size_t aCapacity) : ring_(aCapacity) {}

    // Queues the aSize bytes at aBlock when they all fit; false (nothing queued) otherwise.
    bool push(const uint8_t* aBlock, size_t aSize);
    // Writes what is queued to aFd, without waiting. Returns the bytes written (0 when the
    // descriptor takes nothing now), or -1 with errno set.
    long write_to(int aFd);
    void clear() { head_ = size_ = 0; }
    bool empty() const { return size_ == 0; }

  private:
    std::vector<uint8_t> ring_;
    size_t head_ = 0;
    size_t size_ = 0;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
