// The environment and the command line as the real vesk11-cli sees them: what runs, what is
// refused, and what each refusal logs.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include "cli_child.hpp"
#include "cli_handler.hpp"

namespace
{

using vesk11_test::cli_result;

std::string _T_usage()
{
    Orvo::Support::Vesk11Cli::cli_handler engine(Orvo::Support::Vesk11Cli::service_pack{});
    return engine.usage();
}

const std::string kREPLY_450 = "param_result     0 (0x0)\nparam_data_int   1 (0x1)\n"
                               "param_data_float 0.000000 (0x1p-149)\nDONE\n";

struct refusal_case
{
    std::vector<std::string> env;
    std::vector<std::string> args;
    std::string out;
    std::vector<std::string> failures; // every level-1 record, "func: message"
};

class cli_env : public vesk11_test::sim_fixture
{
};

TEST_F(cli_env, refused_environments_and_command_lines)
{
    start_sim(options());
    const std::string endpoint = "VESK11_CLI_ENDPOINT=" + sim_->path();
    const std::string usage = _T_usage();
    const std::string noEndpoint = "Api__Create: fail: VESK11_CLI_ENDPOINT (value:null)";
    // clang-format off
    const std::vector<refusal_case> cases = {
        {{}, {"reboot"}, "FAIL\n", {noEndpoint}},
        {{}, {}, "FAIL\n", {noEndpoint}},
        {{"VESK11_CLI_TOUT=200"}, {"reboot"}, "FAIL\n", {noEndpoint}},
        {{endpoint}, {"reboot"}, "FAIL\n", {"Api__Create: fail: VESK11_CLI_TOUT (value:null)"}},
        {{endpoint, "VESK11_CLI_TOUT=60001"}, {"reboot"}, "FAIL\n",
         {"Api__Create: fail: VESK11_CLI_TOUT (value:60001)"}},
        {{endpoint, "VESK11_CLI_TOUT=-1"}, {"reboot"}, "FAIL\n",
         {"Api__Create: fail: VESK11_CLI_TOUT (value:-1)"}},
        {{endpoint, "VESK11_CLI_TOUT=4294967295"}, {"reboot"}, "FAIL\n",
         {"Api__Create: fail: VESK11_CLI_TOUT (value:4294967295)"}},
        // (2^32 + 200: cut to 32 bits it would pass for 200)
        {{endpoint, "VESK11_CLI_TOUT=4294967496"}, {"reboot"}, "FAIL\n",
         {"Api__Create: fail: VESK11_CLI_TOUT (value:4294967496)"}},
        // (-(2^64 - 1): the C library's conversion makes it 1)
        {{endpoint, "VESK11_CLI_TOUT=-18446744073709551615"}, {"reboot"}, "FAIL\n",
         {"Api__Create: fail: VESK11_CLI_TOUT (value:-18446744073709551615)"}},
        {{"VESK11_CLI_ENDPOINT=", "VESK11_CLI_TOUT=200"}, {"reboot"}, "FAIL\n",
         {"ComTransport__Open: failed to open  (No such file or directory)",
          "enter: fail: Transport__Open", "exec: fail"}},
        {{"VESK11_CLI_ENDPOINT=/nonexistent/tty", "VESK11_CLI_TOUT=200"}, {"reboot"}, "FAIL\n",
         {"ComTransport__Open: failed to open /nonexistent/tty (No such file or directory)",
          "enter: fail: Transport__Open", "exec: fail"}},
        {env(), {}, usage, {"activate: fail: no command"}},
        {env(), {"Reboot"}, usage, {"activate: fail: unknown command <Reboot>"}},
        {env(), {"reboot", "now"}, usage,
         {"_T_assert_word_count: fail: wrong number of words (actual:2, expected:1)"}},
        {env(), {"set-param-f32", "--group=2000", "--id=50", "--value=nan"}, usage,
         {"_T_decode_action_param_value_f32: fail: --value is bad value"}},
        {env(), {"low-power", "ON"}, usage, {"_T_low_power: fail: invalid params"}},
        {env(), {"get-param-i32", "--group=65536", "--id=1"}, usage,
         {"_T_decode_action_param_group: fail: --group is bad value"}},
        {env(), {"set-param-i32", "--group=1", "--id=2", "--value=2147483648"}, usage,
         {"_T_decode_action_param_value_i32: fail: --value is bad value"}},
    };
    // clang-format on
    for (const refusal_case& aCase : cases)
    {
        SCOPED_TRACE("case " + std::to_string(&aCase - cases.data()));
        const cli_result run = this->run(aCase.args, aCase.env);
        EXPECT_EQ(run.out, aCase.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 70);
        EXPECT_EQ(vesk11_test::failures(run), aCase.failures);
    }
    EXPECT_TRUE(sim_->queries().empty());
}

TEST_F(cli_env, time_out_of_60000_is_accepted)
{
    start_sim(options());
    const cli_result run = this->run({"get-param-i32", "--group=2000", "--id=450"}, env("60000"));
    EXPECT_EQ(run.out, kREPLY_450);
    EXPECT_EQ(run.status, 0);
}

// Against a silent sensor the run lasts one wait: the time-out actually taken from the text.
TEST_F(cli_env, time_out_texts_convert_like_strtoul)
{
    sim_options opts = options();
    opts.silent = true;
    start_sim(opts);
    for (const char* text : {"", "abc", "200ms"})
    {
        SCOPED_TRACE(std::string("VESK11_CLI_TOUT=") + text);
        const cli_result run = this->run({"reboot"}, env(text));
        EXPECT_EQ(run.out, "fail: poll\nFAIL\n");
        EXPECT_EQ(run.status, 70);
        if (std::string(text) == "200ms")
        {
            EXPECT_GE(run.elapsed_ms, 200);
        }
        EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(1000));
    }
}

