// vesk11-ctl end to end against the simulated sensor: each command's output for people and in
// JSON, the queries the sensor received, and every exit status with its JSON error.
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>

#include "ctl_child.hpp"

namespace
{

using vesk11_test::cli_result;
using Orvo::Support::Vesk11Sim::sim_options;

// The simulated sensor's factory configuration, as dump writes it.
const char* const kFACTORY_DOCUMENT = R"({
  "format": "vesk11-config/1",
  "sensor": {
    "hw_serial": 10597059,
    "hw_antenna": 2,
    "firmware": "11.4.2.7",
    "application": "1.6.0",
    "app_variant": 1,
    "app_type": 3
  },
  "parameters": {
    "param_x": 0.25,
    "param_y": -0.5,
    "param_z": 1.5,
    "param_xy": 2.0,
    "param_xz": -3.5,
    "param_yz": 10.0,
    "power_mode": 1,
    "speed_limit_enable": 1,
    "speed_limit_1_min": 0.0,
    "speed_limit_1_max": 10.0,
    "speed_limit_2_min": 10.0,
    "speed_limit_2_max": 30.0,
    "speed_limit_3_min": 30.0,
    "speed_limit_3_max": 50.0,
    "speed_limit_4_min": 50.0,
    "speed_limit_4_max": 80.0,
    "speed_limit_5_min": 80.0,
    "speed_limit_5_max": 250.0
  }
}
)";

class ctl_commands : public vesk11_test::ctl_fixture
{
  protected:
    void SetUp() override { start_sim(options(5)); }
};

