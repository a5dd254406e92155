// The control socket DIR/LINE/control: a Unix stream socket speaking JSON Lines (docs/control.md).
// A client sends one request object per line and gets one reply object per line: "status" (the
// line and its ports) and "subscribe" (then one object per block, as vesk11-ctl monitor --json
// prints them, until the client closes). Nothing on it reaches the line. Requests are bounded; a
// malformed one gets an error object and the connection stays usable; a client whose replies
// pile up beyond a bound (it does not read) is dropped, so no client can slow the daemon or make
// it grow.
#ifndef VESK11_VESK11D_CONTROL_SOCKET_HPP
#define VESK11_VESK11D_CONTROL_SOCKET_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/types.h>

#include "block_record.h"
#include "ctl_value.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

using Vesk11Ctl::ctl_json;

// The socket's name in the line's folder.
constexpr const char* kCONTROL_SOCKET_NAME = "control";

struct control_setup
{
    std::string path; // DIR/LINE/control
    uid_t owner = static_cast<uid_t>(-1);
    gid_t group = static_cast<gid_t>(-1);
    mode_t mode = 0660;
};

struct control_stats
{
    uint64_t clients = 0;   // connections accepted
    uint64_t refused = 0;   // connections closed at once: too many clients
    uint64_t dropped = 0;   // clients dropped because their replies piled up
    uint64_t malformed = 0; // requests answered with an error object
    size_t connected = 0;   // clients connected now
    size_t subscribers = 0; // of which subscribed
};

class control_socket
{
  public:
    // aStatus gives the status object (the reply's members but "v" and "reply").
    control_socket(control_setup aSetup, std::function<ctl_json()> aStatus);
    ~control_socket();
    control_socket(const control_socket&) = delete;
    control_socket& operator=(const control_socket&) = delete;

    // Binds and listens, replacing a socket a killed daemon left; owner, group and mode set.
    // Throws daemon_error.
    void open();
    // Closes every client and removes the socket.
    void close();

    // Appends what to wait for: the listening socket, then each client.
    void add_waits(std::vector<pollfd>& aWaits) const;
    // Serves the wait results of the entries add_waits appended, starting at aWaits.
    void serve(const pollfd* aWaits);
    // A block of the line, for the subscribers (its object made only when there are some).
    void block(const block_record& aRecord, bool aIntact, int64_t aAtUs);

    const control_stats& stats() const { return stats_; }

  private:
    struct client
    {
        int fd = -1;
        std::string in;
        bool skipping = false; // the rest of an oversize request is thrown away
        std::string out;
        size_t out_sent = 0;
        bool subscribed = false;
        bool hex = false;
        int64_t since_us = 0;
    };

    void accept_clients();
    // False when the client is to be closed.
    bool serve_client(client& aClient, short aRevents);
    bool read_requests(client& aClient);
    void answer(client& aClient, const std::string& aLine);
    bool send(client& aClient, const ctl_json& aReply);
    bool flush(client& aClient);
    void drop(client& aClient);
    void count_subscribers();

    control_setup setup_;
    std::function<ctl_json()> status_;
    int listen_fd_ = -1;
    std::vector<client> clients_;
    control_stats stats_;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