// The device path may have 127 characters, not 128; a refused path touches no device.
TEST_F(cli_env, endpoint_of_127_characters_is_used_and_of_128_refused)
{
    start_sim(options());
    char pattern[] = "/tmp/vesk11-endpoint-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string path127 = dir + "/" + std::string(127 - dir.size() - 1, 'a');
    const std::string path128 = path127 + "b";
    ASSERT_EQ(symlink(sim_->path().c_str(), path127.c_str()), 0);
    ASSERT_EQ(symlink(sim_->path().c_str(), path128.c_str()), 0);

    cli_result run = this->run({"get-param-i32", "--group=2000", "--id=450"},
                               {"VESK11_CLI_ENDPOINT=" + path127, "VESK11_CLI_TOUT=200"});
    EXPECT_EQ(run.out, kREPLY_450);
    EXPECT_EQ(run.status, 0);

    run = this->run({"reboot"}, {"VESK11_CLI_ENDPOINT=" + path128, "VESK11_CLI_TOUT=200"});
    EXPECT_EQ(run.out, "FAIL\n");
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(vesk11_test::failures(run),
              (std::vector<std::string>{"enter: fail: endpoint-path is too long", "exec: fail"}));
    EXPECT_EQ(sim_->queries().size(), 1u);

    unlink(path127.c_str());
    unlink(path128.c_str());
    rmdir(dir.c_str());
}

} // namespace

namespace
{

struct output_case
{
    std::vector<std::string> args;
    bool with_env;
    const char* out_target; // nullptr: a file read back; "": closed
    std::string out;        // checked when read back
    int status;
    std::vector<std::string> failures;
};

} // namespace

// --help and --version need neither sensor nor environment; output that cannot be written fails
// the run; a closed standard output never lets the tool's lines reach a file it opens.
TEST_F(cli_env, help_version_and_standard_output)
{
    start_sim(options());
    const std::vector<std::string> get450 = {"get-param-i32", "--group=2000", "--id=450"};
    // clang-format off
    const std::vector<output_case> cases = {
        {{"--help"}, false, nullptr, _T_usage(), 0, {}},
        {{"-h"}, true, nullptr, _T_usage(), 0, {}},
        {{"--help", "reboot"}, true, nullptr, _T_usage(), 70,
         {"activate: fail: unknown command <--help>"}},
        {{"--version"}, false, "/dev/full", "", 70, {}},
        {get450, true, "/dev/full", "", 70,
         {"_T_flushed: fail: standard output (No space left on device)"}},
        {get450, true, "", "", 0, {}},
    };
    // clang-format on
    for (const output_case& aCase : cases)
    {
        SCOPED_TRACE("case " + std::to_string(&aCase - cases.data()));
        const std::string logPath = vesk11_test::temp_file();
        std::vector<std::string> environment = aCase.with_env ? env() : std::vector<std::string>{};
        environment.push_back("LOG2_FILE=" + logPath);
        const cli_result run = this->run(aCase.args, environment, aCase.out_target);
        if (aCase.out_target == nullptr)
        {
            EXPECT_EQ(run.out, aCase.out);
        }
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, aCase.status);
        EXPECT_EQ(vesk11_test::failures(vesk11_test::read_log_file(logPath)), aCase.failures);
        EXPECT_EQ(vesk11_test::read_file(logPath).find("param_"), std::string::npos);
        unlink(logPath.c_str());
    }
    const cli_result version = vesk11_test::run_cli({"--version"}, {});
    EXPECT_EQ(version.out.rfind("vesk11-cli 1.", 0), 0u) << version.out;
    EXPECT_EQ(version.status, 0);
}

// On a terminal the tool says why it failed, one line per failure record, with or without syslog;
// the usage text is never the only clue.
TEST_F(cli_env, failures_show_on_a_terminal)
{
    start_sim(options());
    struct terminal_case
    {
        std::vector<std::string> env;
        std::vector<std::string> args;
        std::string shown;
    };
    const std::vector<terminal_case> cases = {
        {{"VESK11_CLI_ENDPOINT=/nonexistent/tty", "VESK11_CLI_TOUT=200"},
         {"reboot"},
         "vesk11-cli: failed to open /nonexistent/tty (No such file or directory)\n"
         "vesk11-cli: fail: Transport__Open\nvesk11-cli: fail\n"},
        {env(), {"Reboot"}, "vesk11-cli: fail: unknown command <Reboot>\n"},
        {{}, {"reboot"}, "vesk11-cli: fail: VESK11_CLI_ENDPOINT (value:null)\n"},
        // No log file and no syslog: the same short form, not the records themselves.
        {{"LOG2_FILE=", "LOG2_SYSLOG_SOCKET=/nonexistent/log"},
         {"reboot"},
         "vesk11-cli: fail: VESK11_CLI_ENDPOINT (value:null)\n"},
        {env(), {"get-param-i32", "--group=2000", "--id=450"}, ""},
    };
    for (const terminal_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.shown);
        vesk11_test::pty_pair terminal(vesk11_test::pty_mode_t::kRAW);
        vesk11_test::cli_child child(aCase.args, aCase.env, nullptr, terminal.slave());
        const cli_result run = child.wait();
        std::string shown;
        char buffer[4096];
        pollfd master{terminal.master(), POLLIN, 0};
        while (poll(&master, 1, 100) > 0)
        {
            const ssize_t n = read(terminal.master(), buffer, sizeof buffer);
            if (n <= 0)
                break;
            shown.append(buffer, static_cast<size_t>(n));
        }
        EXPECT_EQ(shown, aCase.shown);
    }
}
