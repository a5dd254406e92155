#include "control_socket.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "control_request.hpp"
#include "ctl_watch_json.hpp"
#include "daemon_error.hpp"
#include "line_watch.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

// The longest request line; a longer one is answered with an error and skipped.
constexpr size_t kREQUEST_MAX = 4096;
// Replies a client may leave unread before it is dropped: far above a status reply and a few
// seconds of blocks at a fast line, far below what would make the daemon grow.
constexpr size_t kUNREAD_MAX = size_t{256} * 1024;
constexpr size_t kCLIENTS_MAX = 32;
constexpr int kBACKLOG = 16;

std::string _T_why(const std::string& aWhat)
{
    return aWhat + " (" + std::strerror(errno) + ")";
}

ctl_json _T_error(const char* aKind, const std::string& aMessage)
{
    return ctl_json{{"v", kCONTROL_VERSION}, {"error", {{"kind", aKind}, {"message", aMessage}}}};
}

// A socket a killed daemon left is replaced; anything else in its place is not ours to remove.
void _T_clear_path(const std::string& aPath)
{
    struct stat found
    {
    };
    if (lstat(aPath.c_str(), &found) != 0)
        return;
    if (!S_ISSOCK(found.st_mode))
        throw daemon_error(kEXIT_CANTCREAT, aPath + " exists and is not a socket: remove it");
    unlink(aPath.c_str());
}

} // namespace

control_socket::control_socket(control_setup aSetup, std::function<ctl_json()> aStatus)
    : setup_(std::move(aSetup)), status_(std::move(aStatus))
{
}

control_socket::~control_socket()
{
    close();
}

void control_socket::open()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (setup_.path.size() >= sizeof address.sun_path)
        throw daemon_error(kEXIT_CANTCREAT, "the control socket path " + setup_.path +
                                                " is too long for a Unix socket");
    std::memcpy(address.sun_path, setup_.path.c_str(), setup_.path.size());
    _T_clear_path(setup_.path);
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0)
        throw daemon_error(kEXIT_OSERR, _T_why("cannot make the control socket"));
    // Born closed to everybody but us, then opened as far as the options say.
    const mode_t mask = umask(0177);
    const bool bound =
        bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    umask(mask);
    if (!bound || listen(listen_fd_, kBACKLOG) != 0)
        throw daemon_error(kEXIT_CANTCREAT,
                           _T_why("cannot make the control socket " + setup_.path));
    if (chown(setup_.path.c_str(), setup_.owner, setup_.group) != 0 ||
        chmod(setup_.path.c_str(), setup_.mode) != 0)
        throw daemon_error(kEXIT_CANTCREAT,
                           _T_why("cannot set the owner and mode of " + setup_.path));
}

void control_socket::close()
{
    for (client& one : clients_)
        drop(one);
    clients_.clear();
    count_subscribers();
    if (listen_fd_ < 0)
        return;
    ::close(listen_fd_);
    listen_fd_ = -1;
    unlink(setup_.path.c_str());
}

void control_socket::add_waits(std::vector<pollfd>& aWaits) const
{
    aWaits.push_back(pollfd{listen_fd_, POLLIN, 0});
    for (const client& one : clients_)
        aWaits.push_back(pollfd{
            one.fd, static_cast<short>(POLLIN | (one.out_sent < one.out.size() ? POLLOUT : 0)), 0});
}

void control_socket::serve(const pollfd* aWaits)
{
    // Clients accepted below were not waited for: only those before them are served.
    const size_t waited = clients_.size();
    for (size_t i = 0; i < waited; ++i)
    {
        if (clients_[i].fd >= 0 && aWaits[i + 1].revents != 0 &&
            !serve_client(clients_[i], aWaits[i + 1].revents))
            drop(clients_[i]);
    }
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const client& aClient) { return aClient.fd < 0; }),
                   clients_.end());
    if ((aWaits[0].revents & POLLIN) != 0)
        accept_clients();
    count_subscribers();
}

void control_socket::accept_clients()
{
    for (;;)
    {
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (clients_.size() >= kCLIENTS_MAX)
        {
            ++stats_.refused;
            ::close(fd);
            continue;
        }
        ++stats_.clients;
        client one;
        one.fd = fd;
        clients_.push_back(std::move(one));
    }
}

