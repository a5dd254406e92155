// Each of the twelve commands, end to end: the real vesk11-cli against the simulated sensor.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_child.hpp"
#include "hex_text.hpp"

namespace
{

using vesk11_test::cli_result;

// The worked examples: the reboot batch with its frame, and a set-and-read-back of 1.5.
const char* const kREBOOT_FRAME =
    "7e 01 0c 00 21 04 00 00 00 00 04 76 "
    "03 fb 08 e8 03 00 04 ff 01 63 a7 03 fb 08 e8 03 01 00 56 01 00 00 03 fb 08 e8 03 02 00 00 "
    "00 00 00 55 7b";
const char* const kSET_FLOAT_BODY =
    "03 fb 08 d0 07 00 04 ff 01 c2 c9 03 fb 08 d0 07 01 04 32 00 00 00 03 fb 08 d0 07 02 02 00 "
    "00 c0 3f";

struct command_case
{
    std::vector<std::string> args;
    uint16_t group;
    uint16_t array;
    uint8_t action;
    uint8_t value_type;
    uint32_t value;
    std::string lines; // what the reply prints before "DONE\n"
};

std::string _T_lines(const std::string& aInt, const std::string& aFloat)
{
    return "param_result     0 (0x0)\nparam_data_int   " + aInt + "\nparam_data_float " + aFloat +
           "\n";
}

// The simulated sensor's factory values answer the reads; a command answers its argument.
// clang-format off
const std::vector<command_case> kCOMMANDS = {
    {{"command", "--group=1000", "--id=344", "--value=2000"}, 1000, 344, 0, 0, 2000,
     _T_lines("2000 (0x7d0)", "0.000000 (0x1.f4p-139)")},
    {{"get-status-i32", "--group=2003", "--id=26"}, 2003, 26, 1, 0, 0,
     _T_lines("38 (0x26)", "0.000000 (0x1.3p-144)")},
    {{"get-status-f32", "--id=9", "--group=2003"}, 2003, 9, 1, 2, 0,
     _T_lines("10597059 (0xa1b2c3)", "0.000000 (0x1.436586p-126)")},
    {{"get-param-i32", "--group=2000", "--id=450"}, 2000, 450, 3, 0, 0,
     _T_lines("1 (0x1)", "0.000000 (0x1p-149)")},
    {{"get-param-f32", "--group=2000", "--id=52"}, 2000, 52, 3, 2, 0,
     _T_lines("1069547520 (0x3fc00000)", "1.500000 (0x1.8p+0)")},
    {{"set-param-i32", "--group=2000", "--id=450", "--value=7"}, 2000, 450, 4, 0, 7,
     _T_lines("7 (0x7)", "0.000000 (0x1.cp-147)")},
    {{"set-param-f32", "--group=2000", "--id=50", "--value=1.5"}, 2000, 50, 4, 2, 0x3FC00000,
     _T_lines("1069547520 (0x3fc00000)", "1.500000 (0x1.8p+0)")},
    {{"reset-ram-conf"}, 1000, 345, 0, 0, 0xFFFFFFFF, _T_lines("-1 (0xffffffff)", "-nan (-nan)")},
    {{"update-flash-conf"}, 1000, 344, 0, 0, 0xFFFFFFFF,
     _T_lines("-1 (0xffffffff)", "-nan (-nan)")},
    {{"reset-flash-conf"}, 1000, 346, 0, 0, 0xFFFFFFFF,
     _T_lines("-1 (0xffffffff)", "-nan (-nan)")},
    {{"low-power", "on"}, 2000, 104, 4, 0, 0, _T_lines("0 (0x0)", "0.000000 (0x0p+0)")},
    {{"low-power", "off"}, 2000, 104, 4, 0, 1, _T_lines("1 (0x1)", "0.000000 (0x1p-149)")},
    {{"reboot"}, 1000, 342, 0, 0, 0, _T_lines("0 (0x0)", "0.000000 (0x0p+0)")},
};
// clang-format on

class cli_commands : public vesk11_test::sim_fixture
{
};

TEST_F(cli_commands, each_command_sends_its_query_and_prints_the_reply)
{
    sim_options opts = options(5);
    opts.reboot_ms = 0;
    start_sim(opts);
    for (size_t i = 0; i < kCOMMANDS.size(); ++i)
    {
        const command_case& command = kCOMMANDS[i];
        SCOPED_TRACE("command: " + command.args[0]);
        const cli_result run = this->run(command.args, env());
        EXPECT_EQ(run.out, command.lines + "DONE\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(vesk11_test::failures(run).empty()) << vesk11_test::dump_records(run.log);
        EXPECT_EQ(vesk11_test::messages(run, 3, "enter"),
                  std::vector<std::string>{"done: Transport__Open <" + sim_->path() + ">"});

        ASSERT_TRUE(sim_->wait_for_queries(i + 1, 1000));
        const Orvo::Support::Vesk11Sim::sim_query query = sim_->queries().at(i);
        EXPECT_EQ(query.group, command.group);
        EXPECT_EQ(query.array, command.array);
        EXPECT_EQ(query.action_type, command.action);
        EXPECT_EQ(query.value_type, command.value_type);
        EXPECT_EQ(query.value, command.value);
        EXPECT_EQ(query.dim0, 0);
        EXPECT_EQ(query.dim1, 0);
        EXPECT_TRUE(query.batch_crc_ok);
        // The frame logged is the frame the sensor received, and one reply block was logged.
        EXPECT_EQ(
            vesk11_test::messages(run, 4, "sendBatch"),
            std::vector<std::string>{"data: tx <" + vesk11_test::hex_text(query.frame) + ">"});
        EXPECT_EQ(vesk11_test::messages(run, 4, "acceptReply").size(), 1u);
        if (command.args[0] == "reboot")
        {
            EXPECT_EQ(vesk11_test::hex_text(query.frame), kREBOOT_FRAME);
        }
        if (command.args[0] == "set-param-f32")
        {
            EXPECT_EQ(vesk11_test::hex_text(query.frame).substr(36, 98), kSET_FLOAT_BODY);
        }
    }
    EXPECT_EQ(sim_->queries().size(), kCOMMANDS.size());
}

// A set writes the sensor's RAM copy; the configuration commands move it between RAM and flash.
TEST_F(cli_commands, sets_and_configuration_commands_change_the_sensor)
{
    start_sim(options(5));
    uint32_t bits = 0;
    ASSERT_EQ(run({"set-param-i32", "--group=2000", "--id=450", "--value=9"}, env()).status, 0);
    ASSERT_TRUE(sim_->ram_value(2000, 450, &bits));
    EXPECT_EQ(bits, 9u);
    ASSERT_EQ(run({"low-power", "on"}, env()).status, 0);
    ASSERT_EQ(run({"update-flash-conf"}, env()).status, 0);
    ASSERT_TRUE(sim_->flash_value(2000, 450, &bits));
    EXPECT_EQ(bits, 9u);
    ASSERT_EQ(run({"low-power", "off"}, env()).status, 0);
    ASSERT_TRUE(sim_->ram_value(2000, 104, &bits));
    EXPECT_EQ(bits, 1u);
    ASSERT_EQ(run({"reset-ram-conf"}, env()).status, 0);
    ASSERT_TRUE(sim_->ram_value(2000, 104, &bits));
    EXPECT_EQ(bits, 0u);
}

} // namespace
