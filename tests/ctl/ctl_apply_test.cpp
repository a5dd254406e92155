// vesk11-ctl apply end to end: only the differences written, each read back; --check and --save;
// rollback after a refusal, a read-back that differs, a sensor gone silent or a stop signal; a
// lost reply sent again; documents refused before the line is opened.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "ctl_child.hpp"
#include "uat4/types.h"

namespace
{

using vesk11_test::cli_result;
using Orvo::Support::Vesk11Sim::sim_options;

// Five differences from the factory values, of both types, with a negative zero among them.
const char* const kFIVE_CHANGES = R"({"format": "vesk11-config/1",
  "sensor": {"hw_serial": 1},
  "parameters": {"param_x": 0.1, "param_y": -0.5, "power_mode": 0, "speed_limit_enable": 0,
                 "speed_limit_1_min": -0.0, "speed_limit_2_max": 33.25, "param_z": 1.5}})";

struct written
{
    uint16_t array;
    uint32_t bits;
};

const written kFIVE_WRITES[] = {
    {50, 0x3DCCCCCD}, {104, 0}, {450, 0}, {451, 0x80000000}, {454, 0x42050000},
};

// The factory values of those five.
const written kFIVE_BEFORE[] = {
    {50, 0x3E800000}, {104, 1}, {450, 1}, {451, 0}, {454, 0x41F00000},
};

class ctl_apply : public vesk11_test::ctl_fixture
{
  protected:
    void start(const std::function<void(sim_options&)>& aFault = nullptr, uint32_t aPeriod = 5)
    {
        sim_options opts = options(aPeriod);
        if (aFault)
            aFault(opts);
        start_sim(opts);
    }

    void expect_ram(const written* aValues, size_t aCount)
    {
        for (size_t i = 0; i < aCount; ++i)
            EXPECT_EQ(ram(2000, aValues[i].array), aValues[i].bits) << aValues[i].array;
    }
};

