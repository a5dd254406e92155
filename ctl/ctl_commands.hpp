// The commands of vesk11-ctl: a table of command words, each with its synopsis, the options and
// number of words it takes, and the function that carries it out.
#ifndef VESK11_CTL_CTL_COMMANDS_HPP
#define VESK11_CTL_CTL_COMMANDS_HPP

#include <cstddef>
#include <string>

#include "ctl_options.hpp"
#include "ctl_output.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// Carries out a command whose words and options were checked; returns the exit status of a run
// that went as it should (0, or 1 for differences), throws ctl_error otherwise.
typedef int (*command_fn)(const ctl_options& aOptions, ctl_output& aOutput);

struct command_def
{
    const char* word;
    const char* synopsis; // what follows the command word in the usage text
    const char* help;     // what it does, a few lines
    unsigned options;     // the command_option_t options it takes
    std::size_t min_words;
    std::size_t max_words;
    command_fn run;
    // The report of a failure that came before the command did anything (a usage error, a bad
    // document, a line that does not open, a stop signal), for a command whose JSON report has
    // members every failure carries; null: none.
    ctl_json (*report_of_nothing)() = nullptr;
};

// The command named aWord, or null.
const command_def* FindCommand(const std::string& aWord);

// The text of --help: every command with its synopsis, and the options.
std::string UsageText();
// The text of COMMAND --help.
std::string CommandHelp(const command_def& aCommand);

// Checks the words and options given to the command (throws a usage error) and runs it. A
// failure carries the command's report of nothing done when it has none of its own.
int RunCommand(const command_def& aCommand, const ctl_options& aOptions, ctl_output& aOutput);
// aError with aCommand's report of nothing done, when aCommand has one and aError no report.
ctl_error WithReportOfNothing(const command_def& aCommand, const ctl_error& aError);

// The commands themselves.
int RunInfo(const ctl_options& aOptions, ctl_output& aOutput);
int RunGet(const ctl_options& aOptions, ctl_output& aOutput);
int RunSet(const ctl_options& aOptions, ctl_output& aOutput);
int RunDump(const ctl_options& aOptions, ctl_output& aOutput);
int RunDiff(const ctl_options& aOptions, ctl_output& aOutput);
int RunApply(const ctl_options& aOptions, ctl_output& aOutput);
// {"changed": false, "changes": [], "saved": false, "rolled_back": []}
ctl_json ApplyReportOfNothing();
int RunMonitor(const ctl_options& aOptions, ctl_output& aOutput);
int RunScan(const ctl_options& aOptions, ctl_output& aOutput);
int RunStatus(const ctl_options& aOptions, ctl_output& aOutput);
int RunSave(const ctl_options& aOptions, ctl_output& aOutput);
int RunResetRam(const ctl_options& aOptions, ctl_output& aOutput);
int RunResetFlash(const ctl_options& aOptions, ctl_output& aOutput);
int RunReboot(const ctl_options& aOptions, ctl_output& aOutput);
int RunLowPower(const ctl_options& aOptions, ctl_output& aOutput);
int RunSendCommand(const ctl_options& aOptions, ctl_output& aOutput);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
