// vesk11-sim: starts the simulated sensor, prints the line's path, runs until SIGINT, SIGTERM or
// SIGHUP.
// Exit status: 0 after a signal, --help or --version, 64 for a bad command line, 1 when the sensor
// cannot start (no pseudo-terminal, device or link, or a flash file that is damaged, not a regular
// file or larger than 1 MiB).
#include <csignal>
#include <cstdio>
#include <string>

#include <pthread.h>

#include "sensor_sim.hpp"
#include "sim_options.hpp"

namespace
{

constexpr int kEXIT_OK = 0;
constexpr int kEXIT_START_FAILED = 1;
constexpr int kEXIT_USAGE = 64;

// Blocked in every thread, taken by sigwait in main.
sigset_t _T_stop_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP); // the terminal went away: end as cleanly as on SIGTERM
    return signals;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace Orvo::Support::Vesk11Sim;
    sim_options options;
    std::string error;
    switch (parse_sim_options(argc, argv, options, error))
    {
    case parse_outcome_t::kHELP:
        fputs(sim_usage_text().c_str(), stdout);
        return kEXIT_OK;
    case parse_outcome_t::kVERSION:
        fputs("vesk11-sim " VESK11_VERSION "\n", stdout);
        return kEXIT_OK;
    case parse_outcome_t::kBAD:
        fprintf(stderr, "vesk11-sim: %s\nTry 'vesk11-sim --help' for more information.\n",
                error.c_str());
        return kEXIT_USAGE;
    case parse_outcome_t::kRUN:
        break;
    }
    signal(SIGPIPE, SIG_IGN); // a reader of the trace that goes away must not kill the sensor
    sigset_t signals = _T_stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    sensor_sim sim(options);
    // Holding stdout keeps trace lines of the sensor's thread behind the path line.
    flockfile(stdout);
    if (!sim.start())
    {
        funlockfile(stdout);
        fprintf(stderr, "vesk11-sim: %s\n", sim.error().c_str());
        return kEXIT_START_FAILED;
    }
    printf("%s\n", sim.path().c_str());
    fflush(stdout);
    funlockfile(stdout);

    int received = 0;
    sigwait(&signals, &received);
    sim.stop();
    return kEXIT_OK;
}
