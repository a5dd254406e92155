// The --trace lines, written so that they never hold up the sensor: a line that cannot be written
// at once is dropped and counted, and the count goes out as a line of its own,
// "dropped lines=N", just before the next line that can be written.
#ifndef VESK11_SIM_TRACE_SINK_HPP
#define VESK11_SIM_TRACE_SINK_HPP

#include <cstdint>
#include <string>

#include <sys/types.h>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

class trace_sink
{
  public:
    trace_sink() = default;
    ~trace_sink(); // closes its own descriptor, never aFd
    trace_sink(const trace_sink&) = delete;
    trace_sink& operator=(const trace_sink&) = delete;

    // Writes to aFd from now on. A pipe or terminal is opened again through /proc as a
    // descriptor of its own that never blocks, so aFd's flags, shared with other processes,
    // stay as they are; a socket is sent to without waiting; a regular file is written as is.
    void open(int aFd);
    void write_line(const std::string& aLine);
    // One last try, without waiting, at what is still owed: the rest of a line cut short and
    // the count of lines dropped.
    void flush();

  private:
    enum class write_mode_t
    {
        kWRITE, // the descriptor never blocks
        kSEND,  // a socket: each send says not to wait
        kPOLL,  // none of these could be had: written only when poll says it goes at once
    };

    ssize_t write_now(const std::string& aText);
    bool pay_owed();
    std::string notice() const;

    int fd_ = -1;
    bool own_fd_ = false;
    write_mode_t mode_ = write_mode_t::kPOLL;
    std::string owed_; // the rest of a line cut short, finished before anything else
    uint64_t dropped_ = 0;
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
