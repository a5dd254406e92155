#include "ctl_options.hpp"

#include <cstdlib>
#include <cstring>

#include <getopt.h>

#include "ctl_error.hpp"
#include "number_text.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

enum long_only_t : int
{
    kLONG_JSON = 256,
    kLONG_SAVE,
    kLONG_CHECK,
    kLONG_VERSION,
    kLONG_COUNT,
    kLONG_DURATION,
    kLONG_HEX,
    kLONG_LISTEN,
};

// '+' is not given: options may follow the command word. ':' first: a missing value is told
// apart from an unknown option.
const char* const kSHORT_OPTIONS = ":d:t:r:o:vqh";

const option kLONG_OPTIONS[] = {
    {"device", required_argument, nullptr, 'd'},
    {"timeout", required_argument, nullptr, 't'},
    {"retries", required_argument, nullptr, 'r'},
    {"output", required_argument, nullptr, 'o'},
    {"json", no_argument, nullptr, kLONG_JSON},
    {"save", no_argument, nullptr, kLONG_SAVE},
    {"check", no_argument, nullptr, kLONG_CHECK},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kLONG_VERSION},
    {"count", required_argument, nullptr, kLONG_COUNT},
    {"duration", required_argument, nullptr, kLONG_DURATION},
    {"hex", no_argument, nullptr, kLONG_HEX},
    {"listen", required_argument, nullptr, kLONG_LISTEN},
    {nullptr, 0, nullptr, 0},
};

int _T_bounded(const char* aText, long long aMin, long long aMax, const std::string& aWhat)
{
    long long value = 0;
    if (!TextToInteger(aText, aMin, aMax, &value))
        throw UsageError(aWhat + " '" + aText + "' is not a whole number from " +
                         std::to_string(aMin) + " to " + std::to_string(aMax));
    return static_cast<int>(value);
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

double _T_seconds(const char* aText)
{
    float value = 0;
    if (!TextToFloat(aText, &value) || !(value > 0) || value > kDURATION_MAX_S)
        throw UsageError(std::string("--duration '") + aText + "' is not a number of seconds above 0 and up to " +
                         std::to_string(kDURATION_MAX_S));
    return static_cast<double>(value);
}

// The options of the diagnostic commands.
void _T_take_diagnostic(int aOption, ctl_options* aOptions)
{
    switch (aOption)
    {
    case kLONG_COUNT:
        aOptions->count = _T_bounded(optarg, 1, kCOUNT_MAX, "--count");
        aOptions->given |= kOPTION_COUNT;
        break;
    case kLONG_DURATION:
        aOptions->duration_s = _T_seconds(optarg);
        aOptions->given |= kOPTION_DURATION;
        break;
    case kLONG_HEX:
        aOptions->hex = true;
        aOptions->given |= kOPTION_HEX;
        break;
    case kLONG_LISTEN:
        aOptions->listen_ms = _T_bounded(optarg, 1, kTIMEOUT_MAX_MS, "--listen");
        aOptions->given |= kOPTION_LISTEN;
        break;
    default:
        break;
    }
}

void _T_take(int aOption, ctl_options* aOptions, bool* aTimeoutGiven)
{
    switch (aOption)
    {
    case 'd':
        aOptions->device = optarg;
        break;
    case 't':
        aOptions->timeout_ms = _T_bounded(optarg, 1, kTIMEOUT_MAX_MS, "--timeout");
        *aTimeoutGiven = true;
        break;
    case 'r':
        aOptions->retries = _T_bounded(optarg, 0, kRETRIES_MAX, "--retries");
        break;
    case 'o':
        aOptions->output = optarg;
        aOptions->given |= kOPTION_OUTPUT;
        break;
    case kLONG_JSON:
        aOptions->json = true;
        break;
    case kLONG_SAVE:
        aOptions->given |= kOPTION_SAVE;
        break;
    case kLONG_CHECK:
        aOptions->given |= kOPTION_CHECK;
        break;
    case 'v':
        aOptions->verbose = true;
        break;
    case 'q':
        aOptions->quiet = true;
        break;
    case 'h':
        aOptions->help = true;
        break;
    case kLONG_VERSION:
        aOptions->version = true;
        break;
    default:
        _T_take_diagnostic(aOption, aOptions);
        break;
    }
}

void _T_take_environment(ctl_options* aOptions, bool aTimeoutGiven)
{
    const char* endpoint = std::getenv("VESK11_CLI_ENDPOINT");
    if (aOptions->device.empty() && endpoint != nullptr)
        aOptions->device = endpoint;
    const char* tout = std::getenv("VESK11_CLI_TOUT");
    if (!aTimeoutGiven && tout != nullptr)
        aOptions->timeout_ms = _T_bounded(tout, 1, kTIMEOUT_MAX_MS, "VESK11_CLI_TOUT");
}

} // namespace

ctl_options ParseOptions(int aArgc, char** aArgv)
{
    ctl_options options;
    bool timeoutGiven = false;
    bool deviceGiven = false;
    optind = 0; // a fresh scan, also when called again
    opterr = 0; // the messages are ours
    for (;;)
    {
        optopt = 0;
        const int option = getopt_long(aArgc, aArgv, kSHORT_OPTIONS, kLONG_OPTIONS, nullptr);
        if (option == -1)
            break;
        if (option == '?' || option == ':')
            _T_bad_option(aArgv, option == ':');
        deviceGiven = deviceGiven || option == 'd';
        _T_take(option, &options, &timeoutGiven);
    }
    if (deviceGiven && options.device.empty())
        throw UsageError("--device needs a path");
    _T_take_environment(&options, timeoutGiven);
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
        if (std::strcmp(aArgv[i], "--json") == 0)
            return true;
    }
    return false;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
