// Who holds a device: for a message that says which program has the line when it is locked.
#ifndef VESK11_SDK_CORE_DEVICE_HOLDER_HPP
#define VESK11_SDK_CORE_DEVICE_HOLDER_HPP

#include <string>
#include <sys/types.h>

namespace Orvo
{
namespace Support
{

struct device_holder
{
    pid_t pid = 0;    // 0: none found
    std::string name; // its command name (/proc/PID/comm); may be empty
    bool locked =
        false; // found as the holder of a lock on the device, else as a process that has it open
};

// Another process than this one that holds a lock on the device at aPath (/proc/locks), else one
// that has it open (/proc/PID/fd, as far as this process may look); pid 0 when none can be seen.
device_holder FindDeviceHolder(const std::string& aPath);

} // namespace Support
} // namespace Orvo

#endif
