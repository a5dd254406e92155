// Stop signals noted, not obeyed, while the serial line is in the program's settings.
#include "signal_guard.hpp"

#include <pthread.h>

namespace Orvo
{
namespace Support
{

namespace
{

const int kSTOP_SIGNALS[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGPIPE, SIGUSR1,
                             SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ};

volatile sig_atomic_t caughtSignal = 0;

void _T_catch_signal(int aSignal)
{
    caughtSignal = aSignal;
}

} // namespace

static_assert(sizeof kSTOP_SIGNALS / sizeof kSTOP_SIGNALS[0] == 12, "one slot per stop signal");

signal_guard::signal_guard()
{
    caughtSignal = 0;
    struct sigaction catcher = {};
    catcher.sa_handler = _T_catch_signal; // no SA_RESTART: the wait must end
    sigemptyset(&catcher.sa_mask);
    sigset_t held;
    sigemptyset(&held);
    for (std::size_t i = 0; i < kSIGNAL_COUNT; ++i)
    {
        sigaction(kSTOP_SIGNALS[i], nullptr, &old_actions_[i]);
        caught_[i] = old_actions_[i].sa_handler != SIG_IGN;
        if (caught_[i])
        {
            sigaction(kSTOP_SIGNALS[i], &catcher, nullptr);
            sigaddset(&held, kSTOP_SIGNALS[i]);
        }
    }
    pthread_sigmask(SIG_BLOCK, &held, &wait_mask_);
}

signal_guard::~signal_guard()
{
    pthread_sigmask(SIG_SETMASK, &wait_mask_, nullptr);
    for (std::size_t i = 0; i < kSIGNAL_COUNT; ++i)
    {
        if (caught_[i])
            sigaction(kSTOP_SIGNALS[i], &old_actions_[i], nullptr);
    }
}

volatile sig_atomic_t* signal_guard::stopSignal()
{
    return &caughtSignal;
}

} // namespace Support
} // namespace Orvo
