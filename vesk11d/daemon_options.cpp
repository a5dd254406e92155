#include "daemon_options.hpp"

#include <cstdlib>
#include <set>

#include <getopt.h>
#include <grp.h>
#include <pwd.h>

#include "daemon_error.hpp"
#include "daemon_lines.hpp"
#include "number_text.hpp"
#include "serial_rs485.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

enum option_id : int
{
    kOPT_DEVICE = 'd',
    kOPT_HELP = 'h',
    kOPT_VERSION = 'V',
    kOPT_NAME = 256,
    kOPT_RUNTIME_DIR,
    kOPT_PORT,
    kOPT_PORT_OWNER,
    kOPT_PORT_GROUP,
    kOPT_PORT_MODE,
    kOPT_RS485,
    kOPT_RS485_BEFORE,
    kOPT_RS485_AFTER,
    kOPT_LOG_LEVEL,
    kOPT_CONTROL_OWNER,
    kOPT_CONTROL_GROUP,
    kOPT_CONTROL_MODE,
    kOPT_METRICS_LISTEN,
    kOPT_METRICS_FILE,
};

const option kLONG_OPTIONS[] = {
    {"device", required_argument, nullptr, kOPT_DEVICE},
    {"name", required_argument, nullptr, kOPT_NAME},
    {"runtime-dir", required_argument, nullptr, kOPT_RUNTIME_DIR},
    {"port", required_argument, nullptr, kOPT_PORT},
    {"port-owner", required_argument, nullptr, kOPT_PORT_OWNER},
    {"port-group", required_argument, nullptr, kOPT_PORT_GROUP},
    {"port-mode", required_argument, nullptr, kOPT_PORT_MODE},
    {"rs485", optional_argument, nullptr, kOPT_RS485},
    {"rs485-delay-before", required_argument, nullptr, kOPT_RS485_BEFORE},
    {"rs485-delay-after", required_argument, nullptr, kOPT_RS485_AFTER},
    {"log-level", required_argument, nullptr, kOPT_LOG_LEVEL},
    {"control-owner", required_argument, nullptr, kOPT_CONTROL_OWNER},
    {"control-group", required_argument, nullptr, kOPT_CONTROL_GROUP},
    {"control-mode", required_argument, nullptr, kOPT_CONTROL_MODE},
    {"metrics-listen", required_argument, nullptr, kOPT_METRICS_LISTEN},
    {"metrics-file", required_argument, nullptr, kOPT_METRICS_FILE},
    {"help", no_argument, nullptr, kOPT_HELP},
    {"version", no_argument, nullptr, kOPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

// Names that become one path component: no slash, no leading dot, nothing a shell would mangle.
bool _T_plain_name(const std::string& aName)
{
    if (aName.empty() || aName.size() > 64 || aName[0] == '.' || aName[0] == '-')
        return false;
    for (const char c : aName)
    {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == '@';
        if (!plain)
            return false;
    }
    return true;
}

long long _T_number(const char* aOption, const std::string& aText, long long aMin, long long aMax)
{
    long long value = 0;
    if (!TextToInteger(aText, aMin, aMax, &value))
        throw UsageError(std::string("option --") + aOption + " takes a number from " +
                         std::to_string(aMin) + " to " + std::to_string(aMax) + ", not '" + aText +
                         "'");
    return value;
}

port_option _T_port(const std::string& aText)
{
    port_option port;
    const size_t colon = aText.rfind(':');
    port.name = aText.substr(0, colon);
    const std::string access = colon == std::string::npos ? "rw" : aText.substr(colon + 1);
    if (access != "rw" && access != "ro")
        throw UsageError("option --port takes NAME, NAME:rw or NAME:ro, not '" + aText + "'");
    port.writable = access == "rw";
    if (!_T_plain_name(port.name))
        throw UsageError(
            "port name '" + port.name +
            "' is not a plain name (letters, digits, . _ - @; not starting with . or -)");
    return port;
}

// A user or group by name or number: getpwnam with passwd::pw_uid, or getgrnam with group::gr_gid.
template <typename Entry, typename Id>
Id _T_id(const std::string& aText, Entry* (*aLookup)(const char*), Id Entry::*aField,
         const char* aOption)
{
    if (const Entry* entry = aLookup(aText.c_str()))
        return entry->*aField;
    long long id = 0;
    if (TextToInteger(aText, 0, 0x7FFFFFFE, &id))
        return static_cast<Id>(id);
    throw UsageError(std::string("option --") + aOption + ": no such name '" + aText + "'");
}

int _T_mode(const char* aOption, const std::string& aText)
{
    char* end = nullptr;
    const long mode = std::strtol(aText.c_str(), &end, 8);
    if (aText.empty() || *end != '\0' || mode < 0 || mode > 0666)
        throw UsageError(std::string("option --") + aOption +
                         " takes an octal mode from 0 to 0666, not '" + aText + "'");
    return static_cast<int>(mode);
}

void _T_take(daemon_options& aOptions, int aId, const std::string& aValue, bool* aRs485Given)
{
    switch (aId)
    {
    case kOPT_DEVICE:
        aOptions.device = aValue;
        break;
    case kOPT_NAME:
        aOptions.name = aValue;
        break;
    case kOPT_RUNTIME_DIR:
        aOptions.runtime_dir = aValue;
        break;
    case kOPT_PORT:
        aOptions.ports.push_back(_T_port(aValue));
        break;
    case kOPT_PORT_OWNER:
        aOptions.port_owner = _T_id(aValue, getpwnam, &passwd::pw_uid, "port-owner");
        break;
    case kOPT_PORT_GROUP:
        aOptions.port_group = _T_id(aValue, getgrnam, &group::gr_gid, "port-group");
        break;
    case kOPT_PORT_MODE:
        aOptions.port_mode = _T_mode("port-mode", aValue);
        break;
    case kOPT_CONTROL_OWNER:
        aOptions.control_owner = _T_id(aValue, getpwnam, &passwd::pw_uid, "control-owner");
        break;
    case kOPT_CONTROL_GROUP:
        aOptions.control_group = _T_id(aValue, getgrnam, &group::gr_gid, "control-group");
        break;
    case kOPT_CONTROL_MODE:
        aOptions.control_mode = _T_mode("control-mode", aValue);
        break;
    case kOPT_METRICS_LISTEN:
        aOptions.metrics_listen = aValue;
        break;
    case kOPT_METRICS_FILE:
        aOptions.metrics_file = aValue;
        break;
    case kOPT_RS485:
        *aRs485Given = true;
        aOptions.rs485.mode = kSERIAL_RS485_RTS_ON_SEND;
        if (optarg != nullptr && !SerialRs485__ParseMode(optarg, &aOptions.rs485.mode))
            throw UsageError("option --rs485 takes rts-on-send or rts-after-send, not '" + aValue +
                             "'");
        break;
    case kOPT_RS485_BEFORE:
        aOptions.rs485.delay_before_ms = static_cast<uint32_t>(
            _T_number("rs485-delay-before", aValue, 0, kSERIAL_RS485_DELAY_MAX_MS));
        break;
    case kOPT_RS485_AFTER:
        aOptions.rs485.delay_after_ms = static_cast<uint32_t>(
            _T_number("rs485-delay-after", aValue, 0, kSERIAL_RS485_DELAY_MAX_MS));
        break;
    case kOPT_LOG_LEVEL:
        aOptions.log_level = static_cast<int>(_T_number("log-level", aValue, 0, 5));
        break;
    case kOPT_HELP:
        aOptions.help = true;
        break;
    case kOPT_VERSION:
        aOptions.version = true;
        break;
    default:
        throw UsageError("unknown option or missing value (see vesk11d --help)");
    }
}

std::string _T_base_name(const std::string& aPath)
{
    const std::string trimmed = aPath.substr(0, aPath.find_last_not_of('/') + 1);
    return trimmed.substr(trimmed.rfind('/') + 1);
}

void _T_finish(daemon_options& aOptions, bool aRs485Given)
{
    if (aOptions.device.empty())
        throw UsageError("no device: give --device PATH");
    if (aOptions.device.size() >= kCOM_ENDPOINT_PATH_SIZE)
        throw UsageError("the device path is longer than " +
                         std::to_string(kCOM_ENDPOINT_PATH_SIZE - 1) + " characters");
    if (aOptions.name.empty())
        aOptions.name = _T_base_name(aOptions.device);
    if (!_T_plain_name(aOptions.name))
        throw UsageError("line name '" + aOptions.name + "' is not a plain name: give --name LINE");
    if (aOptions.runtime_dir.empty())
    {
        const char* managed = std::getenv("RUNTIME_DIRECTORY");
        aOptions.runtime_dir =
            managed != nullptr && *managed != '\0' ? managed : kDAEMON_RUNTIME_DIR;
    }
    if (aOptions.ports.empty())
        aOptions.ports.push_back(port_option{"port", true});
    std::set<std::string> names;
    for (const port_option& port : aOptions.ports)
    {
        if (!names.insert(port.name).second)
            throw UsageError("port '" + port.name + "' is given twice");
    }
    const char* environment = std::getenv("VESK11_RS485");
    if (!aRs485Given && !SerialRs485__ModeFromEnvironment(environment, &aOptions.rs485.mode))
        throw UsageError(std::string("VESK11_RS485 '") + environment +
                         "' is not 1, on, 0, rts-on-send or rts-after-send");
    const serial_rs485_args& rs485 = aOptions.rs485;
    if (rs485.mode == kSERIAL_RS485_OFF &&
        (rs485.delay_before_ms != 0 || rs485.delay_after_ms != 0))
        throw UsageError("an RS-485 delay needs --rs485 (or VESK11_RS485)");
}

} // namespace

daemon_options ParseOptions(int aArgc, char** aArgv)
{
    daemon_options options;
    bool rs485Given = false;
    optind = 1;
    opterr = 0;
    for (int id; (id = getopt_long(aArgc, aArgv, "", kLONG_OPTIONS, nullptr)) != -1;)
        _T_take(options, id, optarg != nullptr ? optarg : "", &rs485Given);
    if (optind < aArgc)
        throw UsageError(std::string("unexpected argument '") + aArgv[optind] + "'");
    if (options.help || options.version)
        return options;
    _T_finish(options, rs485Given);
    return options;
}

std::string UsageText()
{
    return "Usage: vesk11d --device PATH [OPTION]...\n"
           "Owns one sensor line and shares it through virtual ports (pseudo-terminals): every\n"
           "block the sensor sends reaches every port whose client reads; well-formed queries\n"
           "written to a read-write port go out one per sending window, fairly between ports.\n"
           "SIGTERM, SIGINT or SIGHUP stops it, the line restored and the ports removed.\n"
           "\n"
           "  --device PATH          the sensor's serial line (required)\n"
           "  --name LINE            the line's folder under DIR (default: the base name of PATH)\n"
           "  --runtime-dir DIR      default $RUNTIME_DIRECTORY, else /run/vesk11\n"
           "  --port NAME[:rw|:ro]   a port, the symlink DIR/LINE/NAME to its pseudo-terminal;\n"
           "                         repeatable (default: one read-write port named port)\n"
           "  --port-owner USER, --port-group GROUP, --port-mode OCTAL\n"
           "                         the ports' owner, group and mode (default: the device's)\n"
           "  --rs485[=MODE]         turn on the device's RS-485 mode: MODE rts-on-send (default)\n"
           "                         or rts-after-send; default $VESK11_RS485 (1 or on, a MODE, "
           "0)\n"
           "  --rs485-delay-before MS, --rs485-delay-after MS\n"
           "                         RTS set before the first bit, kept after the last (0..1000)\n"
           "  --control-owner USER, --control-group GROUP, --control-mode OCTAL\n"
           "                         the control socket DIR/LINE/control's owner, group and mode\n"
           "                         (default: the daemon's user, the device's group, 0660); it\n"
           "                         tells the line's state and blocks, and never writes to it\n"
           "  --metrics-listen ADDR:PORT\n"
           "                         serve Prometheus metrics at http://ADDR:PORT/metrics\n"
           "                         (PORT alone: on loopback)\n"
           "  --metrics-file PATH    write them for the node exporter's textfile collector,\n"
           "                         replaced every 5 s (PATH ends in .prom), removed at stop\n"
           "  --log-level N          records of the sensor core up to level N to the log\n"
           "                         (0..5, default 0: none)\n"
           "  --help                 print this help and exit\n"
           "  --version              print the version and exit\n"
           "\n"
           "Readiness: with NOTIFY_SOCKET set, READY=1 once the line is open and every port\n"
           "exists; STATUS= carries the line's state.\n"
           "Exit status: 0 after a stop signal, 64 bad option, 69 device missing, not a serial\n"
           "line, locked or RS-485 refused, 71 no pseudo-terminal, 73 runtime folder or link not\n"
           "made, 77 no permission on the device.\n";
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
