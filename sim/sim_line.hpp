// The simulated sensor's end of the line: a fresh pseudo-terminal (its slave path offered to the
// client, optionally through a symlink) or a real serial device.
#ifndef VESK11_SIM_SIM_LINE_HPP
#define VESK11_SIM_SIM_LINE_HPP

#include <cstddef>
#include <cstdint>
#include <string>

#include <linux/serial.h>
#include <sys/types.h>
#include <termios.h>

#include "transport_serial_types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

enum class write_outcome_t
{
    kWRITTEN,
    kDROPPED, // nobody drains the line: the rest of the block is lost, as on a wire
    kFAILED,  // the line is broken
};

class sim_line
{
  public:
    sim_line() = default;
    ~sim_line(); // closes and removes the link
    sim_line(const sim_line&) = delete;
    sim_line& operator=(const sim_line&) = delete;

    // A raw pty; the sensor keeps its own slave descriptor open (no lock taken), so a client
    // closing the line never hangs it up.
    bool open_pty(std::string& aError);
    // A serial device at 115200 baud, raw, 8N1, in the RS-485 mode aRs485 asks for (off: left
    // alone); its settings and RS-485 state are put back on close. A driver that refuses the
    // mode leaves the device as found.
    bool open_device(const std::string& aPath, const serial_rs485_args& aRs485,
                     std::string& aError);
    // A symlink to the line; one left dangling by a killed run is replaced, anything else that
    // exists at aLinkPath is refused.
    bool make_link(const std::string& aLinkPath, std::string& aError);

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // From now on every byte written takes the time a UART at aBaud, 8N1, needs to send it
    // (0: none). A pacing wait ends early when aStopFd becomes readable, and the rest of that
    // block is dropped.
    void pace(uint32_t aBaud, int aStopFd);

    // Reads what is waiting: a count, 0 when nothing is, -1 when the line is gone.
    ssize_t read_some(uint8_t* aBuffer, size_t aSize);
    // aSplit writes one byte per call, with a short pause, so that a reader sees the pieces (a
    // paced line writes each byte as it comes due anyway).
    write_outcome_t write_block(const uint8_t* aData, size_t aSize, bool aSplit);

    void close_line(); // the client sees a hang-up (pty) or silence (device)
    void remove_link();

  private:
    write_outcome_t write_piece(const uint8_t* aData, size_t aSize);
    write_outcome_t write_paced(const uint8_t* aData, size_t aSize);

    int fd_ = -1;       // pty master or device
    int slave_fd_ = -1; // pty mode only
    uint32_t baud_ = 0;
    int stop_fd_ = -1;
    bool restore_ = false;
    termios old_termios_{};
    bool restore_rs485_ = false;
    struct serial_rs485 old_rs485_
    {
    };
    std::string path_;
    std::string link_path_;
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
