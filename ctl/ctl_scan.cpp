// scan: which devices carry a sensor. Every device is listened to at once, each on a thread of
// its own; only a device on which an intact block came is ever written to.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <glob.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "ctl_commands.hpp"
#include "ctl_error.hpp"
#include "ctl_shared.hpp"
#include "log.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// Devices probed at once; more wait for the next round.
constexpr size_t kSCAN_THREADS = 32;
constexpr int kSCAN_RETRIES = 1;

struct scan_device
{
    std::string path;
    std::string by_id; // the /dev/serial/by-id name, when it has one
};

struct scan_result
{
    std::string state; // "sensor", "no blocks", "busy (locked)", ...
    double rate = 0;   // intact blocks per second
    long long serial = 0;
    std::string firmware;
};

std::vector<std::string> _T_glob(const char* aPattern)
{
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(aPattern, 0, nullptr, &found) == 0)
        paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
    return paths;
}

// A ttyS* node exists for every possible UART; only those with hardware behind them count.
bool _T_real_port(const std::string& aPath)
{
    const int fd = open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EBUSY; // there, but not ours to open
    serial_struct info{};
    const bool real = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
    close(fd);
    return real;
}

// by-id names first, then the kernel names, each physical device once.
std::vector<scan_device> _T_default_devices()
{
    std::vector<scan_device> devices;
    std::vector<std::string> seen;
    for (const char* pattern :
         {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"})
    {
        const bool byId = std::strstr(pattern, "by-id") != nullptr;
        for (const std::string& path : _T_glob(pattern))
        {
            char real[PATH_MAX];
            if (realpath(path.c_str(), real) == nullptr ||
                std::find(seen.begin(), seen.end(), real) != seen.end() || !_T_real_port(real))
                continue;
            seen.emplace_back(real);
            devices.push_back(byId ? scan_device{real, path} : scan_device{path, ""});
        }
    }
    return devices;
}

// Why a device cannot be listened to, found without writing to it; empty when it can.
std::string _T_unusable(const std::string& aPath)
{
    struct stat info
    {
    };
    if (stat(aPath.c_str(), &info) != 0)
        return errno == EACCES ? "permission denied"
                               : std::string("cannot open: ") + std::strerror(errno);
    if (!S_ISCHR(info.st_mode))
        return "not a serial port";
    const int fd = open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM
                   ? "permission denied"
                   : std::string("cannot open: ") + std::strerror(errno);
    termios settings{};
    std::string reason;
    if (tcgetattr(fd, &settings) != 0)
        reason = "not a serial port";
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = "busy (locked)";
    close(fd);
    return reason;
}

// Counts the intact blocks the link's tap sees, with the time of the first and the last.
struct block_counter
{
    long intact = 0;
    std::chrono::steady_clock::time_point first;
    std::chrono::steady_clock::time_point last;

    static void tap(void* aArg, uint64_t /*aBlockTs*/, uint8_t aStat, uint16_t /*aMsgIdent*/,
                    void* /*aMsgPayloadData*/, uint8_t /*aMsgPayloadSize*/)
    {
        if (aStat != kBLOCKDECODER11_STAT_FINI_OK)
            return;
        block_counter* self = static_cast<block_counter*>(aArg);
        self->last = std::chrono::steady_clock::now();
        if (self->intact++ == 0)
            self->first = self->last;
    }

    double rate() const
    {
        const double span = std::chrono::duration<double>(last - first).count();
        return intact > 1 && span > 0 ? static_cast<double>(intact - 1) / span : 0;
    }
};

scan_result _T_probe(const std::string& aPath, const ctl_options& aOptions,
                     const signal_guard& aSignals)
{
    scan_result result;
    result.state = _T_unusable(aPath);
    if (!result.state.empty())
        return result;
    block_counter counter;
    link_settings settings{
        aPath, aOptions.timeout_ms, kSCAN_RETRIES, block_counter::tap, &counter, &aSignals};
    settings.rs485 = aOptions.rs485; // a line that needs it gives no intact block without it
    try
    {
        sensor_link link(settings);
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(aOptions.listen_ms);
        for (auto now = std::chrono::steady_clock::now(); now < end;
             now = std::chrono::steady_clock::now())
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            if (link.listen(static_cast<int>(left) + 1).status == kEXCHANGE_STOPPED)
                throw InterruptedError("interrupted");
        }
        if (counter.intact == 0)
            return scan_result{"no blocks", 0, 0, {}};
        ctl_output quiet(false, true);
        const ctl_json identity = ReadIdentity(link, quiet, 1);
        result.serial = identity["hw_serial"].get<long long>();
        result.firmware = identity["firmware"].get<std::string>();
        result.state = "sensor";
        result.rate = counter.rate();
    }
    catch (const ctl_error& x)
    {
        LOG_WRITE(1, "fail: %s <%s>", aPath.c_str(), x.message().c_str());
        result.state = counter.intact == 0 ? x.message() : "sensor, no identity: " + x.message();
    }
    return result;
}

std::string _T_rate(double aRate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f blocks/s", aRate);
    return text;
}

void _T_show(ctl_output& aOutput, const std::vector<scan_device>& aDevices,
             const std::vector<scan_result>& aResults)
{
    ctl_json devices = ctl_json::array();
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < aDevices.size(); ++i)
    {
        const scan_result& r = aResults[i];
        const bool sensor = r.state == "sensor";
        ctl_json device{
            {"path", aDevices[i].path}, {"by_id", aDevices[i].by_id}, {"state", r.state}};
        std::vector<std::string> row = {
            aDevices[i].path + (aDevices[i].by_id.empty() ? "" : " (" + aDevices[i].by_id + ")"),
            r.state};
        if (sensor)
        {
            device["rate"] = r.rate;
            device["hw_serial"] = r.serial;
            device["firmware"] = r.firmware;
            row.insert(row.end(), {_T_rate(r.rate), "serial " + std::to_string(r.serial),
                                   "firmware " + r.firmware});
        }
        devices.push_back(device);
        rows.push_back(row);
    }
    if (aOutput.json())
        aOutput.emit(ctl_json{{"devices", devices}});
    else
        aOutput.rows(rows);
}

