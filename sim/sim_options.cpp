#include "sim_options.hpp"

#include <array>
#include <cstdlib>
#include <functional>
#include <vector>

#include "serial_rs485.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

constexpr char kUSAGE[] =
    "Usage: vesk11-sim [OPTION]...\n"
    "A virtual vesk11 sensor on a pseudo-terminal. The first line printed is the path of the\n"
    "line to give the tool: export VESK11_CLI_ENDPOINT=<path>. SIGINT, SIGTERM or SIGHUP\n"
    "ends it.\n"
    "\n"
    "Line and timing:\n"
    "  --link PATH            also make a symlink PATH to the line (removed on exit; a dangling\n"
    "                         one left by a killed run is replaced)\n"
    "  --device PATH          drive this serial device (115200 8N1, raw) instead of a pty\n"
    "  --rs485[=MODE]         turn on the device's RS-485 mode (the driver switches the\n"
    "                         transceiver with RTS): MODE rts-on-send (default) or\n"
    "                         rts-after-send; default $VESK11_RS485 (1 or on, a MODE, 0)\n"
    "  --rs485-delay-before MS, --rs485-delay-after MS\n"
    "                         RTS set before the first bit, kept after the last (0..1000)\n"
    "  --period MS            one status block every MS milliseconds (1..60000, default 50)\n"
    "  --reply-delay N        send N status blocks before a reply (0..1000, default 0)\n"
    "  --reboot-ms MS         silence after a reboot command (0..600000, default 500)\n"
    "  --baud N               send every byte at the pace of an N baud 8N1 line (0..4000000,\n"
    "                         default 0: as fast as the line takes them)\n"
    "  --flash FILE           keep the flash copy of the configuration in FILE across runs\n"
    "  --trace                print one line per query received and per reply sent\n"
    "  --serial N             the hardware serial number it reports (0..2147483647,\n"
    "                         default 10597059): several simulators that differ\n"
    "  --firmware G.M.m.p     the firmware version it reports (each 0..65535, default\n"
    "                         11.4.2.7)\n"
    "\n"
    "Faults:\n"
    "  --silent               send nothing at all\n"
    "  --no-reply             stream status blocks but never answer\n"
    "  --bad-crc N            the first N blocks carry a wrong body checksum\n"
    "  --noise                garbage bytes between blocks\n"
    "  --split                write every block one byte at a time\n"
    "  --result N             answer every query with result code N (0..255)\n"
    "  --hangup-after-query   close the line as soon as a query arrives\n"
    "  --stray-reply          send reply blocks before any query arrives\n"
    "  --corrupt-reply        reply blocks carry a wrong body checksum\n"
    "  --refuse-set K[:CODE]  refuse the K-th set query (counted from 1) with result CODE\n"
    "                         (default 8), without applying it; the reply holds the old value\n"
    "  --drop-reply K         never send the K-th reply (its query is still carried out)\n"
    "  --reboot-after K       restart by itself right after the K-th reply, as on a reboot\n"
    "                         command (a watchdog, a brown-out)\n"
    "  --silent-after N       send nothing at all once N replies have gone out\n"
    "\n"
    "  --help                 print this help and exit\n"
    "  --version              print the version and exit\n"
    "\n"
    "Result codes: 0 ok, 1 bad batch checksum, 2 unknown group, 3 unknown identifier,\n"
    "4 read-only value, 5 unknown action type, 6 bad command argument, 7 action not valid\n"
    "for the group, 8 value type differs from the parameter's, 9 non-zero array dimension,\n"
    "10 flash file not written (neither copy changed).\n";

struct number_option_t
{
    const char* name;
    unsigned long min;
    unsigned long max;
    std::function<void(sim_options&, unsigned long)> store;
};

struct text_option_t
{
    const char* name;
    std::string sim_options::*member;
};

struct flag_option_t
{
    const char* name;
    bool sim_options::*member;
};