bool control_socket::serve_client(client& aClient, short aRevents)
{
    if ((aRevents & POLLOUT) != 0 && !flush(aClient))
        return false;
    if ((aRevents & POLLIN) != 0)
        return read_requests(aClient);
    return (aRevents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

// One read per turn, so a client that writes without pause shares the loop with the rest.
bool control_socket::read_requests(client& aClient)
{
    char bytes[kREQUEST_MAX];
    const ssize_t got = recv(aClient.fd, bytes, sizeof bytes, 0);
    if (got < 0)
        return errno == EAGAIN || errno == EINTR;
    if (got == 0)
        return false;
    for (ssize_t at = 0; at < got && aClient.fd >= 0;)
    {
        const char* end =
            static_cast<const char*>(std::memchr(bytes + at, '\n', static_cast<size_t>(got - at)));
        const size_t size = static_cast<size_t>((end != nullptr ? end - bytes : got) - at);
        if (!aClient.skipping)
            aClient.in.append(bytes + at, size);
        at += static_cast<ssize_t>(size) + (end != nullptr ? 1 : 0);
        if (!aClient.skipping && aClient.in.size() > kREQUEST_MAX)
        {
            ++stats_.malformed;
            aClient.in.clear();
            aClient.skipping = true;
            if (!send(aClient, _T_error("too_long", "a request is at most " +
                                                        std::to_string(kREQUEST_MAX) + " bytes")))
                return false;
        }
        if (end == nullptr)
            break;
        const std::string line = std::move(aClient.in);
        aClient.in.clear();
        if (aClient.skipping)
            aClient.skipping = false;
        else
            answer(aClient, line);
    }
    return aClient.fd >= 0;
}

void control_socket::answer(client& aClient, const std::string& aLine)
{
    if (aLine.find_first_not_of(" \t\r") == std::string::npos)
        return;
    const control_request request = ParseControlRequest(aLine);
    ctl_json reply;
    if (request.kind == control_request_kind::kSTATUS)
    {
        reply = ctl_json{{"v", kCONTROL_VERSION}, {"reply", "status"}};
        reply.update(status_());
    }
    else if (request.kind == control_request_kind::kSUBSCRIBE)
    {
        aClient.subscribed = true;
        aClient.hex = request.hex;
        aClient.since_us = WatchNowUs();
        reply = ctl_json{{"v", kCONTROL_VERSION}, {"reply", "subscribe"}, {"hex", aClient.hex}};
    }
    else
        reply = _T_error(request.error_kind, request.message);
    if (reply.contains("error"))
        ++stats_.malformed;
    if (!send(aClient, reply))
        drop(aClient);
}

bool control_socket::send(client& aClient, const ctl_json& aReply)
{
    const std::string text = aReply.dump(-1, ' ', false, ctl_json::error_handler_t::replace) + "\n";
    if (aClient.out.size() - aClient.out_sent + text.size() > kUNREAD_MAX)
    {
        ++stats_.dropped;
        return false;
    }
    if (aClient.out_sent == aClient.out.size())
    {
        aClient.out.clear();
        aClient.out_sent = 0;
    }
    aClient.out += text;
    return flush(aClient);
}

bool control_socket::flush(client& aClient)
{
    while (aClient.out_sent < aClient.out.size())
    {
        const ssize_t sent =
            ::send(aClient.fd, aClient.out.data() + aClient.out_sent,
                   aClient.out.size() - aClient.out_sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0)
            return errno == EAGAIN || errno == EINTR;
        aClient.out_sent += static_cast<size_t>(sent);
    }
    return true;
}

void control_socket::block(const block_record& aRecord, bool aIntact, int64_t aAtUs)
{
    if (stats_.subscribers == 0)
        return;
    // Made once with the frame and once without; each subscriber's own time stamp put in.
    ctl_json made[2];
    for (client& one : clients_)
    {
        if (!one.subscribed)
            continue;
        ctl_json& object = made[one.hex ? 1 : 0];
        if (object.is_null())
            object = Vesk11Ctl::BlockJson(aRecord, aIntact, 0, one.hex);
        object["t_ms"] = static_cast<double>(aAtUs - one.since_us) / 1000.0;
        if (!send(one, object))
            drop(one);
    }
    count_subscribers();
}

// The client's place is kept until serve() (the loop's waits still count it).
void control_socket::drop(client& aClient)
{
    if (aClient.fd < 0)
        return;
    ::close(aClient.fd);
    aClient.fd = -1;
    aClient.subscribed = false;
}

void control_socket::count_subscribers()
{
    stats_.connected = static_cast<size_t>(std::count_if(
        clients_.begin(), clients_.end(), [](const client& aClient) { return aClient.fd >= 0; }));
    stats_.subscribers = static_cast<size_t>(std::count_if(clients_.begin(), clients_.end(),
                                                           [](const client& aClient)
                                                           { return aClient.subscribed; }));
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
