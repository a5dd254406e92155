#include "ctl_options.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <getopt.h>

#include "ctl_error.hpp"
#include "number_text.hpp"
#include "serial_rs485.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// Whether an option was given, which the environment defers to.
struct parse_state
{
    ctl_options* options;
    bool timeout_given;
    bool rs485_given;
    bool device_given;
};

typedef void (*take_fn)(const char* aValue, parse_state& aState);

struct option_def
{
    const char* name;  // the long name
    char letter;       // the short one; 0 for none
    int has_arg;       // as getopt_long takes it
    const char* value; // the value as the help names it, after the name
    const char* help;  // lines after the first indented by the help; null: not in the help
    unsigned only;     // the command_option_t of an option only some commands take; else 0
    take_fn take;
};

int _T_bounded(const char* aText, long long aMin, long long aMax, const std::string& aWhat)
{
    long long value = 0;
    if (!TextToInteger(aText, aMin, aMax, &value))
        throw UsageError(aWhat + " '" + aText + "' is not a whole number from " +
                         std::to_string(aMin) + " to " + std::to_string(aMax));
    return static_cast<int>(value);
}

int _T_timeout(const char* aText, const std::string& aWhat)
{
    int toutMs = 0;
    if (!TextDecodeTout(aText, tout_reading_t::kSTRICT, &toutMs))
        throw UsageError(aWhat + " '" + aText + "' is not a whole number from 1 to " +
                         std::to_string(kTOUT_MAX_MS));
    return toutMs;
}

double _T_seconds(const char* aText)
{
    float value = 0;
    if (!TextToFloat(aText, &value) || !(value > 0) || value > kDURATION_MAX_S)
        throw UsageError(std::string("--duration '") + aText +
                         "' is not a number of seconds above 0 and up to " +
                         std::to_string(kDURATION_MAX_S));
    return static_cast<double>(value);
}

uint32_t _T_delay(const char* aText, const std::string& aWhat)
{
    return static_cast<uint32_t>(_T_bounded(aText, 0, kSERIAL_RS485_DELAY_MAX_MS, aWhat));
}

void _T_rs485_mode(const char* aText, parse_state& aState)
{
    aState.rs485_given = true;
    serial_rs485_mode& mode = aState.options->rs485.mode;
    mode = kSERIAL_RS485_RTS_ON_SEND;
    if (aText != nullptr && !SerialRs485__ParseMode(aText, &mode))
        throw UsageError(std::string("--rs485 '") + aText +
                         "' is not a mode: rts-on-send or rts-after-send");
}

save_when_t _T_save_when(const std::string& aText)
{
    if (aText != "changed" && aText != "always")
        throw UsageError("--save-when '" + aText + "' is not changed or always");
    return aText == "always" ? save_when_t::always : save_when_t::changed;
}

