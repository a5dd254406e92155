// The command line of vesk11d.
#ifndef VESK11_VESK11D_DAEMON_OPTIONS_HPP
#define VESK11_VESK11D_DAEMON_OPTIONS_HPP

#include <string>
#include <vector>

#include <sys/types.h>

#include "transport_serial_types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

struct port_option
{
    std::string name;
    bool writable = true;
};

struct daemon_options
{
    std::string device;
    std::string name;        // LINE: the base name of the device path unless given
    std::string runtime_dir; // DIR: $RUNTIME_DIRECTORY, else the default runtime folder
    std::vector<port_option> ports;
    // Unset (-1): the device's own owner, group and mode (without execute bits).
    uid_t port_owner = static_cast<uid_t>(-1);
    gid_t port_group = static_cast<gid_t>(-1);
    int port_mode = -1;
    // The control socket's: unset, the daemon's owner, the device's group, mode 0660.
    uid_t control_owner = static_cast<uid_t>(-1);
    gid_t control_group = static_cast<gid_t>(-1);
    int control_mode = -1;
    std::string metrics_listen; // ADDR:PORT of the HTTP endpoint; empty: none
    std::string metrics_file;   // the node exporter's textfile; empty: none
    serial_rs485_args rs485{};
    int log_level = 0;
    bool help = false;
    bool version = false;
};

// Reads the command line and the environment (RUNTIME_DIRECTORY, VESK11_RS485). Throws a
// daemon_error with kEXIT_USAGE and the reason on a bad option.
daemon_options ParseOptions(int aArgc, char** aArgv);

std::string UsageText();

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
