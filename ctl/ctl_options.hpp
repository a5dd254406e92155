// The vesk11-ctl command line: options (before or after the command word) and the words.
#ifndef VESK11_CTL_CTL_OPTIONS_HPP
#define VESK11_CTL_CTL_OPTIONS_HPP

#include <string>
#include <vector>

#include "signal_guard.hpp"
#include "tout_text.hpp"
#include "transport_serial_types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// Options that only some commands take; a command lists those it accepts.
enum command_option_t : unsigned
{
    kOPTION_SAVE = 1U << 0,
    kOPTION_CHECK = 1U << 1,
    kOPTION_OUTPUT = 1U << 2,
    kOPTION_COUNT = 1U << 3,
    kOPTION_DURATION = 1U << 4,
    kOPTION_HEX = 1U << 5,
    kOPTION_LISTEN = 1U << 6,
    kOPTION_REBOOT_WAIT = 1U << 7,
    kOPTION_SAVE_WHEN = 1U << 8,
};

// When apply saves to flash: --save-when, --save (changed), else never.
enum class save_when_t
{
    never,
    changed, // when something was written
    always,  // also when the sensor's RAM already matched the document
};

constexpr int kTIMEOUT_DEFAULT_MS = 200;
constexpr int kTIMEOUT_MIN_MS = 1;
constexpr int kTIMEOUT_MAX_MS = kTOUT_MAX_MS;
constexpr int kRETRIES_DEFAULT = 2;
constexpr int kRETRIES_MIN = 0;
constexpr int kRETRIES_MAX = 10;
constexpr long long kCOUNT_MAX = 1000000000;
constexpr int kDURATION_MAX_S = 604800; // a week
constexpr int kLISTEN_DEFAULT_MS = 500;
constexpr int kREBOOT_WAIT_DEFAULT_MS = 10000;
constexpr int kREBOOT_WAIT_MAX_MS = 600000;

struct ctl_options
{
    std::string command;            // the command word; empty when none was given
    std::vector<std::string> words; // the words after it
    std::string device;             // --device, else $VESK11_CLI_ENDPOINT; may be empty
    int timeout_ms = kTIMEOUT_DEFAULT_MS;
    int retries = kRETRIES_DEFAULT;
    int reboot_wait_ms = kREBOOT_WAIT_DEFAULT_MS;
    serial_rs485_args rs485{}; // --rs485, else $VESK11_RS485; off by default
    bool json = false;
    bool verbose = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    unsigned given = 0; // the command_option_t options given
    save_when_t save_when = save_when_t::never;
    std::string output;    // -o FILE
    long long count = 0;   // --count: blocks to watch; 0: no bound
    double duration_s = 0; // --duration: seconds to watch; 0: no bound
    bool hex = false;      // --hex: raw frames too
    int listen_ms = kLISTEN_DEFAULT_MS;
    // The run's stop-signal guard, made by main before any work so that a signal at any moment
    // ends the run with its report; every link and thread of the run waits with it.
    const signal_guard* signals = nullptr;
};

// Parses argv[1..] with getopt_long (argv is permuted, as getopt_long does); defaults come from
// VESK11_CLI_ENDPOINT, VESK11_CLI_TOUT and VESK11_RS485. Throws a usage error (ctl_error) for an
// unknown option, a missing or bad option value, a bad variable whose option is not given, or an
// RS-485 delay without the RS-485 mode.
ctl_options ParseOptions(int aArgc, char** aArgv);

// Whether the command line asks for JSON output, judged without parsing it: lets a usage error
// be reported in the form asked for.
bool WantsJson(int aArgc, char* const* aArgv);

// The options part of the help text.
std::string OptionsText();

// Throws a usage error when an option only some commands take was given to aCommand, which takes
// the command_option_t options aTaken.
void CheckCommandOptions(const ctl_options& aOptions, unsigned aTaken, const std::string& aCommand);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