const std::vector<number_option_t>& _T_number_options()
{
    static const std::vector<number_option_t> options = {
        {"--period", 1, 60000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.period_ms = static_cast<uint32_t>(aValue); }},
        {"--reply-delay", 0, 1000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.reply_delay = static_cast<uint32_t>(aValue); }},
        {"--reboot-ms", 0, 600000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.reboot_ms = static_cast<uint32_t>(aValue); }},
        {"--baud", 0, 4000000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.baud = static_cast<uint32_t>(aValue); }},
        {"--bad-crc", 0, 1000000000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.bad_crc = static_cast<uint32_t>(aValue); }},
        {"--result", 0, 255,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.force_result = static_cast<int>(aValue); }},
        {"--silent-after", 0, 1000000000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.silent_after = static_cast<int>(aValue); }},
        {"--drop-reply", 1, 1000000000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.drop_reply = static_cast<uint32_t>(aValue); }},
        {"--serial", 0, 2147483647,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.identity.serial = static_cast<uint32_t>(aValue); }},
        {"--reboot-after", 1, 1000000000,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.reboot_after = static_cast<uint32_t>(aValue); }},
        {"--rs485-delay-before", 0, kSERIAL_RS485_DELAY_MAX_MS,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.rs485.delay_before_ms = static_cast<uint32_t>(aValue); }},
        {"--rs485-delay-after", 0, kSERIAL_RS485_DELAY_MAX_MS,
         [](sim_options& aOptions, unsigned long aValue)
         { aOptions.rs485.delay_after_ms = static_cast<uint32_t>(aValue); }},
    };
    return options;
}

constexpr text_option_t kTEXT_OPTIONS[] = {
    {"--flash", &sim_options::flash_path},
    {"--link", &sim_options::link_path},
    {"--device", &sim_options::device_path},
};

constexpr flag_option_t kFLAG_OPTIONS[] = {
    {"--silent", &sim_options::silent},
    {"--no-reply", &sim_options::no_reply},
    {"--noise", &sim_options::noise},
    {"--split", &sim_options::split},
    {"--hangup-after-query", &sim_options::hangup_after_query},
    {"--stray-reply", &sim_options::stray_reply},
    {"--corrupt-reply", &sim_options::corrupt_reply},
    {"--trace", &sim_options::trace},
};