TEST_F(ctl_commands, info_shows_the_identity_in_columns_and_in_json)
{
    cli_result run = ctl({"info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "hw_serial    10597059\nhw_antenna   2\nfirmware     11.4.2.7\n"
                       "application  1.6.0\napp_variant  1\napp_type     3\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(sim_->queries().size(), 11u) << "one query per value, in one session";
    run = ctl({"--json", "info"});
    EXPECT_EQ(run.out, "{\"hw_serial\":10597059,\"hw_antenna\":2,\"firmware\":\"11.4.2.7\","
                       "\"application\":\"1.6.0\",\"app_variant\":1,\"app_type\":3}\n");
}

// Status values are read with get-status, parameters with get-parameter, each as its type.
TEST_F(ctl_commands, get_reads_by_name_and_id_with_the_query_of_its_kind)
{
    const cli_result run = ctl({"get", "speed_limit_3_max", "2003/9", "power_mode", "temperature"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "speed_limit_3_max  2000/456  50\n"
                       "hw_serial          2003/9    10597059\n"
                       "power_mode         2000/104  1\n"
                       "temperature        2003/26   38\n");
    const auto queries = sim_->queries();
    ASSERT_EQ(queries.size(), 4u);
    const uint8_t actions[] = {3, 1, 3, 1};
    const uint8_t types[] = {2, 0, 0, 0};
    for (size_t i = 0; i < queries.size(); ++i)
    {
        EXPECT_EQ(queries[i].action_type, actions[i]) << i;
        EXPECT_EQ(queries[i].value_type, types[i]) << i;
    }
    const nlohmann::json json = json_of(ctl({"get", "param_y", "--json"}));
    EXPECT_EQ(json, nlohmann::json::parse(
                        R"({"values":[{"name":"param_y","group":2000,"id":51,"value":-0.5}]})"));
}

// Each value is written with read-back; --save then saves to flash for all groups.
TEST_F(ctl_commands, set_writes_with_read_back_and_saves_on_request)
{
    cli_result run = ctl({"set", "param_x=-0", "speed_limit_enable=0", "2000/456=12.5"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "param_x             2000/50   -0\n"
                       "speed_limit_enable  2000/450  0\n"
                       "speed_limit_3_max   2000/456  12.5\n");
    EXPECT_EQ(ram(2000, 50), 0x80000000u) << "the very bits of -0";
    EXPECT_EQ(ram(2000, 456), 0x41480000u);
    EXPECT_EQ(flash(2000, 456), 0x42480000u) << "not saved";
    EXPECT_EQ(queries_of(4).size(), 3u);
    run = ctl({"--json", "set", "power_mode=0", "--save"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(json_of(run), nlohmann::json::parse(R"({"values":[{"name":"power_mode","group":2000,
        "id":104,"value":0}],"saved":true})"));
    EXPECT_EQ(flash(2000, 104), 0u);
    EXPECT_EQ(flash(2000, 456), 0x41480000u);
    const auto commands = queries_of(0);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].group, 1000);
    EXPECT_EQ(commands[0].array, 344);
    EXPECT_EQ(commands[0].value, 0xFFFFFFFFu);
    run = ctl({"set", "param_x=1", "-q", "--save"});
    EXPECT_EQ(run.out, "param_x  2000/50  1\n") << "-q leaves the confirmation out";
}

// Each operation sends its one command, with the group or value given, and reports it; low-power
// writes power_mode with read-back.
TEST_F(ctl_commands, operations_send_their_command_and_report_it)
{
    struct operation_case
    {
        std::vector<std::string> args;
        uint16_t array; // the command the sensor received, or 104: power_mode written
        uint32_t value;
        std::string out;
        std::string json;
    };
    // clang-format off
    const std::vector<operation_case> cases = {
        {{"save"}, 344, 0xFFFFFFFF, "update_flash_conf  1000/344  0xFFFFFFFF  accepted\n",
         R"({"command":{"name":"update_flash_conf","group":1000,"id":344,"argument":4294967295}})"},
        {{"save", "2000"}, 344, 2000, "update_flash_conf  1000/344  0x000007D0  accepted\n", ""},
        {{"reset-ram", "0x7d0"}, 345, 2000, "reset_ram_conf  1000/345  0x000007D0  accepted\n", ""},
        {{"reset-ram"}, 345, 0xFFFFFFFF, "reset_ram_conf  1000/345  0xFFFFFFFF  accepted\n", ""},
        {{"reset-flash"}, 346, 0xFFFFFFFF, "reset_flash_conf  1000/346  0xFFFFFFFF  accepted\n",
         R"({"command":{"name":"reset_flash_conf","group":1000,"id":346,"argument":4294967295}})"},
        {{"command", "1000/344", "4294967295"}, 344, 0xFFFFFFFF, "update_flash_conf  1000/344  0xFFFFFFFF  accepted\n", ""},
        {{"command", "reset_ram_conf", "0xFFFFFFFF"}, 345, 0xFFFFFFFF, "reset_ram_conf  1000/345  0xFFFFFFFF  accepted\n", ""},
        {{"low-power", "on"}, 104, 0, "power_mode  2000/104  0\n",
         R"({"values":[{"name":"power_mode","group":2000,"id":104,"value":0}]})"},
        {{"low-power", "off"}, 104, 1, "power_mode  2000/104  1\n", ""},
    };
    // clang-format on
    for (const operation_case& entry : cases)
    {
        SCOPED_TRACE(entry.args[0] + (entry.args.size() > 1 ? " " + entry.args[1] : ""));
        start_sim(options(5));
        const cli_result run = ctl(entry.args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, entry.out);
        const auto queries = sim_->queries();
        ASSERT_EQ(queries.size(), 1u) << "sent once, nothing else";
        EXPECT_EQ(queries[0].group, entry.array == 104 ? 2000 : 1000);
        EXPECT_EQ(queries[0].array, entry.array);
        EXPECT_EQ(queries[0].action_type, entry.array == 104 ? 4 : 0);
        EXPECT_EQ(queries[0].value, entry.value);
        if (entry.array == 104)
        {
            EXPECT_EQ(ram(2000, 104), entry.value);
        }
        if (entry.json.empty())
            continue;
        std::vector<std::string> args = entry.args;
        args.push_back("--json");
        EXPECT_EQ(json_of(ctl(args)), nlohmann::json::parse(entry.json));
    }
}

// The configuration commands act: a value set, saved, changed again, reset from flash, and flash
// reset to the factory's.
TEST_F(ctl_commands, save_and_resets_move_the_configuration_between_ram_and_flash)
{
    ASSERT_EQ(ctl({"set", "param_x=2"}).status, 0);
    ASSERT_EQ(ctl({"save"}).status, 0);
    EXPECT_EQ(flash(2000, 50), 0x40000000u);
    ASSERT_EQ(ctl({"set", "param_x=3"}).status, 0);
    ASSERT_EQ(ctl({"reset-ram", "2000"}).status, 0);
    EXPECT_EQ(ram(2000, 50), 0x40000000u) << "RAM from flash";
    ASSERT_EQ(ctl({"reset-flash"}).status, 0);
    EXPECT_EQ(flash(2000, 50), 0x3E800000u) << "flash back to the factory's 0.25";
    const cli_result run = ctl({"reset-ram", "7"});
    EXPECT_EQ(run.status, 76);
    EXPECT_EQ(run.err, "vesk11-ctl: the sensor refused reset_ram_conf (result 6)\n");
}

// The reboot goes out once; the run ends when the sensor is back, and tells the silence.
TEST_F(ctl_commands, reboot_waits_for_the_sensor_and_tells_how_long_it_was_silent)
{
    sim_options opts = options(10);
    opts.reboot_ms = 400;
    start_sim(opts);
    cli_result run = ctl({"reboot", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    nlohmann::json json = json_of(run);
    EXPECT_EQ(json["command"], nlohmann::json::parse(
                                   R"({"name":"reboot","group":1000,"id":342,"argument":0})"));
    const long silent = json["silent_ms"].get<long>();
    EXPECT_GE(silent, 395);
    EXPECT_LE(silent, vesk11_test::within_ms(400 + 1000)); // a loaded machine may start the sensor late
    EXPECT_GE(run.elapsed_ms, 400);
    ASSERT_EQ(queries_of(0).size(), 1u) << "never sent again during the silence";
    EXPECT_EQ(queries_of(0)[0].array, 342);

    run = ctl({"reboot", "--reboot-wait", "150"});
    EXPECT_EQ(run.status, 69);
    EXPECT_EQ(run.err, "vesk11-ctl: the sensor on " + sim_->path() +
                           " sent no intact block within 150 ms (waiting after the reboot)\n");
    EXPECT_EQ(queries_of(0).size(), 2u);

    // A lost or damaged reply: a command that may have been carried out is never sent again.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"reboot"},
                                                 {"command", "1000/342", "0"},
                                                 {"command", "reboot", "0"},
                                                 {"save"}})
    {
        SCOPED_TRACE(args[0] + " " + args.back());
        for (bool damaged : {false, true})
        {
            opts.drop_reply = damaged ? 0 : 1;
            opts.corrupt_reply = damaged;
            stop_sim();
            start_sim(opts);
            std::vector<std::string> all = args;
            all.insert(all.end(), {"-t", "50", "-r", "2"});
            run = ctl(all);
            EXPECT_EQ(run.status, 69);
            EXPECT_NE(run.err.find("it may have been carried out, so it was not sent again"),
                      std::string::npos)
                << run.err;
            EXPECT_EQ(queries_of(0).size(), 1u) << damaged;
        }
    }
}

// A write that fails ends the run; the values written before it stay, and the report says so.
TEST_F(ctl_commands, set_stops_at_a_refused_write_and_reports_what_was_written)
{
    start_sim([] {
        sim_options opts = options(5);
        opts.refuse_set = 2;
        return opts;
    }());
    const cli_result run = ctl({"--json", "set", "param_x=2", "param_y=3", "param_z=4"});
    EXPECT_EQ(run.status, 76);
    EXPECT_EQ(json_of(run), nlohmann::json::parse(R"json({
        "error": {"kind": "refused", "message": "the sensor refused param_y = 3 (result 8)"},
        "values": [{"name": "param_x", "group": 2000, "id": 50, "value": 2.0}]})json"));
    EXPECT_EQ(queries_of(4).size(), 2u) << "nothing after the refusal";
}

TEST_F(ctl_commands, dump_writes_the_document_to_stdout_or_whole_to_a_file)
{
    cli_result run = ctl({"dump"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kFACTORY_DOCUMENT);
    EXPECT_EQ(sim_->queries().size(), 29u);
    const std::string path = new_path();
    run = ctl({"dump", "-o", path});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "wrote 18 parameters to " + path + "\n");
    EXPECT_EQ(vesk11_test::read_file(path), kFACTORY_DOCUMENT);
    run = ctl({"--output=" + path, "--json", "dump"});
    EXPECT_EQ(json_of(run), nlohmann::json::parse(R"({"file":")" + path + R"(","parameters":18})"));
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~[] { const mode_t m = umask(0); umask(m); return m; }());
}

// One line per difference; exit status 1 when they differ, 0 (and nothing) when equal.
TEST_F(ctl_commands, diff_compares_the_sensor_with_a_document)
{
    const std::string equal = file_with(kFACTORY_DOCUMENT);
    cli_result run = ctl({"diff", equal});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const std::string differing = file_with(R"({"format": "vesk11-config/1", "parameters":
        {"power_mode": 0, "param_x": 0.1, "param_y": -0.5, "2000/77:i32": 3}})");
    start_sim(options(5));
    const cli_result refused = ctl({"diff", differing});
    EXPECT_EQ(refused.status, 76) << "the sensor knows no 2000/77";
    const std::string known = file_with(R"({"format": "vesk11-config/1", "parameters":
        {"power_mode": 0, "param_x": 0.1, "param_y": -0.5}})");
    run = ctl({"diff", known});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "power_mode: sensor 1, file 0\nparam_x: sensor 0.25, file 0.100000001\n");
    EXPECT_EQ(queries_of(4).size(), 0u) << "diff writes nothing";
    run = ctl({"diff", known, "--json"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(json_of(run), nlohmann::json::parse(R"({"equal":false,"differences":[
        {"name":"power_mode","group":2000,"id":104,"sensor":1,"file":0},
        {"name":"param_x","group":2000,"id":50,"sensor":0.25,"file":0.1}]})"));
}