// clang-format off
// Every option, in the order of the help text and of the usage check.
constexpr option_def kOPTIONS[] = {
    {"device", 'd', required_argument, "PATH",
     "serial device of the sensor (default: $VESK11_CLI_ENDPOINT)", 0,
     [](const char* aValue, parse_state& aState) {
         aState.options->device = aValue;
         aState.device_given = true;
     }},
    {"timeout", 't', required_argument, "MS",
     "longest wait for the sensor, 1..60000 (default: $VESK11_CLI_TOUT,\nelse 200)", 0,
     [](const char* aValue, parse_state& aState) {
         aState.options->timeout_ms = _T_timeout(aValue, "--timeout");
         aState.timeout_given = true;
     }},
    {"retries", 'r', required_argument, "N",
     "send a query again up to N times when no reply comes, 0..10\n(default 2)", 0,
     [](const char* aValue, parse_state& aState) {
         aState.options->retries = _T_bounded(aValue, kRETRIES_MIN, kRETRIES_MAX, "--retries");
     }},
    {"save", 0, no_argument, "", nullptr, kOPTION_SAVE,
     [](const char*, parse_state& aState) { aState.options->save_when = save_when_t::changed; }},
    {"save-when", 0, required_argument, "WHEN", nullptr, kOPTION_SAVE_WHEN,
     [](const char* aValue, parse_state& aState) { aState.options->save_when = _T_save_when(aValue); }},
    {"check", 0, no_argument, "", nullptr, kOPTION_CHECK, [](const char*, parse_state&) {}},
    {"output", 'o', required_argument, "FILE", nullptr, kOPTION_OUTPUT,
     [](const char* aValue, parse_state& aState) { aState.options->output = aValue; }},
    {"json", 0, no_argument, "",
     "one JSON object on standard output, failures included (monitor:\none per block, then the "
     "summary)", 0,
     [](const char*, parse_state& aState) { aState.options->json = true; }},
    {"count", 0, required_argument, "N", "monitor: end after N blocks", kOPTION_COUNT,
     [](const char* aValue, parse_state& aState) {
         aState.options->count = _T_bounded(aValue, 1, kCOUNT_MAX, "--count");
     }},
    {"duration", 0, required_argument, "S", "monitor: end after S seconds", kOPTION_DURATION,
     [](const char* aValue, parse_state& aState) {
         aState.options->duration_s = _T_seconds(aValue);
     }},
    {"hex", 0, no_argument, "", "monitor: the raw frame of each block too", kOPTION_HEX,
     [](const char*, parse_state& aState) { aState.options->hex = true; }},
    {"listen", 0, required_argument, "MS",
     "scan: how long to listen on each device (default 500)", kOPTION_LISTEN,
     [](const char* aValue, parse_state& aState) {
         aState.options->listen_ms = _T_bounded(aValue, 1, kTOUT_MAX_MS, "--listen");
     }},
    {"reboot-wait", 0, required_argument, "MS",
     "reboot: longest wait for the sensor to come back, 1..600000\n(default 10000)",
     kOPTION_REBOOT_WAIT,
     [](const char* aValue, parse_state& aState) {
         aState.options->reboot_wait_ms =
             _T_bounded(aValue, 1, kREBOOT_WAIT_MAX_MS, "--reboot-wait");
     }},
    {"rs485", 0, optional_argument, "[=MODE]",
     "turn on the line's RS-485 mode for the run: the driver switches the\ntransceiver with RTS; "
     "MODE rts-on-send (default) or rts-after-send\n(default: $VESK11_RS485, 1 or on for "
     "rts-on-send, 0 for off)", 0,
     _T_rs485_mode},
    // The help tells the two delays together.
    {"rs485-delay-before", 0, required_argument, "MS, --rs485-delay-after MS",
     "RTS set before the first bit, kept after the last, 0..1000", 0,
     [](const char* aValue, parse_state& aState) {
         aState.options->rs485.delay_before_ms = _T_delay(aValue, "--rs485-delay-before");
     }},
    {"rs485-delay-after", 0, required_argument, "MS", nullptr, 0,
     [](const char* aValue, parse_state& aState) {
         aState.options->rs485.delay_after_ms = _T_delay(aValue, "--rs485-delay-after");
     }},
    {"verbose", 'v', no_argument, "", "log records also on standard error", 0,
     [](const char*, parse_state& aState) { aState.options->verbose = true; }},
    {"quiet", 'q', no_argument, "", "no progress and no confirmations", 0,
     [](const char*, parse_state& aState) { aState.options->quiet = true; }},
    {"help", 'h', no_argument, "", "this text; COMMAND --help: that command's", 0,
     [](const char*, parse_state& aState) { aState.options->help = true; }},
    {"version", 0, no_argument, "", "the version", 0,
     [](const char*, parse_state& aState) { aState.options->version = true; }},
};
// clang-format on

constexpr std::size_t kOPTION_COUNT_ALL = sizeof kOPTIONS / sizeof kOPTIONS[0];
// getopt_long's value of an option without a letter: its index past the character range.
constexpr int kLONG_ONLY_BASE = 256;
// Where the help text of an option begins.
constexpr std::size_t kHELP_COLUMN = 22;

int _T_getopt_value(std::size_t aIndex)
{
    return kOPTIONS[aIndex].letter != 0 ? kOPTIONS[aIndex].letter
                                        : kLONG_ONLY_BASE + static_cast<int>(aIndex);
}

const option_def* _T_find(int aValue)
{
    for (std::size_t i = 0; i < kOPTION_COUNT_ALL; ++i)
    {
        if (_T_getopt_value(i) == aValue)
            return &kOPTIONS[i];
    }
    return nullptr;
}

// '+' is not given: options may follow the command word. ':' first: a missing value is told
// apart from an unknown option.
std::string _T_short_options()
{
    std::string text = ":";
    for (const option_def& entry : kOPTIONS)
    {
        if (entry.letter == 0)
            continue;
        text += entry.letter;
        if (entry.has_arg != no_argument)
            text += entry.has_arg == required_argument ? ":" : "::";
    }
    return text;
}

