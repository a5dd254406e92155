#include "daemon_lines.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Orvo
{
namespace Support
{
namespace
{

bool _T_alive(pid_t aPid)
{
    return kill(aPid, 0) == 0 || errno == EPERM;
}

const daemon_port& _T_port_to_use(const daemon_line& aLine)
{
    for (const daemon_port& port : aLine.ports)
    {
        if (port.writable)
            return port;
    }
    return aLine.ports.front();
}

} // namespace

bool WriteDaemonLine(const std::string& aLineDir, const daemon_line& aLine)
{
    const std::string path = aLineDir + "/" + kDAEMON_LINE_RECORD;
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << "pid " << aLine.pid << "\ndevice " << aLine.device << "\nrdev " << major(aLine.rdev)
            << ':' << minor(aLine.rdev) << '\n';
        for (const daemon_port& port : aLine.ports)
            out << "port " << port.name << (port.writable ? " rw\n" : " ro\n");
        if (!out.flush())
        {
            unlink(temp.c_str());
            errno = errno != 0 ? errno : EIO;
            return false;
        }
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool ReadDaemonLine(const std::string& aPath, daemon_line* aLine)
{
    std::ifstream in(aPath);
    if (!in)
        return false;
    for (std::string text; std::getline(in, text);)
    {
        std::istringstream words(text);
        std::string key;
        words >> key;
        if (key == "pid")
            words >> aLine->pid;
        else if (key == "device")
            std::getline(words >> std::ws, aLine->device);
        else if (key == "rdev")
        {
            unsigned major = 0;
            unsigned minor = 0;
            char colon = 0;
            if (words >> major >> colon >> minor && colon == ':')
                aLine->rdev = makedev(major, minor);
        }
        else if (key == "port")
        {
            daemon_port port;
            std::string mode;
            words >> port.name >> mode;
            port.writable = mode == "rw";
            if (!port.name.empty())
                aLine->ports.push_back(port);
        }
    }
    return aLine->pid > 0 && aLine->rdev != 0 && !aLine->ports.empty();
}

std::string DaemonRuntimeDir()
{
    const char* dir = std::getenv("VESK11_RUNTIME_DIR");
    return dir != nullptr && *dir != '\0' ? dir : kDAEMON_RUNTIME_DIR;
}

std::string DaemonHoldingHint(const std::string& aDevicePath)
{
    struct stat device = {};
    if (stat(aDevicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return "";
    std::string hint;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(DaemonRuntimeDir(), error), end;
         !error && entry != end && hint.empty(); entry.increment(error))
    {
        const std::string lineDir = entry->path().string();
        daemon_line line;
        if (entry->path().filename().string()[0] == '.' ||
            !ReadDaemonLine(lineDir + "/" + kDAEMON_LINE_RECORD, &line) ||
            line.rdev != device.st_rdev || !_T_alive(line.pid))
            continue;
        hint = "held by vesk11d (pid " + std::to_string(line.pid) + "); use its port " + lineDir +
               "/" + _T_port_to_use(line).name + " instead";
    }
    return hint;
}

} // namespace Support
} // namespace Orvo