TEST_F(ctl_apply, writes_only_the_differences_each_read_back)
{
    start();
    const cli_result run = ctl({"apply", file_with(kFIVE_CHANGES)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "param_x             2000/50   0.25 -> 0.100000001\n"
                       "power_mode          2000/104  1 -> 0\n"
                       "speed_limit_enable  2000/450  1 -> 0\n"
                       "speed_limit_1_min   2000/451  0 -> -0\n"
                       "speed_limit_2_max   2000/454  30 -> 33.25\n"
                       "changed 5 of 7 parameters\n");
    const auto sets = queries_of(4);
    ASSERT_EQ(sets.size(), 5u);
    for (size_t i = 0; i < sets.size(); ++i)
    {
        EXPECT_EQ(sets[i].array, kFIVE_WRITES[i].array);
        EXPECT_EQ(sets[i].value, kFIVE_WRITES[i].bits);
    }
    expect_ram(kFIVE_WRITES, 5);
    EXPECT_EQ(flash(2000, 104), 1u) << "not saved";
    EXPECT_EQ(sim_->queries().size(), 17u) << "7 reads, 5 writes, the 5 read again, nothing else";
}

TEST_F(ctl_apply, a_dump_applied_to_the_same_sensor_changes_nothing)
{
    start();
    // A signalling NaN with a payload and an infinity come back with their very bits.
    ASSERT_EQ(ctl({"apply", file_with(R"({"format": "vesk11-config/1", "parameters": {
                      "param_x": "nan:0x7FA00001", "param_y": "-inf", "param_yz": -1e-40,
                      "power_mode": -7}})")})
                  .status,
              0);
    EXPECT_EQ(ram(2000, 50), 0x7FA00001u);
    EXPECT_EQ(json_of(ctl({"get", "param_x", "--json"}))["values"][0]["value"], "nan:0x7FA00001");
    const std::string path = new_path();
    ASSERT_EQ(ctl({"dump", "-o", path}).status, 0);
    const size_t before = sim_->queries().size();
    const cli_result run = ctl({"apply", path, "--save", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(json_of(run), nlohmann::json::parse(
                                R"({"changed":false,"changes":[],"saved":false,"rolled_back":[]})"));
    EXPECT_EQ(sim_->queries().size(), before + 18) << "reads only: no write, no save";
    EXPECT_EQ(ctl({"diff", path}).status, 0);
}

TEST_F(ctl_apply, check_tells_what_would_change_and_writes_nothing)
{
    start();
    const std::string path = file_with(kFIVE_CHANGES);
    cli_result run = ctl({"apply", "--check", path});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("speed_limit_2_max   2000/454  30 -> 33.25\n"
                           "would change 5 of 7 parameters\n"),
              std::string::npos)
        << run.out;
    run = ctl({"apply", "--check", path, "--json"});
    EXPECT_EQ(run.status, 1);
    const nlohmann::json json = json_of(run);
    EXPECT_EQ(json["check"], true);
    EXPECT_EQ(json["changed"], false);
    EXPECT_EQ(json["changes"].size(), 5u);
    EXPECT_EQ(json["changes"][0], nlohmann::json::parse(
                                      R"({"name":"param_x","group":2000,"id":50,"before":0.25,
                                          "after":0.1})"));
    EXPECT_TRUE(queries_of(4).empty());
    ASSERT_EQ(ctl({"apply", path}).status, 0);
    run = ctl({"apply", "--check", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "nothing would change\n");
}

// --save only when something changed, and then only after every change was read back.
TEST_F(ctl_apply, save_only_when_something_changed)
{
    start();
    const std::string path = file_with(kFIVE_CHANGES);
    cli_result run = ctl({"apply", path, "--save"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("changed 5 of 7 parameters\nsaved to flash\n"), std::string::npos);
    EXPECT_EQ(flash(2000, 454), 0x42050000u);
    ASSERT_EQ(queries_of(0).size(), 1u);
    EXPECT_EQ(queries_of(0)[0].array, 344);
    run = ctl({"apply", path, "--save"});
    EXPECT_EQ(run.out, "nothing changed\nnot saved: nothing changed\n");
    EXPECT_EQ(queries_of(0).size(), 1u) << "no second save";
    // After a save that failed, RAM already matches: --save-when always saves all the same.
    run = ctl({"apply", path, "--save-when", "always", "--json"});
    EXPECT_EQ(json_of(run), nlohmann::json::parse(
                                R"({"changed":false,"changes":[],"saved":true,"rolled_back":[]})"));
    EXPECT_EQ(queries_of(0).size(), 2u);
}

// What the sensor may hold after a failure is told as it stands: a value it reverted by itself,
// a write or a save that went out without a reply (which it may have carried out).
TEST_F(ctl_apply, reports_tell_what_the_sensor_may_hold)
{
    struct may_case
    {
        const char* what;
        std::function<void(sim_options&)> fault;
        std::vector<std::string> args;
        int status;
        std::string message; // in the error's message
        bool changed;
        nlohmann::json saved;
        std::vector<bool> confirmed; // of the changes
        size_t saves;                // save queries the sensor received
        uint32_t flash_454;          // speed_limit_2_max in flash afterwards
    };
    // A restart right after the second write's reply (7 reads, 2 writes): the sensor goes back to
    // its flash values, the run reads every change again, fails and writes them back.
    auto restart = [](sim_options& aOptions)
    {
        aOptions.reboot_after = 9;
        aOptions.reboot_ms = 100;
    };
    const nlohmann::json null;
    // clang-format off
    const std::vector<may_case> cases = {
        {"restart mid-apply, --save", restart, {"--save"}, 76,
         "the sensor no longer holds what was written to param_x, power_mode (it restarted", false,
         false, {true, true, true, true, true}, 0, 0x41F00000},
        {"restart mid-apply", restart, {}, 76, "no longer holds what was written to param_x, power_mode",
         false, false, {true, true, true, true, true}, 0, 0x41F00000},
        // 7 reads, 5 writes, 5 read again, then the save, whose reply is lost: it is not sent again.
        {"save reply lost", [](sim_options& aOptions) { aOptions.drop_reply = 18; }, {"--save"}, 69,
         "(saving to flash, 1 try, --timeout 200 ms): blocks came, none answered the query; it may have been "
         "carried out, so it was not sent again; the changes are "
         "in the sensor's RAM and may also be in its flash", true, null, {true, true, true, true, true}, 1, 0x42050000},
        // The first write is carried out, its reply lost, and writing it back is refused.
        {"write reply lost", [](sim_options& aOptions) { aOptions.drop_reply = 8; aOptions.refuse_set = 2; },
         {"-r", "0"}, 69, "NOT rolled back, may stay changed: param_x", true, false, {false}, 0,
         0x41F00000},
    };
    // clang-format on
    for (const may_case& entry : cases)
    {
        SCOPED_TRACE(entry.what);
        start(entry.fault);
        std::vector<std::string> args = {"apply", file_with(kFIVE_CHANGES), "--json"};
        args.insert(args.end(), entry.args.begin(), entry.args.end());
        const cli_result run = ctl(args);
        EXPECT_EQ(run.status, entry.status) << run.err;
        const nlohmann::json json = json_of(run);
        EXPECT_NE(json["error"]["message"].get<std::string>().find(entry.message),
                  std::string::npos)
            << json["error"];
        EXPECT_EQ(json["changed"], entry.changed);
        EXPECT_EQ(json["saved"], entry.saved);
        EXPECT_EQ(json.contains("save_unconfirmed"), entry.saved.is_null()) << json;
        ASSERT_EQ(json["changes"].size(), entry.confirmed.size()) << json;
        for (size_t i = 0; i < entry.confirmed.size(); ++i)
            EXPECT_EQ(json["changes"][i]["confirmed"], entry.confirmed[i]) << i;
        EXPECT_EQ(queries_of(0).size(), entry.saves);
        EXPECT_EQ(flash(2000, 454), entry.flash_454);
        if (!entry.changed)
            expect_ram(kFIVE_BEFORE, 5);
        stop_sim();
    }
}

// The third write is refused: the two before it are written back, each read back; nothing is
// saved.
TEST_F(ctl_apply, a_refused_write_rolls_back_the_changes_made)
{
    start([](sim_options& aOptions) { aOptions.refuse_set = 3; });
    const cli_result run = ctl({"apply", file_with(kFIVE_CHANGES), "--save", "--json"});
    EXPECT_EQ(run.status, 76) << run.err;
    EXPECT_EQ(run.err, "vesk11-ctl: the sensor refused speed_limit_enable = 0 (result 8); rolled "
                       "back, each read back: power_mode, param_x\n");
    EXPECT_EQ(json_of(run), nlohmann::json::parse(R"({
        "error": {"kind": "refused", "message": "the sensor refused speed_limit_enable = 0 (result 8); rolled back, each read back: power_mode, param_x"},
        "changed": false,
        "changes": [{"name":"param_x","group":2000,"id":50,"before":0.25,"after":0.1,"confirmed":true},
                    {"name":"power_mode","group":2000,"id":104,"before":1,"after":0,"confirmed":true}],
        "saved": false,
        "rolled_back": [{"name":"power_mode","group":2000,"id":104,"value":1,"restored":true},
                        {"name":"param_x","group":2000,"id":50,"value":0.25,"restored":true}]})"));
    expect_ram(kFIVE_BEFORE, 5);
    const auto sets = queries_of(4);
    ASSERT_EQ(sets.size(), 5u) << "3 writes, 2 written back";
    EXPECT_EQ(sets[3].array, 104);
    EXPECT_EQ(sets[3].value, 1u);
    EXPECT_EQ(sets[4].array, 50);
    EXPECT_EQ(sets[4].value, 0x3E800000u);
    EXPECT_TRUE(queries_of(0).empty()) << "nothing saved";
}

// A sensor that takes a value but reads back another may hold anything: that one is written
// back too.
TEST_F(ctl_apply, a_read_back_that_differs_rolls_back_that_value_too)
{
    start([](sim_options& aOptions) {
        aOptions.refuse_set = 2;
        aOptions.refuse_set_result = 0;
    });
    const cli_result run = ctl({"apply", file_with(kFIVE_CHANGES)});
    EXPECT_EQ(run.status, 76);
    EXPECT_EQ(run.err, "vesk11-ctl: power_mode read back 1 after writing 0; rolled back, each "
                       "read back: power_mode, param_x\n");
    expect_ram(kFIVE_BEFORE, 5);
}

// The sensor dies after the first write: the run fails as unavailable within its time-outs and
// says which values may stay changed.
TEST_F(ctl_apply, a_sensor_silent_mid_apply_fails_and_names_what_may_stay_changed)
{
    start([](sim_options& aOptions) { aOptions.silent_after = 8; });
    const cli_result run = ctl({"apply", file_with(kFIVE_CHANGES), "-t", "30", "--json"});
    EXPECT_EQ(run.status, 69) << run.err;
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(2000));
    // A query goes out only after an intact block: the second write goes out in the moment
    // after the last block (a slow run misses that moment), and nothing after it.
    const size_t sent = queries_of(4).size();
    EXPECT_GE(sent, 1u);
    EXPECT_LE(sent, 2u);
    const std::string left = sent == 2 ? "power_mode, param_x" : "param_x";
    EXPECT_NE(run.err.find("; NOT rolled back, may stay changed: " + left + "\n"),
              std::string::npos)
        << run.err;
    const nlohmann::json json = json_of(run);
    EXPECT_EQ(json["error"]["kind"], "unavailable");
    EXPECT_EQ(json["changed"], true);
    ASSERT_EQ(json["rolled_back"].size(), sent);
    for (const auto& restored : json["rolled_back"])
        EXPECT_EQ(restored["restored"], false);
    EXPECT_EQ(ram(2000, 50), 0x3DCCCCCDu) << "the first write stays";
}

// A reply lost on the line: the query is sent again and the run succeeds.
TEST_F(ctl_apply, a_lost_reply_is_sent_again)
{
    start([](sim_options& aOptions) { aOptions.drop_reply = 9; });
    const cli_result run = ctl({"apply", file_with(kFIVE_CHANGES), "-t", "50"});
    EXPECT_EQ(run.status, 0) << run.err;
    expect_ram(kFIVE_WRITES, 5);
    const auto sets = queries_of(4);
    ASSERT_EQ(sets.size(), 6u);
    EXPECT_EQ(sets[1].array, 104);
    EXPECT_EQ(sets[2].array, 104) << "sent again";
    EXPECT_EQ(vesk11_test::messages(run, 2, "query"),
              std::vector<std::string>{
                  "fail: no reply for writing power_mode (damaged blocks:0), sending it again "
                  "(2 of 3)"});
    const cli_result none = ctl({"apply", file_with(kFIVE_CHANGES), "-r", "0"});
    EXPECT_EQ(none.status, 0) << "nothing left to change";
}

// A stop signal mid-apply still takes the changes back before the run ends.
TEST_F(ctl_apply, a_stop_signal_rolls_back_and_ends_with_70)
{
    start(nullptr, 20);
    vesk11_test::cli_child child({"apply", file_with(kFIVE_CHANGES), "--json"},
                                 {"VESK11_CLI_ENDPOINT=" + sim_->path()}, nullptr, -1,
                                 VESK11_CTL_BINARY);
    ASSERT_TRUE(sim_->wait_for_queries(9, static_cast<int>(vesk11_test::within_ms(5000))));
    kill(child.pid(), SIGINT);
    const cli_result run = child.wait();
    expect_line_restored();
    EXPECT_EQ(run.status, 70) << run.err;
    const nlohmann::json json = json_of(run);
    EXPECT_EQ(json["error"]["kind"], "interrupted");
    EXPECT_EQ(json["changed"], false);
    EXPECT_GE(json["rolled_back"].size(), 2u);
    for (const auto& restored : json["rolled_back"])
        EXPECT_EQ(restored["restored"], true) << restored;
    expect_ram(kFIVE_BEFORE, 5);
}

// A stop signal while the document is still being read (here: a FIFO no one has written to yet)
// ends the run with its report, as later ones do.
TEST_F(ctl_apply, a_stop_signal_before_the_line_is_open_still_reports)
{
    start();
    const std::string fifo = new_path();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    vesk11_test::cli_child child({"apply", fifo, "--json"}, {"VESK11_CLI_ENDPOINT=" + sim_->path()},
                                 nullptr, -1, VESK11_CTL_BINARY);
    // Opening the FIFO waits for the program to open it for reading: it is in main by then.
    const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    kill(child.pid(), SIGTERM);
    const std::string document = kFIVE_CHANGES;
    EXPECT_EQ(write(writer, document.data(), document.size()),
              static_cast<ssize_t>(document.size()));
    close(writer);
    const cli_result run = child.wait();
    EXPECT_EQ(run.status, 70) << run.err;
    EXPECT_EQ(json_of(run),
              nlohmann::json::parse(R"({"error":{"kind":"interrupted","message":"interrupted by )"
                                    R"(Terminated during reading param_x"},"changed":false,)"
                                    R"("changes":[],"saved":false,"rolled_back":[]})"));
    EXPECT_TRUE(queries_of(4).empty());
}

