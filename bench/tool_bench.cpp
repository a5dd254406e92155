// One get-param run of vesk11-cli against the simulated sensor at a 1 ms block period: the wall
// time of a run and, from the sensor's own time stamps, the tool's reaction from the end of the
// block after which it sends to the decoded batch. (Peak RSS is measured by scripts/bench-tool:
// a child's ru_maxrss here would include this process's own size.)
#include <algorithm>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sensor_sim.hpp"

namespace
{

using Orvo::Support::Vesk11Sim::sensor_sim;
using Orvo::Support::Vesk11Sim::sim_options;
using Orvo::Support::Vesk11Sim::sim_query;

// Runs the tool once, output and log to /dev/null; false unless it answered "DONE" (status 0).
bool _T_run_cli(const std::string& aEndpoint)
{
    std::string endpoint = "VESK11_CLI_ENDPOINT=" + aEndpoint;
    std::string tout = "VESK11_CLI_TOUT=200";
    std::string log = "LOG2_FILE=/dev/null";
    char* envp[] = {&endpoint[0], &tout[0], &log[0], nullptr};
    std::string binary = VESK11_CLI_BINARY;
    std::string command = "get-param-i32", group = "--group=2000", id = "--id=450";
    char* argv[] = {&binary[0], &command[0], &group[0], &id[0], nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (!started || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double _T_percentile(std::vector<double> aValues, double aFraction)
{
    if (aValues.empty())
        return 0.0;
    std::sort(aValues.begin(), aValues.end());
    return aValues[static_cast<size_t>(aFraction * static_cast<double>(aValues.size() - 1))];
}

void BM_cli_get_param(benchmark::State& state)
{
    sim_options opts;
    opts.period_ms = 1;
    sensor_sim sim(opts);
    if (!sim.start())
    {
        state.SkipWithError(sim.error().c_str());
        return;
    }
    bool answered = true;
    for (auto _ : state)
    {
        answered = _T_run_cli(sim.path());
        if (!answered)
        {
            state.SkipWithError("vesk11-cli did not answer DONE");
            break;
        }
    }
    if (!answered)
        return;
    std::vector<double> reactionUs;
    for (const sim_query& query : sim.queries())
        reactionUs.push_back(static_cast<double>(query.rx_ts_us - query.last_block_end_us));
    state.counters["reaction_median_us"] = _T_percentile(reactionUs, 0.5);
    state.counters["reaction_p90_us"] = _T_percentile(reactionUs, 0.9);
    state.counters["reaction_max_us"] = _T_percentile(reactionUs, 1.0);
}

BENCHMARK(BM_cli_get_param)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
