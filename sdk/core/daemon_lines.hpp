// Where vesk11d publishes the lines it holds, so that a program refused a line's lock can say
// which port to use instead. Layout: DIR/LINE/ holds one symlink per port (NAME -> its
// pseudo-terminal) and the record file kDAEMON_LINE_RECORD: "pid N", "device PATH",
// "rdev MAJOR:MINOR" and one "port NAME rw|ro" per port, a line each.
#ifndef VESK11_SDK_CORE_DAEMON_LINES_HPP
#define VESK11_SDK_CORE_DAEMON_LINES_HPP

#include <string>
#include <vector>

#include <sys/types.h>

namespace Orvo
{
namespace Support
{

constexpr const char* kDAEMON_LINE_RECORD = ".line";
constexpr const char* kDAEMON_RUNTIME_DIR = "/run/vesk11";

struct daemon_port
{
    std::string name;
    bool writable = true;
};

struct daemon_line
{
    pid_t pid = 0;
    std::string device;
    dev_t rdev = 0;
    std::vector<daemon_port> ports;
};

// Writes aLine as the record of the line folder aLineDir, through a temporary file renamed into
// place, so a reader never sees half a record. False (errno set) when it cannot be written.
bool WriteDaemonLine(const std::string& aLineDir, const daemon_line& aLine);

// Reads the record file aPath. False when it cannot be read or lacks the pid, the device number
// or a port.
bool ReadDaemonLine(const std::string& aPath, daemon_line* aLine);

// The runtime folder clients look in: VESK11_RUNTIME_DIR when set and not empty, else
// kDAEMON_RUNTIME_DIR.
std::string DaemonRuntimeDir();

// When a running vesk11d holds the device aDevicePath names (the same device number, whatever
// path leads to it), "held by vesk11d (pid N); use its port PATH instead", PATH the first
// read-write port, else the first; "" otherwise: no record, no such device, or a record whose
// daemon has died. Reads only; never throws.
std::string DaemonHoldingHint(const std::string& aDevicePath);

} // namespace Support
} // namespace Orvo

#endif
