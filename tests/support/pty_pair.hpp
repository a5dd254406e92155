// A fresh pseudo-terminal pair for tests that stand at both ends of a line: the master is the far
// end (a sensor, a cable), the slave the device that the code under test opens by path(). Both
// descriptors are close-on-exec, so that a child process never keeps the line open, and both
// close with the object.
#ifndef VESK11_TESTS_PTY_PAIR_HPP
#define VESK11_TESTS_PTY_PAIR_HPP

#include <string>

#include <termios.h>

namespace vesk11_test
{

enum class pty_mode_t
{
    kAS_OPENED, // the kernel's first settings: canonical, echoing
    kRAW,       // as cfmakeraw leaves them: every byte passes unchanged
};

class pty_pair
{
  public:
    // A pair that cannot be opened fails the calling test; is_open() then is false.
    explicit pty_pair(pty_mode_t aMode = pty_mode_t::kAS_OPENED);
    ~pty_pair();
    pty_pair(const pty_pair&) = delete;
    pty_pair& operator=(const pty_pair&) = delete;

    bool is_open() const { return master_ >= 0 && slave_ >= 0; }
    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& path() const { return path_; }

    // The far end vanishes: whoever has the slave open sees a hang-up.
    void close_master();
    // Hands the master over to an owner that closes it itself.
    int release_master();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A line left as found: its flags and read timing are those of aWas.
void expect_same_line_settings(const termios& aNow, const termios& aWas);

} // namespace vesk11_test

#endif