std::vector<option> _T_long_options()
{
    std::vector<option> options;
    for (std::size_t i = 0; i < kOPTION_COUNT_ALL; ++i)
        options.push_back({kOPTIONS[i].name, kOPTIONS[i].has_arg, nullptr, _T_getopt_value(i)});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

// As the user wrote it: the long option without its value, or the short option's letter.
[[noreturn]] void _T_bad_option(char** aArgv, bool aMissingValue)
{
    const std::string word = aArgv[optind - 1];
    const std::string written = word.rfind("--", 0) == 0 || optopt <= 0 || optopt > 127
                                    ? word.substr(0, word.find('='))
                                    : std::string("-") + static_cast<char>(optopt);
    if (aMissingValue)
        throw UsageError("option " + written + " needs a value");
    // getopt_long names a known long option in optopt when it was given a value it takes not.
    if (optopt != 0 && word.rfind("--", 0) == 0 && word.find('=') != std::string::npos)
        throw UsageError("option " + written + " takes no value");
    throw UsageError("unknown option " + written);
}

serial_rs485_mode _T_rs485_environment()
{
    const char* value = std::getenv("VESK11_RS485");
    serial_rs485_mode mode = kSERIAL_RS485_OFF;
    if (!SerialRs485__ModeFromEnvironment(value, &mode))
        throw UsageError(std::string("VESK11_RS485 '") + value +
                         "' is not 1, on, 0, rts-on-send or rts-after-send");
    return mode;
}

void _T_take_environment(const parse_state& aState)
{
    ctl_options& options = *aState.options;
    serial_rs485_args& rs485 = options.rs485;
    if (!aState.rs485_given)
        rs485.mode = _T_rs485_environment();
    if (rs485.mode == kSERIAL_RS485_OFF &&
        (rs485.delay_before_ms != 0 || rs485.delay_after_ms != 0))
        throw UsageError("an RS-485 delay needs --rs485 (or VESK11_RS485)");
    const char* endpoint = std::getenv("VESK11_CLI_ENDPOINT");
    if (options.device.empty() && endpoint != nullptr)
        options.device = endpoint;
    const char* tout = std::getenv("VESK11_CLI_TOUT");
    if (!aState.timeout_given && tout != nullptr)
        options.timeout_ms = _T_timeout(tout, "VESK11_CLI_TOUT");
}

// "  -d, --device PATH" or "      --json", then the help, its later lines in the help column.
std::string _T_help_entry(const option_def& aEntry)
{
    std::string head = aEntry.letter != 0 ? std::string("  -") + aEntry.letter + ", " : "      ";
    head += std::string("--") + aEntry.name;
    if (*aEntry.value != '\0')
        head += (*aEntry.value == '[' ? "" : " ") + std::string(aEntry.value);
    const std::string indent(kHELP_COLUMN, ' ');
    // A head that ends within two columns past the help column keeps the help on its line.
    head += head.size() <= kHELP_COLUMN
                ? std::string(std::max(kHELP_COLUMN, head.size() + 2) - head.size(), ' ')
                : "\n" + indent;
    std::string help = aEntry.help;
    for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
        help.insert(at + 1, indent);
    return head + help + "\n";
}

} // namespace

ctl_options ParseOptions(int aArgc, char** aArgv)
{
    ctl_options options;
    parse_state state{&options, false, false, false};
    const std::string shortOptions = _T_short_options();
    const std::vector<option> longOptions = _T_long_options();
    optind = 0; // a fresh scan, also when called again
    opterr = 0; // the messages are ours
    for (;;)
    {
        optopt = 0;
        const int value =
            getopt_long(aArgc, aArgv, shortOptions.c_str(), longOptions.data(), nullptr);
        if (value == -1)
            break;
        const option_def* entry = _T_find(value);
        if (entry == nullptr)
            _T_bad_option(aArgv, value == ':');
        entry->take(optarg, state);
        options.given |= entry->only;
    }
    if (state.device_given && options.device.empty())
        throw UsageError("--device needs a path");
    _T_take_environment(state);
    if (optind < aArgc)
        options.command = aArgv[optind++];
    for (; optind < aArgc; ++optind)
        options.words.emplace_back(aArgv[optind]);
    return options;
}

bool WantsJson(int aArgc, char* const* aArgv)
{
    for (int i = 1; i < aArgc && std::strcmp(aArgv[i], "--") != 0; ++i)
    {
        // getopt_long takes any abbreviation no other option shares: --j, --js, --jso.
        const size_t length = std::strlen(aArgv[i]);
        if (length > 2 && length <= 6 && std::strncmp(aArgv[i], "--json", length) == 0)
            return true;
    }
    return false;
}

std::string OptionsText()
{
    std::string text = "Options (before or after the command):\n";
    for (const option_def& entry : kOPTIONS)
    {
        if (entry.help != nullptr)
            text += _T_help_entry(entry);
    }
    return text;
}

void CheckCommandOptions(const ctl_options& aOptions, unsigned aTaken, const std::string& aCommand)
{
    for (const option_def& entry : kOPTIONS)
    {
        if ((aOptions.given & entry.only) != 0 && (aTaken & entry.only) == 0)
            throw UsageError(std::string("--") + entry.name + " is not an option of " + aCommand);
    }
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