// Decimal digits only, within [aMin, aMax].
bool _T_parse_number(const std::string& aText, unsigned long aMin, unsigned long aMax,
                     unsigned long* aValue)
{
    if (aText.empty() || aText.size() > 10 ||
        aText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long value = std::strtoul(aText.c_str(), nullptr, 10);
    *aValue = value;
    return value >= aMin && value <= aMax;
}

class option_parser
{
  public:
    option_parser(int aArgc, const char* const* aArgv, sim_options& aOptions, std::string& aError)
        : argc_(aArgc), argv_(aArgv), options_(aOptions), error_(aError)
    {
    }

    parse_outcome_t parse()
    {
        for (index_ = 1; index_ < argc_; ++index_)
        {
            std::string arg = argv_[index_];
            if (arg == "--help")
                return parse_outcome_t::kHELP;
            if (arg == "--version")
                return parse_outcome_t::kVERSION;
            if (!parse_one(arg))
                return parse_outcome_t::kBAD;
        }
        return finish_rs485() ? parse_outcome_t::kRUN : parse_outcome_t::kBAD;
    }

  private:
    bool parse_one(const std::string& aArg)
    {
        size_t equals = aArg.find('=');
        std::string name = aArg.substr(0, equals);
        for (const flag_option_t& flag : kFLAG_OPTIONS)
        {
            if (name != flag.name)
                continue;
            if (equals != std::string::npos)
                return fail("option " + name + " takes no value");
            options_.*flag.member = true;
            return true;
        }
        std::string value;
        for (const text_option_t& text : kTEXT_OPTIONS)
        {
            if (name != text.name)
                continue;
            if (!take_value(aArg, equals, &value))
                return false;
            if (value.empty())
                return fail("option " + name + " needs a non-empty path");
            options_.*text.member = value;
            return true;
        }
        for (const number_option_t& number : _T_number_options())
        {
            if (name != number.name)
                continue;
            unsigned long parsed = 0;
            if (!take_value(aArg, equals, &value))
                return false;
            if (!_T_parse_number(value, number.min, number.max, &parsed))
            {
                std::string reason = "option " + name;
                reason.append(" needs a whole number from ").append(std::to_string(number.min));
                reason.append(" to ").append(std::to_string(number.max));
                return fail(reason.append(", not '").append(value).append("'"));
            }
            number.store(options_, parsed);
            return true;
        }
        if (name == "--rs485")
            return parse_rs485(aArg, equals);
        if (name == "--refuse-set")
            return take_value(aArg, equals, &value) && parse_refuse_set(value);
        if (name == "--firmware")
            return take_value(aArg, equals, &value) && parse_firmware(value);
        return fail("unknown option '" + aArg + "'");
    }

    bool parse_rs485(const std::string& aArg, size_t aEquals)
    {
        rs485_given_ = true;
        options_.rs485.mode = kSERIAL_RS485_RTS_ON_SEND;
        if (aEquals == std::string::npos ||
            SerialRs485__ParseMode(aArg.c_str() + aEquals + 1, &options_.rs485.mode))
            return true;
        return fail("option --rs485 takes rts-on-send or rts-after-send, not '" +
                    aArg.substr(aEquals + 1) + "'");
    }

    bool finish_rs485()
    {
        serial_rs485_args& rs485 = options_.rs485;
        const char* environment = std::getenv("VESK11_RS485");
        if (!rs485_given_ && !options_.device_path.empty() &&
            !SerialRs485__ModeFromEnvironment(environment, &rs485.mode))
            return fail(std::string("VESK11_RS485 '") + environment +
                        "' is not 1, on, 0, rts-on-send or rts-after-send");
        if (rs485_given_ && options_.device_path.empty())
            return fail("option --rs485 needs --device: a pseudo-terminal has no RS-485 mode");
        if (rs485.mode == kSERIAL_RS485_OFF &&
            (rs485.delay_before_ms != 0 || rs485.delay_after_ms != 0))
            return fail("an RS-485 delay needs --rs485 (or VESK11_RS485)");
        return true;
    }

    // "K" or "K:CODE".
    bool parse_refuse_set(const std::string& aValue)
    {
        size_t colon = aValue.find(':');
        unsigned long count = 0;
        unsigned long code = options_.refuse_set_result;
        if (!_T_parse_number(aValue.substr(0, colon), 1, 1000000000, &count) ||
            (colon != std::string::npos &&
             !_T_parse_number(aValue.substr(colon + 1), 0, 255, &code)))
            return fail("option --refuse-set needs K or K:CODE, K from 1 to 1000000000 and CODE "
                        "from 0 to 255, not '" +
                        aValue + "'");
        options_.refuse_set = static_cast<uint32_t>(count);
        options_.refuse_set_result = static_cast<uint8_t>(code);
        return true;
    }

    // "G.M.m.p": four numbers, each 0..65535.
    bool parse_firmware(const std::string& aValue)
    {
        std::array<uint32_t, 4> parts{};
        size_t start = 0;
        for (size_t i = 0; i < parts.size(); ++i)
        {
            const size_t dot = i + 1 < parts.size() ? aValue.find('.', start) : aValue.size();
            unsigned long part = 0;
            if (dot == std::string::npos ||
                !_T_parse_number(aValue.substr(start, dot - start), 0, 65535, &part))
                return fail(
                    "option --firmware needs four numbers G.M.m.p, each from 0 to 65535, not '" +
                    aValue + "'");
            parts[i] = static_cast<uint32_t>(part);
            start = dot + 1;
        }
        options_.identity.firmware = parts;
        return true;
    }

    // "--name=value" or "--name value".
    bool take_value(const std::string& aArg, size_t aEquals, std::string* aValue)
    {
        if (aEquals != std::string::npos)
        {
            *aValue = aArg.substr(aEquals + 1);
            return true;
        }
        if (index_ + 1 >= argc_)
            return fail("option " + aArg + " needs a value");
        *aValue = argv_[++index_];
        return true;
    }

    bool fail(const std::string& aReason)
    {
        error_ = aReason;
        return false;
    }

    int argc_;
    const char* const* argv_;
    sim_options& options_;
    std::string& error_;
    int index_ = 1;
    bool rs485_given_ = false;
};

} // namespace

parse_outcome_t parse_sim_options(int aArgc, const char* const* aArgv, sim_options& aOptions,
                                  std::string& aError)
{
    return option_parser(aArgc, aArgv, aOptions, aError).parse();
}

std::string sim_usage_text()
{
    return kUSAGE;
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