TEST_F(ctl_commands, help_and_version_answer_without_a_sensor)
{
    struct help_case
    {
        std::vector<std::string> args;
        std::string start;
    };
    const help_case cases[] = {
        {{"--help"}, "Usage: vesk11-ctl [OPTIONS] COMMAND [ARGS]\n"},
        {{"-h"}, "Usage: vesk11-ctl [OPTIONS] COMMAND [ARGS]\n"},
        {{"apply", "--help"},
         "Usage: vesk11-ctl [OPTIONS] apply FILE [--check] [--save | --save-when "
         "changed|always]\n"},
        {{"--help", "get"}, "Usage: vesk11-ctl [OPTIONS] get NAME...\n"},
        {{"--version"}, "vesk11-ctl 1.0.0\n"},
    };
    for (const help_case& entry : cases)
    {
        SCOPED_TRACE(entry.args[0]);
        const cli_result run = ctl(entry.args, {});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.substr(0, entry.start.size()), entry.start);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(sim_->queries().empty());
}

// -v shows the log's records on standard error too; without it a run that went well writes
// nothing there (no progress when standard error is not a terminal).
TEST_F(ctl_commands, verbose_echoes_the_log_on_standard_error)
{
    cli_result run = ctl({"get", "param_x", "-v"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("vesk11-ctl: done: Exchange__Open <" + sim_->path() + ">\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("vesk11-ctl: data: tx <7e "), std::string::npos) << run.err;
    run = ctl({"get", "param_x", "param_y"});
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(vesk11_test::has_record(run.log, 3, "sensor_link",
                                        "done: Exchange__Open <" + sim_->path() + ">"))
        << vesk11_test::dump_records(run.log);
}

struct status_case
{
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string kind;
    std::string message; // the start of standard error after "vesk11-ctl: "
};

// A failure of apply carries the members of its report beside the error, whatever the failure.
void expect_apply_members(const std::vector<std::string>& aArgs, const nlohmann::json& aJson)
{
    if (std::find(aArgs.begin(), aArgs.end(), "apply") == aArgs.end())
        return;
    EXPECT_EQ(aJson["changed"], false) << aJson;
    EXPECT_EQ(aJson["changes"], nlohmann::json::array()) << aJson;
    EXPECT_EQ(aJson["saved"], false) << aJson;
    EXPECT_EQ(aJson["rolled_back"], nlohmann::json::array()) << aJson;
}

// Usage errors: nothing is opened, the reason is told, and --json gets its error object.
TEST_F(ctl_commands, usage_errors_exit_64_before_the_line_is_opened)
{
    // clang-format off
    const std::vector<status_case> cases = {
        {"no command", {}, 64, "usage", "no command: give one of"},
        {"unknown command", {"frob"}, 64, "usage", "unknown command 'frob'"},
        {"unknown option", {"get", "param_x", "--frob"}, 64, "usage", "unknown option --frob"},
        {"unknown short option", {"-x", "info"}, 64, "usage", "unknown option -x"},
        {"value missing", {"info", "--timeout"}, 64, "usage", "option --timeout needs a value"},
        {"value not taken", {"info", "--json=1"}, 64, "usage", "option --json takes no value"},
        {"timeout 0", {"info", "--timeout", "0"}, 64, "usage", "--timeout '0' is not a whole number from 1 to 60000"},
        {"timeout not a number", {"info", "-t", "2s"}, 64, "usage", "--timeout '2s' is not"},
        {"retries above 10", {"info", "--retries=11"}, 64, "usage", "--retries '11' is not a whole number from 0 to 10"},
        {"option of another command", {"get", "param_x", "--save"}, 64, "usage", "--save is not an option of get"},
        {"output for info", {"info", "-o", "x"}, 64, "usage", "--output is not an option of info"},
        {"get without names", {"get"}, 64, "usage", "get needs an argument: get NAME..."},
        {"info with a word", {"info", "x"}, 64, "usage", "info takes no arguments, got 'x'"},
        {"diff with two files", {"diff", "a", "b"}, 64, "usage", "diff takes one argument, got 'b'"},
        {"unknown name", {"get", "speed_limit_3_mx"}, 64, "usage", "unknown name 'speed_limit_3_mx' (did you mean 'speed_limit_3_max'?)"},
        {"id without a type", {"get", "2000/77"}, 64, "usage", "'2000/77' is not in the catalogue: give its type"},
        {"get of a command", {"get", "reboot"}, 64, "usage", "reboot is a command: it has no value to read"},
        {"set without a value", {"set", "param_x"}, 64, "usage", "'param_x' is not NAME=VALUE"},
        {"set of a status value", {"set", "hw_serial=1"}, 64, "usage", "hw_serial is a status value: it cannot be set"},
        {"set of a fraction", {"set", "power_mode=1.5"}, 64, "usage", "power_mode=1.5: not a whole number from -2147483648 to 2147483647"},
        {"set of nan", {"set", "param_x=nan"}, 64, "usage", "param_x=nan: not a finite number"},
        {"set out of range", {"set", "power_mode=2147483648"}, 64, "usage", "power_mode=2147483648: not a whole number"},
        {"check with save", {"apply", "f", "--check", "--save"}, 64, "usage", "apply --check writes nothing, so it cannot --save"},
        {"check with save-when", {"apply", "f", "--check", "--save-when", "always"}, 64, "usage", "apply --check writes nothing"},
        {"save-when never", {"apply", "f", "--save-when", "never"}, 64, "usage", "--save-when 'never' is not changed or always"},
        {"save-when for set", {"set", "param_x=1", "--save-when=always"}, 64, "usage", "--save-when is not an option of set"},
        {"apply with two files", {"apply", "a", "b"}, 64, "usage", "apply takes one argument, got 'b'"},
        {"empty device", {"info", "--device="}, 64, "usage", "--device needs a path"},
        {"low-power maybe", {"low-power", "maybe"}, 64, "usage", "low-power takes on or off, got 'maybe'"},
        {"group not a number", {"save", "all"}, 64, "usage", "GROUP 'all' is not a whole number from 0 to 4294967295"},
        {"group above 32 bits", {"reset-flash", "0x100000000"}, 64, "usage", "GROUP '0x100000000' is not"},
        {"command of a parameter", {"command", "param_x", "1"}, 64, "usage", "param_x is not a command: use get or set"},
        {"command id not numbers", {"command", "1000/x", "1"}, 64, "usage", "'1000/x' is not a command name or GROUP/ID"},
        {"command without a value", {"command", "1000/344"}, 64, "usage", "command needs arguments"},
        {"reboot wait 0", {"reboot", "--reboot-wait", "0"}, 64, "usage", "--reboot-wait '0' is not a whole number from 1 to 600000"},
        {"reboot wait elsewhere", {"save", "--reboot-wait", "5"}, 64, "usage", "--reboot-wait is not an option of save"},
        {"rs485 unknown mode", {"info", "--rs485=rts-high"}, 64, "usage", "--rs485 'rts-high' is not a mode: rts-on-send or rts-after-send"},
        {"rs485 delay alone", {"info", "--rs485-delay-after", "2"}, 64, "usage", "an RS-485 delay needs --rs485 (or VESK11_RS485)"},
        {"rs485 delay too long", {"info", "--rs485", "--rs485-delay-before", "1001"}, 64, "usage", "--rs485-delay-before '1001' is not a whole number from 0 to 1000"},
    };
    // clang-format on
    for (const status_case& entry : cases)
    {
        SCOPED_TRACE(entry.what);
        std::vector<std::string> args = entry.args;
        const cli_result run = ctl(args);
        EXPECT_EQ(run.status, entry.status);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.substr(0, 12 + entry.message.size()), "vesk11-ctl: " + entry.message)
            << run.err;
        EXPECT_NE(run.err.find("Try 'vesk11-ctl --help'"), std::string::npos);
        // getopt_long takes an abbreviation, and so does the choice of the error's form.
        args.insert(args.begin(), "--js");
        const nlohmann::json json = json_of(ctl(args));
        EXPECT_EQ(json["error"]["kind"], entry.kind) << json;
        expect_apply_members(args, json);
        EXPECT_EQ(json["error"]["message"].get<std::string>().substr(0, entry.message.size()),
                  entry.message);
    }
    EXPECT_TRUE(sim_->queries().empty());
}

TEST_F(ctl_commands, environment_gives_device_and_time_out_and_options_win)
{
    const std::string line = "VESK11_CLI_ENDPOINT=" + sim_->path();
    cli_result run = ctl({"get", "hw_antenna"}, {line, "VESK11_CLI_TOUT=150"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = ctl({"get", "hw_antenna"}, {line, "VESK11_CLI_TOUT=0"});
    EXPECT_EQ(run.status, 64);
    EXPECT_EQ(run.err.substr(0, 69), "vesk11-ctl: VESK11_CLI_TOUT '0' is not a whole number from 1 to 60000");
    run = ctl({"get", "hw_antenna", "--timeout=100"}, {line, "VESK11_CLI_TOUT=0"});
    EXPECT_EQ(run.status, 0) << "--timeout wins over a bad variable";
    run = ctl({"get", "hw_antenna"}, {});
    EXPECT_EQ(run.status, 64);
    EXPECT_EQ(run.err.substr(0, 69),
              "vesk11-ctl: no device: give --device PATH or set VESK11_CLI_ENDPOINT\n");
    // VESK11_RS485 asks a pty for the RS-485 mode, which it refuses; 0 or empty leave it off.
    run = ctl({"get", "hw_antenna"}, {line, "VESK11_RS485=on"});
    EXPECT_EQ(run.status, 69);
    EXPECT_EQ(run.err, "vesk11-ctl: the driver of " + sim_->path() +
                           " refused RS-485 mode rts-on-send (no RS-485 support); the line is left "
                           "as found\n");
    run = ctl({"get", "hw_antenna"}, {line, "VESK11_RS485=rts-after-send"});
    EXPECT_NE(run.err.find("refused RS-485 mode rts-after-send"), std::string::npos) << run.err;
    for (const char* off : {"VESK11_RS485=0", "VESK11_RS485="})
        EXPECT_EQ(ctl({"get", "hw_antenna"}, {line, off}).status, 0) << off;
    run = ctl({"get", "hw_antenna"}, {line, "VESK11_RS485=yes"});
    EXPECT_EQ(run.status, 64);
    EXPECT_EQ(run.err.substr(0, 77),
              "vesk11-ctl: VESK11_RS485 'yes' is not 1, on, 0, rts-on-send or rts-after-send");
    EXPECT_EQ(sim_->queries().size(), 4u) << "nothing sent on a refused line";
    run = ctl({"--device", sim_->path(), "get", "hw_antenna"}, {"VESK11_CLI_ENDPOINT=/nonexistent"});
    EXPECT_EQ(run.status, 0) << "--device wins: " << run.err;
    EXPECT_EQ(run.out, "hw_antenna  2003/7  2\n");
}

// The failures of a sensor and of files, each with its status and JSON kind.
TEST_F(ctl_commands, each_failure_has_its_exit_status)
{
    struct failure_case
    {
        const char* what;
        std::function<void(sim_options&)> sim;
        std::vector<std::string> args;
        int status;
        std::string kind;
        std::string message;   // how the message begins
        std::string also = ""; // and what else it says
    };
    const std::string bad = file_with("{\"format\": \"vesk11-config/1\", \"parameters\": {\"x\": 1}}");
    const std::string missing = "/nonexistent/vesk11.json";
    // clang-format off
    const std::vector<failure_case> cases = {
        {"bad document", nullptr, {"diff", bad}, 65, "document", bad + ": key \"parameters.x\": unknown name 'x'"},
        {"no such file", nullptr, {"apply", missing}, 66, "input", "cannot read /nonexistent/vesk11.json: No such file or directory"},
        {"no such device", nullptr, {"info", "-d", "/nonexistent/tty"}, 69, "missing", "cannot open /nonexistent/tty: no such device (check the path"},
        {"not a serial line", nullptr, {"info", "-d", bad}, 69, "not_serial", "cannot open " + bad + ": not a serial line (Inappropriate ioctl"},
        {"silent sensor", [](sim_options& o) { o.silent = true; }, {"info", "-t", "30"}, 69, "unavailable", "the sensor on ", "sends nothing: not a byte (reading hw_serial, 3 tries, --timeout 30 ms)"},
        {"no reply", [](sim_options& o) { o.no_reply = true; }, {"get", "param_x", "-r", "0"}, 69, "unavailable", "no reply from the sensor on ", "--timeout 200 ms): blocks came, none answered"},
        {"no intact block", [](sim_options& o) { o.bad_crc = 1000000; }, {"get", "param_x", "-r", "0"}, 69, "unavailable", "bytes but no intact block from ", "--timeout 200 ms"},
        {"period above the time-out", [](sim_options& o) { o.period_ms = 300; }, {"get", "param_x", "-t", "100", "-r", "8"}, 69, "unavailable", "intact blocks from ", "--timeout 100 ms): "},
        {"damaged replies", [](sim_options& o) { o.corrupt_reply = true; }, {"get", "param_x", "-t", "100", "-r", "0"}, 69, "unavailable", "no intact reply from the sensor on ", ": 1 block after the query had bad checksums"},
        {"reboot's reply lost", [](sim_options& o) { o.drop_reply = 1; }, {"reboot"}, 69, "unavailable", "the reboot was sent to ", "and its reply was lost (--timeout 200 ms): it may have been carried out"},
        {"rs485 refused by a pty", nullptr, {"info", "--rs485"}, 69, "unavailable", "the driver of /dev/pts/"},
        {"rs485 mode named", nullptr, {"save", "--rs485=rts-after-send", "--rs485-delay-after", "1"}, 69, "unavailable", "the driver of /dev/pts/"},
        {"output folder missing", nullptr, {"dump", "-o", "/nonexistent/d.json"}, 73, "output", "cannot write /nonexistent/d.json (create): No such file or directory"},
        {"line hung up", [](sim_options& o) { o.hangup_after_query = true; }, {"get", "param_x"}, 74, "io", "/dev/pts/"},
        {"refused", [](sim_options& o) { o.force_result = 3; }, {"get", "param_x"}, 76, "refused", "the sensor refused to read param_x (result 3)"},
        {"write refused", [](sim_options& o) { o.refuse_set = 1; }, {"set", "param_x=2"}, 76, "refused", "the sensor refused param_x = 2 (result 8)"},
        {"read-back differs", [](sim_options& o) { o.refuse_set = 1; o.refuse_set_result = 0; }, {"set", "param_x=2"}, 76, "readback", "param_x read back 0.25 after writing 2"},
    };
    // clang-format on
    for (const failure_case& entry : cases)
    {
        SCOPED_TRACE(entry.what);
        sim_options opts = options(5);
        if (entry.sim)
            entry.sim(opts);
        start_sim(opts);
        std::vector<std::string> args = entry.args;
        args.push_back("--json");
        // A line the sensor hung up on has no settings left to check.
        const cli_result run =
            opts.hangup_after_query
                ? vesk11_test::run_cli(args, {"VESK11_CLI_ENDPOINT=" + sim_->path()}, nullptr,
                                       VESK11_CTL_BINARY)
                : ctl(args);
        EXPECT_EQ(run.status, entry.status) << run.err;
        EXPECT_EQ(run.err.substr(0, 12 + entry.message.size()), "vesk11-ctl: " + entry.message)
            << run.err;
        EXPECT_NE(run.err.find(entry.also), std::string::npos) << run.err;
        const nlohmann::json json = json_of(run);
        EXPECT_EQ(json["error"]["kind"], entry.kind) << run.out;
        expect_apply_members(args, json);
        EXPECT_EQ(run.err, "vesk11-ctl: " + json["error"]["message"].get<std::string>() + "\n");
        EXPECT_TRUE(vesk11_test::failures(run).size() >= 1) << "the log tells why";
    }
}

// A line another program holds is left alone, nothing sent on it; the message names the holder.
TEST_F(ctl_commands, a_locked_device_is_unavailable)
{
    const int holder = open(sim_->path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const cli_result run = ctl({"--json", "info"});
    close(holder);
    EXPECT_EQ(run.status, 69);
    EXPECT_EQ(json_of(run)["error"]["kind"], "locked");
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);
    EXPECT_EQ(run.err, "vesk11-ctl: cannot open " + sim_->path() + ": locked by another program, " +
                           self + " (pid " + std::to_string(getpid()) + ")\n");
    EXPECT_TRUE(sim_->queries().empty());
}

// A stop signal ends the run at once, the line put back as it was.
TEST_F(ctl_commands, stop_signal_ends_the_run_with_status_70)
{
    start_sim([] {
        sim_options opts = options(20);
        opts.no_reply = true;
        return opts;
    }());
    vesk11_test::cli_child child({"get", "param_x", "--json", "--timeout", "5000"},
                                 {"VESK11_CLI_ENDPOINT=" + sim_->path()}, nullptr, -1,
                                 VESK11_CTL_BINARY);
    ASSERT_TRUE(sim_->wait_for_queries(1, static_cast<int>(vesk11_test::within_ms(5000))));
    kill(child.pid(), SIGTERM);
    const cli_result run = child.wait();
    expect_line_restored();
    EXPECT_EQ(run.status, 70);
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(4000));
    EXPECT_EQ(json_of(run)["error"]["kind"], "interrupted");
    EXPECT_EQ(run.err, "vesk11-ctl: interrupted by Terminated during reading param_x\n");
}

} // namespace
