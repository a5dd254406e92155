// Stop signals for a program that holds a serial line in its own settings.
#ifndef VESK11_SDK_CORE_SIGNAL_GUARD_HPP
#define VESK11_SDK_CORE_SIGNAL_GUARD_HPP

#include <csignal>
#include <cstddef>

namespace Orvo
{
namespace Support
{

// While alive, every signal whose default action would end the process (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ) only notes
// itself in stopSignal(), so the program can put the line back before it ends. They are held
// back except during waits made with waitMask(), which they therefore always interrupt. A signal
// ignored on entry (nohup) stays ignored. One guard at a time per process.
class signal_guard
{
  public:
    signal_guard();
    // A signal held back until now reaches the catcher before the old handlers return.
    ~signal_guard();
    signal_guard(const signal_guard&) = delete;
    signal_guard& operator=(const signal_guard&) = delete;

    // The signal mask of the caller: the one to wait with.
    const sigset_t* waitMask() const { return &wait_mask_; }
    // 0, or the number of the last stop signal caught.
    static volatile sig_atomic_t* stopSignal();

  private:
    static constexpr std::size_t kSIGNAL_COUNT = 12;
    struct sigaction old_actions_[kSIGNAL_COUNT] = {};
    bool caught_[kSIGNAL_COUNT] = {};
    sigset_t wait_mask_{};
};

} // namespace Support
} // namespace Orvo

#endif
