#include "device_holder.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Orvo
{
namespace Support
{

namespace
{

std::string _T_command_name(pid_t aPid)
{
    std::ifstream comm("/proc/" + std::to_string(aPid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// A line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; a waiter's has "->"
// after the number and holds nothing.
pid_t _T_lock_holder(const struct stat& aDevice)
{
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line))
    {
        std::istringstream fields(line);
        std::string number, type, mode, access, file;
        long pid = 0;
        if (!(fields >> number >> type >> mode >> access >> pid >> file) || type == "->")
            continue;
        // MAJOR:MINOR:INODE, the first two in hexadecimal.
        char* end = nullptr;
        const unsigned long major = std::strtoul(file.c_str(), &end, 16);
        if (*end != ':')
            continue;
        const unsigned long minor = std::strtoul(end + 1, &end, 16);
        if (*end != ':')
            continue;
        const unsigned long long inode = std::strtoull(end + 1, &end, 10);
        if (*end == '\0' && major == major(aDevice.st_dev) && minor == minor(aDevice.st_dev) &&
            inode == aDevice.st_ino && pid > 0 && pid != getpid())
            return static_cast<pid_t>(pid);
    }
    return 0;
}

bool _T_same_file(const struct stat& aOne, const struct stat& aOther)
{
    return aOne.st_dev == aOther.st_dev && aOne.st_ino == aOther.st_ino;
}

bool _T_has_open(pid_t aPid, const struct stat& aDevice)
{
    std::error_code error;
    std::filesystem::directory_iterator fds("/proc/" + std::to_string(aPid) + "/fd", error);
    struct stat file
    {
    };
    for (; !error && fds != std::filesystem::directory_iterator(); fds.increment(error))
        if (stat(fds->path().c_str(), &file) == 0 && _T_same_file(file, aDevice))
            return true;
    return false;
}

pid_t _T_opener(const struct stat& aDevice)
{
    std::error_code error;
    std::filesystem::directory_iterator processes("/proc", error);
    for (; !error && processes != std::filesystem::directory_iterator(); processes.increment(error))
    {
        const std::string name = processes->path().filename().string();
        char* end = nullptr;
        const long pid = std::strtol(name.c_str(), &end, 10);
        if (*end == '\0' && pid > 0 && pid != getpid() &&
            _T_has_open(static_cast<pid_t>(pid), aDevice))
            return static_cast<pid_t>(pid);
    }
    return 0;
}

} // namespace

device_holder FindDeviceHolder(const std::string& aPath)
{
    device_holder holder;
    struct stat device
    {
    };
    if (stat(aPath.c_str(), &device) != 0)
        return holder;
    holder.pid = _T_lock_holder(device);
    holder.locked = holder.pid != 0;
    if (holder.pid == 0)
        holder.pid = _T_opener(device);
    if (holder.pid != 0)
        holder.name = _T_command_name(holder.pid);
    return holder;
}

} // namespace Support
} // namespace Orvo
