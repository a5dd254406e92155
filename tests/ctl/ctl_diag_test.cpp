// vesk11-ctl monitor end to end against the simulated sensor and its line faults: the verdicts,
// the bounds, a stop signal, the JSON Lines, and a 1 ms sensor followed without a block lost.
#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>

#include "ctl_child.hpp"

namespace
{

using vesk11_test::cli_result;
using Orvo::Support::Vesk11Sim::sim_options;

std::vector<nlohmann::json> json_lines(const std::string& aOut)
{
    std::vector<nlohmann::json> lines;
    std::istringstream text(aOut);
    for (std::string line; std::getline(text, line);)
    {
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
        EXPECT_FALSE(lines.back().is_discarded()) << line;
    }
    return lines;
}

// The cycle counter of the simulator's status message, 53 54 then 4 bytes low byte first.
long cycle_of(const nlohmann::json& aBlock)
{
    for (const auto& message : aBlock["messages"])
    {
        unsigned b[8] = {};
        const std::string data = message["data"];
        if (std::sscanf(data.c_str(), "%x %x %x %x %x %x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) == 6 &&
            b[0] == 0x53 && b[1] == 0x54)
            return static_cast<long>(b[2] | b[3] << 8 | b[4] << 16 | static_cast<unsigned long>(b[5]) << 24);
    }
    return -1;
}

class ctl_monitor : public vesk11_test::ctl_fixture
{
  protected:
    cli_result monitor(const sim_options& aSim, const std::vector<std::string>& aArgs)
    {
        start_sim(aSim);
        std::vector<std::string> args = {"monitor", "--json"};
        args.insert(args.end(), aArgs.begin(), aArgs.end());
        cli_result run = ctl(args);
        EXPECT_TRUE(sim_->queries().empty()) << "the monitor sends nothing";
        return run;
    }
};

// Each line fault gives its verdict; the summary counts what the faults put on the line.
TEST_F(ctl_monitor, each_line_fault_gives_its_verdict)
{
    struct fault_case
    {
        const char* name;
        sim_options sim;
        std::vector<std::string> args;
        int status;
        std::string verdict;
        bool damaged;
        bool garbage;
    };
    sim_options healthy = options(5), badCrc = options(2), noise = options(5), split = options(5),
                silent = options(5), allBad = options(5), slow = options(150);
    badCrc.bad_crc = 150;
    allBad.bad_crc = 100000;
    noise.noise = true;
    split.split = true;
    silent.silent = true;
    const fault_case cases[] = {
        {"healthy", healthy, {"--count", "20"}, 0, "healthy: every block intact", false, false},
        {"split into bytes", split, {"--count", "20"}, 0, "healthy: every block intact", false, false},
        {"bad checksums", badCrc, {"--count", "250"}, 0, "% damaged: check termination and ground", true, false},
        {"noise", noise, {"--count", "20"}, 0, "bytes between blocks: check for a second talker", false, true},
        {"every block damaged", allBad, {"--count", "20"}, 69, "body is damaged, its header intact", true, false},
        {"silent", silent, {"--duration", "0.3"}, 69, "ms: check power, A/B wiring and the device path", false,
         false},
        {"slow", slow, {"--count", "3", "-t", "100"}, 0, "longer than the time-out of 100 ms", false, false},
    };
    for (const fault_case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const cli_result run = monitor(c.sim, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::vector<nlohmann::json> lines = json_lines(run.out);
        ASSERT_FALSE(lines.empty());
        const nlohmann::json summary = lines.back()["summary"];
        EXPECT_NE(summary["verdict"].get<std::string>().find(c.verdict), std::string::npos) << summary;
        EXPECT_EQ(summary["damaged"].get<long>() > 0, c.damaged) << summary;
        EXPECT_EQ(summary["garbage_bytes"].get<long>() > 0, c.garbage) << summary;
        EXPECT_EQ(summary["intact"].get<size_t>() + summary["damaged"].get<size_t>(), lines.size() - 1);
        stop_sim();
    }
}

// --count ends after exactly N blocks, --duration after S seconds, both with the summary.
TEST_F(ctl_monitor, count_and_duration_bound_the_watch)
{
    start_sim(options(10));
    cli_result run = ctl({"monitor", "--count", "7"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::istringstream text(run.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u + 4u) << run.out;
    EXPECT_NE(lines[0].find("  ok            22  0200:8 [53 54 "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[7].rfind("blocks: 7 intact, 0 damaged; garbage: 0 bytes", 0), 0u) << lines[7];
    // The period is what the stamps say, whatever the machine's load did to the sensor.
    double mean = 0;
    double least = 0;
    double most = 0;
    ASSERT_EQ(std::sscanf(lines[8].c_str(), "period: mean %lf ms, jitter %*f/%*f ms (min %lf, max %lf)",
                          &mean, &least, &most),
              3)
        << lines[8];
    EXPECT_GT(least, 0.0) << lines[8];
    EXPECT_LE(least, mean) << lines[8];
    EXPECT_LE(mean, most) << lines[8];
    EXPECT_EQ(lines[10], "verdict: healthy: every block intact, nothing between blocks");

    run = ctl({"monitor", "--duration", "0.5", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.elapsed_ms, 500);
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(1500));
    const nlohmann::json summary = json_lines(run.out).back()["summary"];
    EXPECT_GE(summary["duration_ms"].get<double>(), 500.0);
    // A sensor that sends every 10 ms cannot give more than 51 blocks in 0.5 s.
    EXPECT_GE(summary["intact"].get<int>(), 1) << summary;
    EXPECT_LE(summary["intact"].get<int>(), 52) << summary;
}

// A stop signal ends an unbounded watch with the summary; the line is put back (the fixture).
TEST_F(ctl_monitor, sigint_ends_the_watch_with_a_summary)
{
    start_sim(options(5));
    vesk11_test::cli_child child({"monitor"}, {"VESK11_CLI_ENDPOINT=" + sim_->path()}, nullptr, -1,
                                 VESK11_CTL_BINARY);
    ASSERT_TRUE(vesk11_test::wait_for_record(child, 3, "", "done: Exchange__Open <" + sim_->path() + ">", 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(child.pid(), SIGINT);
    const cli_result run = child.wait();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\nverdict: healthy"), std::string::npos) << run.out;
    expect_line_restored();
}

// A line lost mid-watch ends it with the summary as the last object, the failure in it.
TEST_F(ctl_monitor, a_lost_line_ends_with_the_summary_holding_the_error)
{
    start_sim(options(5));
    vesk11_test::cli_child child({"monitor", "--json"}, {"VESK11_CLI_ENDPOINT=" + sim_->path()},
                                 nullptr, -1, VESK11_CTL_BINARY);
    ASSERT_TRUE(vesk11_test::wait_for_record(child, 3, "",
                                             "done: Exchange__Open <" + sim_->path() + ">", 5000));
    stop_sim();
    const cli_result run = child.wait();
    EXPECT_EQ(run.status, 74) << run.err;
    const std::vector<nlohmann::json> lines = json_lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["error"]["kind"], "io") << run.out;
    EXPECT_TRUE(lines.back().contains("summary")) << run.out;
}

// JSON Lines: one object per block with every field, time stamps rising, then the summary.
// The simulator's cycle counter proves that a 1 ms sensor is followed without a block lost.
TEST_F(ctl_monitor, json_lines_are_complete_and_no_block_is_lost_at_a_1_ms_period)
{
    const cli_result run = monitor(options(1), {"--count", "2000", "--hex"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<nlohmann::json> lines = json_lines(run.out);
    ASSERT_EQ(lines.size(), 2001u);
    for (size_t i = 0; i + 1 < lines.size(); ++i)
    {
        const nlohmann::json& block = lines[i];
        ASSERT_EQ(block["ok"], true) << i;
        EXPECT_EQ(block["body_size"], 22) << i;
        EXPECT_EQ(block["messages"].size(), 2u) << i;
        EXPECT_EQ(block["frame"].get<std::string>().rfind("7e 01 0c 00 16 04", 0), 0u) << i;
        if (i > 0)
        {
            EXPECT_GT(block["t_ms"].get<double>(), lines[i - 1]["t_ms"].get<double>()) << i;
            ASSERT_EQ(cycle_of(block), cycle_of(lines[i - 1]) + 1) << "a block lost before " << i;
        }
    }
    const nlohmann::json summary = lines.back()["summary"];
    EXPECT_EQ(summary["intact"], 2000);
    EXPECT_EQ(summary["damaged"], 0);
    EXPECT_EQ(summary["garbage_bytes"], 0);
    // The period is measured, not assumed: the sensor's own pace, whatever load slows it.
    const double span = lines[1999]["t_ms"].get<double>() - lines[0]["t_ms"].get<double>();
    EXPECT_NEAR(summary["period_ms"]["mean"].get<double>(), span / 1999, 0.001) << summary;
}

// Several simulators at once: healthy, silent, one locked by another process, plus /dev/null
// and a regular file. Only the healthy one is asked anything; all in about one listen period.
TEST(ctl_scan, finds_the_sensor_and_never_writes_where_no_block_came)
{
    sim_options healthy;
    healthy.period_ms = 10;
    sim_options silent = healthy;
    silent.silent = true;
    Orvo::Support::Vesk11Sim::sensor_sim good(healthy), quiet(silent), locked(healthy);
    for (auto* sim : {&good, &quiet, &locked})
        ASSERT_TRUE(sim->start()) << sim->error();
    const int lockFd = open(locked.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX | LOCK_NB), 0);
    const std::string file = vesk11_test::temp_file();
    const std::string alias = file + ".alias"; // a second name for the good sensor's line
    ASSERT_EQ(symlink(good.path().c_str(), alias.c_str()), 0);
    const cli_result run =
        vesk11_test::run_cli({"scan", "--listen", "500", "--json", good.path(), quiet.path(),
                              locked.path(), "/dev/null", file, alias, good.path()},
                             {}, nullptr, VESK11_CTL_BINARY);
    close(lockFd);
    unlink(file.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.contains("devices")) << run.out;
    const char* const states[] = {"sensor", "no blocks", "busy (locked)", "not a serial port", "not a serial port"};
    ASSERT_EQ(report["devices"].size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(report["devices"][i]["state"], states[i]) << i;
    EXPECT_EQ(report["devices"][0]["hw_serial"], 10597059);
    EXPECT_EQ(report["devices"][0]["firmware"], "11.4.2.7");
    EXPECT_NEAR(report["devices"][0]["rate"].get<double>(), 100, 20);
    EXPECT_FALSE(good.queries().empty());
    EXPECT_TRUE(quiet.queries().empty()) << "a byte written to the silent line";
    EXPECT_TRUE(locked.queries().empty());
    // In parallel: one listen period and the identity queries, not five listen periods.
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(1500));

    const cli_result none = vesk11_test::run_cli({"scan", "--listen", "100", quiet.path()}, {}, nullptr,
                                                 VESK11_CTL_BINARY);
    EXPECT_EQ(none.status, 69) << none.err;
    EXPECT_EQ(none.out, quiet.path() + "  no blocks\n");
    EXPECT_NE(none.err.find("sends less often than every 100 ms needs a longer --listen"),
              std::string::npos)
        << none.err;
    // Blocks further apart than the time-out: no identity, and the hint says why that may be.
    sim_options slow = healthy;
    slow.period_ms = 150;
    Orvo::Support::Vesk11Sim::sensor_sim slower(slow);
    ASSERT_TRUE(slower.start()) << slower.error();
    const cli_result unnamed = vesk11_test::run_cli(
        {"scan", "--listen", "500", "-t", "50", slower.path()}, {}, nullptr, VESK11_CTL_BINARY);
    EXPECT_EQ(unnamed.status, 69) << unnamed.err;
    EXPECT_NE(unnamed.err.find("blocks but no identity on " + slower.path() +
                               ": if its blocks come further apart than the time-out (-t 50 ms)"),
              std::string::npos)
        << unnamed.err;

    // A long reason in the state column widens no column of the sensor's row.
    const cli_result text = vesk11_test::run_cli(
        {"scan", "--listen", "200", good.path(), file + "-absent"}, {}, nullptr, VESK11_CTL_BINARY);
    const size_t eol = text.out.find('\n');
    ASSERT_NE(eol, std::string::npos) << text.out;
    const std::string sensorRow = text.out.substr(0, eol);
    const size_t state = sensorRow.find("sensor  ");
    EXPECT_EQ(state, text.out.find("cannot open: ") - eol - 1) << text.out;
    EXPECT_TRUE(state < sensorRow.size() - 8 && std::isdigit(sensorRow[state + 8])) << text.out;

    // The RS-485 mode asked for is the one probed with (a pseudo-terminal's driver refuses it).
    const cli_result rs485 = vesk11_test::run_cli({"scan", "--json", "--listen", "100", alias},
                                                  {"VESK11_RS485=on"}, nullptr, VESK11_CTL_BINARY);
    unlink(alias.c_str());
    EXPECT_EQ(rs485.status, 69) << rs485.err;
    const nlohmann::json refused = nlohmann::json::parse(rs485.out, nullptr, false);
    ASSERT_TRUE(refused.contains("devices")) << rs485.out;
    EXPECT_EQ(refused["devices"][0]["state"].get<std::string>().rfind(
                  "the driver of " + alias + " refused RS-485 mode rts-on-send", 0),
              0u)
        << rs485.out;
}

} // namespace
