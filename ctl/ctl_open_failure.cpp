#include "ctl_open_failure.hpp"

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <sys/stat.h>

#include "daemon_lines.hpp"
#include "device_holder.hpp"
#include "serial_rs485.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// The group that owns aDevice (dialout, uucp, ...), or its number; empty when it cannot be read.
std::string _T_group_of(const std::string& aDevice)
{
    struct stat info
    {
    };
    if (stat(aDevice.c_str(), &info) != 0)
        return "";
    group entry{};
    group* owner = nullptr;
    char room[4096];
    if (getgrgid_r(info.st_gid, &entry, room, sizeof room, &owner) == 0 && owner != nullptr)
        return owner->gr_name;
    return std::to_string(info.st_gid);
}

ctl_error _T_no_access(const std::string& aDevice, int aError)
{
    const std::string head = "cannot open " + aDevice + ": ";
    switch (aError)
    {
    case ENOENT:
    case ENOTDIR:
        return MissingError(head + "no such device (check the path; a USB adapter's device "
                                   "appears only while it is plugged in)");
    case ENXIO:
    case ENODEV:
        return MissingError(head + "nothing is behind it (" + std::strerror(aError) +
                            "): is the adapter plugged in?");
    case EACCES:
    case EPERM:
    {
        const std::string group = _T_group_of(aDevice);
        return DeniedError(head + "permission denied" +
                           (group.empty() ? std::string()
                                          : ": it belongs to the group " + group +
                                                "; add the user to it (usermod -aG " + group +
                                                " USER) and log in again"));
    }
    default:
        return UnavailableError(head + std::strerror(aError));
    }
}

} // namespace

std::string LockedMessage(const std::string& aDevice)
{
    const std::string held = DaemonHoldingHint(aDevice);
    if (!held.empty())
        return "cannot open " + aDevice + ": " + held;
    const device_holder holder = FindDeviceHolder(aDevice);
    std::string text = "cannot open " + aDevice + ": locked by another program";
    if (holder.pid == 0)
        return text + " (which one cannot be seen from here)";
    const std::string who = holder.name + " (pid " + std::to_string(holder.pid) + ")";
    return text + (holder.locked ? ", " + who : "; " + who + " has it open");
}

ctl_error OpenFailure(const std::string& aDevice, const serial_rs485_args& aRs485,
                      exchange_open_status aStatus, int aError)
{
    switch (aStatus)
    {
    case kEXCHANGE_OPEN_NO_ACCESS:
        return _T_no_access(aDevice, aError);
    case kEXCHANGE_OPEN_LOCKED:
        return LockedError(LockedMessage(aDevice));
    case kEXCHANGE_OPEN_NOT_SERIAL:
        return NotSerialError("cannot open " + aDevice + ": not a serial line (" +
                              std::strerror(aError) + ")");
    case kEXCHANGE_OPEN_RS485_REFUSED:
        return UnavailableError("the driver of " + aDevice + " refused RS-485 mode " +
                                SerialRs485__ModeName(aRs485.mode) +
                                " (no RS-485 support); the line is left as found");
    default:
        return UnavailableError("cannot set " + aDevice +
                                " up as a serial line at 115200 baud 8N1 (the log tells why)");
    }
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
