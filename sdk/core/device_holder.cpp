#include "device_holder.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <dirent.h>
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
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            major == major(aDevice.st_dev) && minor == minor(aDevice.st_dev) &&
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
    const std::string folder = "/proc/" + std::to_string(aPid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    if (fds == nullptr)
        return false;
    bool found = false;
    struct stat file
    {
    };
    for (const dirent* entry = readdir(fds); entry != nullptr && !found; entry = readdir(fds))
        found = entry->d_name[0] != '.' &&
                stat((folder + "/" + entry->d_name).c_str(), &file) == 0 &&
                _T_same_file(file, aDevice);
    closedir(fds);
    return found;
}

pid_t _T_opener(const struct stat& aDevice)
{
    DIR* processes = opendir("/proc");
    if (processes == nullptr)
        return 0;
    pid_t found = 0;
    for (const dirent* entry = readdir(processes); entry != nullptr && found == 0;
         entry = readdir(processes))
    {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end == '\0' && pid > 0 && pid != getpid() &&
            _T_has_open(static_cast<pid_t>(pid), aDevice))
            found = static_cast<pid_t>(pid);
    }
    closedir(processes);
    return found;
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