// Refused before anything is written: the line is not even opened.
TEST_F(ctl_apply, bad_documents_are_refused_before_the_line_is_opened)
{
    start();
    struct bad_case
    {
        const char* text;
        std::string message;
    };
    const bad_case cases[] = {
        {R"({"format": "vesk11-config/1", "parameters": {"param_x": 0.5, "power_mode": "on"}})",
         "key \"parameters.power_mode\": a number is expected"},
        {R"({"format": "vesk11-config/1", "parameters": {"param_x": 0.5, "hw_serial": 3}})",
         "key \"parameters.hw_serial\": a status value, which cannot be written"},
        {R"({"format": "vesk11-config/1", "parameters": {"param_x": 0.5}, "extra": 1})",
         "key \"extra\": unknown key (known: format, sensor, parameters)"},
        {R"({"parameters": {"param_x": 0.5}})", "missing key \"format\""},
        {"{\"format\": \"vesk11-config/1\",\n \"parameters\": {\"param_x\": 0.5 \"power_mode\": 1}}",
         "syntax error at line 2, column 43: syntax error while parsing object"},
    };
    for (const bad_case& entry : cases)
    {
        SCOPED_TRACE(entry.text);
        const std::string path = file_with(entry.text);
        const cli_result run = ctl({"apply", path, "--json"});
        EXPECT_EQ(run.status, 65);
        const std::string message = path + ": " + entry.message;
        EXPECT_EQ(run.err.substr(0, 12 + message.size()), "vesk11-ctl: " + message) << run.err;
        EXPECT_EQ(json_of(run)["error"]["kind"], "document");
    }
    EXPECT_TRUE(sim_->queries().empty());
}

} // namespace
