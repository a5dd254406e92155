#include "ctl_commands.hpp"

#include <cstdint>

#include "ctl_error.hpp"
#include "ctl_file.hpp"
#include "log.h"
#include "uat11.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

constexpr std::size_t kANY = SIZE_MAX;

// clang-format off
const command_def kCOMMANDS[] = {
    {"info", "",
     "Shows the sensor's identity: hardware serial, antenna, firmware, application version,\n"
     "variant and type.",
     0, 0, 0, RunInfo},
    {"get", "NAME...",
     "Reads values: status values and parameters, by name or GROUP/ID.",
     0, 1, kANY, RunGet},
    {"set", "NAME=VALUE... [--save]",
     "Writes parameters, each read back and compared with the value written; --save then\n"
     "saves the configuration to flash.",
     kOPTION_SAVE, 1, kANY, RunSet},
    {"dump", "[-o FILE]",
     "Writes the sensor's configuration document to standard output, or to FILE (whole or\n"
     "not at all).",
     kOPTION_OUTPUT, 0, 0, RunDump},
    {"diff", "FILE",
     "Compares the sensor with the document FILE: one line per difference. Exit status 1\n"
     "when they differ, 0 when they are equal.",
     0, 1, 1, RunDiff},
    {"apply", "FILE [--check] [--save | --save-when changed|always]",
     "Makes the sensor's configuration equal to the document FILE: writes only what differs,\n"
     "each value read back, and all of them read again at the end; on any failure the values\n"
     "changed are written back as they were. --check only tells what would change (exit\n"
     "status 1 if anything would); --save (--save-when changed) saves to flash when something\n"
     "changed, --save-when always also when nothing did.",
     kOPTION_SAVE | kOPTION_SAVE_WHEN | kOPTION_CHECK, 1, 1, RunApply, ApplyReportOfNothing},
    {"monitor", "[--count N] [--duration S] [--hex]",
     "Watches the line without sending (-d may name vesk11d's control socket: the daemon's\n"
     "line is watched through it): every block as decoded (time stamp in ms, ok or\n"
     "bad-checksum, body size, each message ident:size and data; --hex adds the frame), then a\n"
     "summary with a verdict. Ends after N blocks, S seconds, or on SIGINT/SIGTERM. Exit status\n"
     "0 when an intact block was seen, 69 when none.",
     kOPTION_COUNT | kOPTION_DURATION | kOPTION_HEX, 0, 0, RunMonitor},
    {"status", "SOCKET|LINE",
     "Shows what vesk11d knows of its line, asked on its control socket SOCKET (or that of\n"
     "the line named LINE under $VESK11_RUNTIME_DIR, else /run/vesk11): the line open or lost\n"
     "and since when, blocks, garbage, period, the last intact block, reopens, the verdict,\n"
     "and each port. The line is not touched. Exit status 69 when no daemon answers or the\n"
     "line is lost.",
     0, 1, 1, RunStatus},
    {"scan", "[DEVICE...] [--listen MS]",
     "Finds sensors: listens on each device (default: /dev/serial/by-id/*, /dev/ttyUSB*,\n"
     "/dev/ttyACM*, /dev/ttyS*), all at once, and only where an intact block came asks the\n"
     "sensor who it is. Never writes to a device without one. Exit status 0 when a sensor\n"
     "was found, 69 when none.",
     kOPTION_LISTEN, 0, kANY, RunScan},
    {"save", "[GROUP]",
     "Saves the configuration to flash: one parameter group, or all (0xFFFFFFFF, the default).",
     0, 0, 1, RunSave},
    {"reset-ram", "[GROUP]",
     "Resets the configuration in RAM: one parameter group, or all (the default).",
     0, 0, 1, RunResetRam},
    {"reset-flash", "[GROUP]",
     "Resets the configuration in flash: one parameter group, or all (the default).",
     0, 0, 1, RunResetFlash},
    {"reboot", "[--reboot-wait MS]",
     "Reboots the sensor (the command is sent once) and waits for its first intact block after\n"
     "the silence, at most MS milliseconds (default 10000); tells how long it was silent.\n"
     "Exit status 69 when it is not back in time.",
     kOPTION_REBOOT_WAIT, 0, 0, RunReboot},
    {"low-power", "on|off",
     "Turns low power on (power_mode 0) or off (power_mode 1), read back.",
     0, 1, 1, RunLowPower},
    {"command", "NAME|GROUP/ID VALUE",
     "Sends a command with its 32-bit VALUE (decimal, or hexadecimal after 0x).",
     0, 2, 2, RunSendCommand},
};
// clang-format on

void _T_check_words(const command_def& aCommand, const ctl_options& aOptions)
{
    const std::size_t count = aOptions.words.size();
    const std::string word = aCommand.word;
    if (count < aCommand.min_words)
        throw UsageError(word + " needs " +
                         (aCommand.min_words == 1 ? "an argument" : "arguments") + ": " + word +
                         " " + aCommand.synopsis);
    if (count > aCommand.max_words)
        throw UsageError(word + " takes " +
                         (aCommand.max_words == 0 ? std::string("no arguments")
                          : aCommand.max_words == 1
                              ? "one argument"
                              : std::to_string(aCommand.max_words) + " arguments") +
                         ", got '" + aOptions.words[aCommand.max_words] + "'");
}

} // namespace

const command_def* FindCommand(const std::string& aWord)
{
    for (const command_def& command : kCOMMANDS)
    {
        if (aWord == command.word)
            return &command;
    }
    return nullptr;
}

std::string UsageText()
{
    std::string text = "Usage: vesk11-ctl [OPTIONS] COMMAND [ARGS]\n"
                       "A radar sensor's configuration as code, over its RS-485 line.\n\n"
                       "Commands:\n";
    for (const command_def& command : kCOMMANDS)
        text += "  " + std::string(command.word) + " " + command.synopsis + "\n";
    text += "\nNames: the catalogue's names (param_x, power_mode, hw_serial, ...) or GROUP/ID;\n"
            "an identifier outside the catalogue needs its type, GROUP/ID:f32 or GROUP/ID:i32.\n\n";
    return text + OptionsText();
}

std::string CommandHelp(const command_def& aCommand)
{
    return "Usage: vesk11-ctl [OPTIONS] " + std::string(aCommand.word) + " " + aCommand.synopsis +
           "\n" + aCommand.help + "\n\n" + OptionsText();
}

int RunCommand(const command_def& aCommand, const ctl_options& aOptions, ctl_output& aOutput)
{
    try
    {
        CheckCommandOptions(aOptions, aCommand.options, aCommand.word);
        _T_check_words(aCommand, aOptions);
        return aCommand.run(aOptions, aOutput);
    }
    catch (const ctl_error& x)
    {
        throw WithReportOfNothing(aCommand, x);
    }
}

ctl_error WithReportOfNothing(const command_def& aCommand, const ctl_error& aError)
{
    if (aCommand.report_of_nothing == nullptr || !aError.report().empty())
        return aError;
    return aError.withReport(aCommand.report_of_nothing());
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
