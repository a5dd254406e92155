// The vesk11-sim command line.
#include "sim_options.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace
{

using namespace Orvo::Support::Vesk11Sim;

parse_outcome_t parse(std::vector<const char*> aArgs, sim_options& aOptions, std::string& aError)
{
    aArgs.insert(aArgs.begin(), "vesk11-sim");
    return parse_sim_options(static_cast<int>(aArgs.size()), aArgs.data(), aOptions, aError);
}

TEST(sim_options, defaults_without_arguments)
{
    sim_options options;
    std::string error;
    ASSERT_EQ(parse({}, options, error), parse_outcome_t::kRUN);
    EXPECT_EQ(options.period_ms, 50u);
    EXPECT_EQ(options.reply_delay, 0u);
    EXPECT_EQ(options.reboot_ms, 500u);
    EXPECT_EQ(options.baud, 0u);
    EXPECT_EQ(options.force_result, -1);
    EXPECT_EQ(options.refuse_set, 0u);
    EXPECT_EQ(options.refuse_set_result, 8);
    EXPECT_EQ(options.drop_reply, 0u);
    EXPECT_EQ(options.silent_after, -1);
    EXPECT_EQ(options.bad_crc, 0u);
    EXPECT_TRUE(options.flash_path.empty());
    EXPECT_FALSE(options.silent || options.no_reply || options.noise || options.split ||
                 options.hangup_after_query || options.stray_reply || options.corrupt_reply ||
                 options.trace);
}

TEST(sim_options, every_option_in_both_spellings)
{
    sim_options options;
    std::string error;
    ASSERT_EQ(parse({"--period",
                     "20",
                     "--reply-delay=2",
                     "--reboot-ms",
                     "0",
                     "--baud=115200",
                     "--flash=/tmp/f",
                     "--link",
                     "/tmp/l",
                     "--device=/dev/ttyS9",
                     "--silent",
                     "--no-reply",
                     "--bad-crc",
                     "4",
                     "--noise",
                     "--split",
                     "--result=255",
                     "--hangup-after-query",
                     "--stray-reply",
                     "--corrupt-reply",
                     "--refuse-set",
                     "3:0",
                     "--drop-reply=2",
                     "--reboot-after=7",
                     "--silent-after",
                     "0",
                     "--trace",
                     "--serial=2147483647",
                     "--firmware",
                     "0.65535.3.10"},
                    options, error),
              parse_outcome_t::kRUN)
        << error;
    EXPECT_EQ(options.period_ms, 20u);
    EXPECT_EQ(options.reply_delay, 2u);
    EXPECT_EQ(options.reboot_ms, 0u);
    EXPECT_EQ(options.baud, 115200u);
    EXPECT_EQ(options.flash_path, "/tmp/f");
    EXPECT_EQ(options.link_path, "/tmp/l");
    EXPECT_EQ(options.device_path, "/dev/ttyS9");
    EXPECT_EQ(options.bad_crc, 4u);
    EXPECT_EQ(options.force_result, 255);
    EXPECT_EQ(options.refuse_set, 3u);
    EXPECT_EQ(options.refuse_set_result, 0);
    EXPECT_EQ(options.drop_reply, 2u);
    EXPECT_EQ(options.reboot_after, 7u);
    EXPECT_EQ(options.silent_after, 0);
    EXPECT_EQ(options.identity.serial, 2147483647u);
    EXPECT_EQ(options.identity.firmware, (std::array<uint32_t, 4>{0, 65535, 3, 10}));
    sim_options plain;
    ASSERT_EQ(parse({"--refuse-set", "5"}, plain, error), parse_outcome_t::kRUN) << error;
    EXPECT_EQ(plain.refuse_set, 5u);
    EXPECT_EQ(plain.refuse_set_result, 8) << "the default code";
    EXPECT_TRUE(options.silent && options.no_reply && options.noise && options.split &&
                options.hangup_after_query && options.stray_reply && options.corrupt_reply &&
                options.trace);
}

// --rs485 with its mode and delays; VESK11_RS485 stands in for it with a device only.
TEST(sim_options, rs485_mode_of_a_device)
{
    sim_options options;
    std::string error;
    ASSERT_EQ(parse({"--device", "/dev/ttyS0", "--rs485=rts-after-send", "--rs485-delay-before", "3",
                     "--rs485-delay-after=4"},
                    options, error),
              parse_outcome_t::kRUN)
        << error;
    EXPECT_EQ(options.rs485.mode, kSERIAL_RS485_RTS_AFTER_SEND);
    EXPECT_EQ(options.rs485.delay_before_ms, 3u);
    EXPECT_EQ(options.rs485.delay_after_ms, 4u);
    setenv("VESK11_RS485", "on", 1);
    sim_options fromEnvironment;
    EXPECT_EQ(parse({"--device", "/dev/ttyS0"}, fromEnvironment, error), parse_outcome_t::kRUN);
    EXPECT_EQ(fromEnvironment.rs485.mode, kSERIAL_RS485_RTS_ON_SEND);
    sim_options onPty;
    EXPECT_EQ(parse({"--period", "5"}, onPty, error), parse_outcome_t::kRUN);
    EXPECT_EQ(onPty.rs485.mode, kSERIAL_RS485_OFF) << "a pty has no RS-485 mode";
    unsetenv("VESK11_RS485");
}

TEST(sim_options, help_ends_parsing_and_lists_every_option)
{
    sim_options options;
    std::string error;
    EXPECT_EQ(parse({"--trace", "--help", "--bogus"}, options, error), parse_outcome_t::kHELP);
    for (const char* name : {"--link",        "--device",        "--period",
                             "--reply-delay", "--reboot-ms",     "--baud",
                             "--flash",       "--trace",         "--silent",
                             "--no-reply",    "--bad-crc",       "--noise",
                             "--split",       "--result",        "--hangup-after-query",
                             "--stray-reply", "--corrupt-reply", "--refuse-set",
                             "--drop-reply",  "--silent-after",  "--help",
                             "--version",     "--serial",        "--firmware"})
        EXPECT_NE(sim_usage_text().find(name), std::string::npos) << name;
}

TEST(sim_options, bad_command_lines_are_refused_with_a_reason)
{
    const std::vector<std::vector<const char*>> cases = {
        {"--bogus"},
        {"positional"},
        {"--period"},
        {"--period", "0"},
        {"--period", "60001"},
        {"--period", "-5"},
        {"--period", "5x"},
        {"--result", "256"},
        {"--result="},
        {"--silent=yes"},
        {"--flash="},
        {"--bad-crc", " 1"},
        {"--reply-delay", "99999999999"},
        {"--baud", "4000001"},
        {"--refuse-set", "0"},
        {"--refuse-set", "2:"},
        {"--refuse-set", "2:256"},
        {"--refuse-set", ":8"},
        {"--refuse-set=2:8:1"},
        {"--drop-reply", "0"},
        {"--silent-after", "-1"},
        {"--serial", "2147483648"},
        {"--firmware", "1.2.3"},
        {"--firmware", "1.2.3.4.5"},
        {"--firmware", "1..3.4"},
        {"--firmware", "1.2.3.65536"},
        {"--rs485"},
        {"--device", "/dev/ttyS0", "--rs485=on"},
        {"--device", "/dev/ttyS0", "--rs485-delay-after", "1001"},
        {"--device", "/dev/ttyS0", "--rs485-delay-before", "2"},
    };
    for (const auto& args : cases)
    {
        sim_options options;
        std::string error;
        EXPECT_EQ(parse(args, options, error), parse_outcome_t::kBAD) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

} // namespace
