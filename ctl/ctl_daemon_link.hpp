// A connection to vesk11d's control socket (docs/control.md): requests out as JSON lines, replies
// and block objects in, every wait bounded and ended by a stop signal.
#ifndef VESK11_CTL_CTL_DAEMON_LINK_HPP
#define VESK11_CTL_CTL_DAEMON_LINK_HPP

#include <string>

#include "ctl_value.hpp"
#include "signal_guard.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// The longest wait for a reply of the daemon: it answers from its own records at once, but a
// loaded machine may take a while to run it.
constexpr int kDAEMON_REPLY_WAIT_MS = 5000;

// Whether aPath is a Unix socket (a daemon's control socket rather than a device).
bool IsControlSocket(const std::string& aPath);

// The control socket aSocketOrLine names: itself when it holds a slash or is a socket, else the
// line of that name under the default runtime folder (VESK11_RUNTIME_DIR, else /run/vesk11).
std::string ControlSocketPath(const std::string& aSocketOrLine);

// The member aName of an object the daemon sent: null when it has none; its text ("" when it is
// none); its number (0 when it is none).
const ctl_json& Member(const ctl_json& aObject, const char* aName);
std::string MemberText(const ctl_json& aObject, const char* aName);
double MemberNumber(const ctl_json& aObject, const char* aName);

enum class daemon_read
{
    object,  // an object came
    nothing, // the wait ended without one
    stopped, // a stop signal came
};

class daemon_link
{
  public:
    // Connects; throws ctl_error: unavailable when no daemon listens at aPath.
    explicit daemon_link(const std::string& aPath);
    ~daemon_link();
    daemon_link(const daemon_link&) = delete;
    daemon_link& operator=(const daemon_link&) = delete;

    // Sends aRequest (the protocol's version added); throws ctl_error (unavailable) when the
    // daemon has gone.
    void request(ctl_json aRequest);
    // Waits up to aWaitMs for the next object. Throws ctl_error: unavailable when the daemon
    // closed the connection, software when it sent what is not JSON.
    daemon_read next(int aWaitMs, ctl_json* aObject);
    // The next reply named aReply ("status", "subscribe"), block objects before it skipped.
    // Throws ctl_error: unavailable when none came in kDAEMON_REPLY_WAIT_MS or the daemon went,
    // software for an error object, interrupted for a stop signal.
    ctl_json reply(const std::string& aReply);

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
    std::string in_;
    signal_guard signals_;
};

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