// What to check, on standard error, when no device gave its identity: a sensor slower than the
// listening or than the time-out looks like none.
void _T_hint(const std::vector<scan_device>& aDevices, const std::vector<scan_result>& aResults,
             const ctl_options& aOptions)
{
    for (size_t i = 0; i < aResults.size(); ++i)
    {
        if (aResults[i].state.rfind("sensor", 0) != 0)
            continue;
        std::cerr << "vesk11-ctl: blocks but no identity on " << aDevices[i].path
                  << ": if its blocks come further apart than the time-out (-t "
                  << aOptions.timeout_ms << " ms), measure the period with vesk11-ctl -d "
                  << aDevices[i].path << " monitor --duration 10 and give -t above it\n";
        return;
    }
    std::cerr
        << "vesk11-ctl: no sensor found: check power, A/B wiring and the device; a sensor that "
           "sends less often than every "
        << aOptions.listen_ms
        << " ms needs a longer --listen (measure its period: vesk11-ctl -d DEVICE monitor "
           "--duration 10)\n";
}

// The devices named, each once: a second name for a device already named (the same node, or
// the same device number) is passed over, since a second probe would find it locked by the first.
std::vector<scan_device> _T_named_devices(const std::vector<std::string>& aWords)
{
    std::vector<scan_device> devices;
    std::vector<std::string> seen;
    for (const std::string& word : aWords)
    {
        struct stat info = {};
        char real[PATH_MAX];
        std::string key = word;
        if (stat(word.c_str(), &info) == 0 && S_ISCHR(info.st_mode))
            key = "rdev:" + std::to_string(info.st_rdev);
        else if (realpath(word.c_str(), real) != nullptr)
            key = real;
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
        {
            LOG_WRITE(3, "done: %s named twice, probed once", word.c_str());
            continue;
        }
        seen.push_back(key);
        devices.push_back(scan_device{word, ""});
    }
    return devices;
}

} // namespace

int RunScan(const ctl_options& aOptions, ctl_output& aOutput)
{
    std::vector<scan_device> devices = _T_named_devices(aOptions.words);
    if (devices.empty())
        devices = _T_default_devices();
    const signal_guard& signals = *aOptions.signals;
    std::vector<scan_result> results(devices.size());
    for (size_t first = 0; first < devices.size(); first += kSCAN_THREADS)
    {
        std::vector<std::thread> threads;
        for (size_t i = first; i < std::min(devices.size(), first + kSCAN_THREADS); ++i)
            threads.emplace_back([&, i]
                                 { results[i] = _T_probe(devices[i].path, aOptions, signals); });
        for (std::thread& thread : threads)
            thread.join();
    }
    _T_show(aOutput, devices, results);
    const bool found =
        std::any_of(results.begin(), results.end(),
                    [](const scan_result& aResult) { return aResult.state == "sensor"; });
    if (!found && !aOutput.quiet())
        _T_hint(devices, results, aOptions);
    return found ? kEXIT_OK : kEXIT_UNAVAILABLE;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
