#include "ctl_daemon_link.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "ctl_error.hpp"
#include "daemon_lines.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

constexpr int kPROTOCOL_VERSION = 1;
constexpr const char* kCONTROL_NAME = "control";

int64_t _T_now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

const ctl_json& Member(const ctl_json& aObject, const char* aName)
{
    static const ctl_json kNONE;
    const auto found = aObject.find(aName);
    return found != aObject.end() ? *found : kNONE;
}

std::string MemberText(const ctl_json& aObject, const char* aName)
{
    const ctl_json& member = Member(aObject, aName);
    return member.is_string() ? member.get<std::string>() : "";
}

double MemberNumber(const ctl_json& aObject, const char* aName)
{
    const ctl_json& member = Member(aObject, aName);
    return member.is_number() ? member.get<double>() : 0.0;
}

bool IsControlSocket(const std::string& aPath)
{
    struct stat found
    {
    };
    return stat(aPath.c_str(), &found) == 0 && S_ISSOCK(found.st_mode);
}

std::string ControlSocketPath(const std::string& aSocketOrLine)
{
    if (aSocketOrLine.find('/') != std::string::npos || IsControlSocket(aSocketOrLine))
        return aSocketOrLine;
    return DaemonRuntimeDir() + "/" + aSocketOrLine + "/" + kCONTROL_NAME;
}

daemon_link::daemon_link(const std::string& aPath) : path_(aPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (aPath.size() >= sizeof address.sun_path)
        throw UsageError("the socket path " + aPath + " is too long");
    std::memcpy(address.sun_path, aPath.c_str(), aPath.size());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        const std::string why = std::strerror(errno);
        if (fd_ >= 0)
            close(fd_);
        throw UnavailableError("no vesk11d answers at " + aPath + " (" + why +
                               "): is the daemon running, and is this its control socket?");
    }
}

daemon_link::~daemon_link()
{
    close(fd_);
}

void daemon_link::request(ctl_json aRequest)
{
    aRequest["v"] = kPROTOCOL_VERSION;
    const std::string text = aRequest.dump() + "\n";
    if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
        throw UnavailableError("vesk11d at " + path_ + " closed the connection");
}

daemon_read daemon_link::next(int aWaitMs, ctl_json* aObject)
{
    const int64_t end = _T_now_ms() + aWaitMs;
    while (in_.find('\n') == std::string::npos)
    {
        const int64_t left = end - _T_now_ms();
        if (left <= 0)
            return daemon_read::nothing;
        pollfd wait{fd_, POLLIN, 0};
        const timespec slice{static_cast<time_t>(left / 1000),
                             static_cast<long>(left % 1000) * 1000000L};
        const int ready = ppoll(&wait, 1, &slice, signals_.waitMask());
        if (*signal_guard::stopSignal() != 0)
            return daemon_read::stopped;
        if (ready <= 0)
            continue;
        char bytes[4096];
        const ssize_t got = recv(fd_, bytes, sizeof bytes, 0);
        if (got <= 0)
            throw UnavailableError("vesk11d at " + path_ + " closed the connection");
        in_.append(bytes, static_cast<size_t>(got));
    }
    const size_t newline = in_.find('\n');
    *aObject = ctl_json::parse(in_.substr(0, newline), nullptr, false);
    in_.erase(0, newline + 1);
    if (!aObject->is_object())
        throw SoftwareError("vesk11d at " + path_ + " sent what is not a JSON object");
    return daemon_read::object;
}

ctl_json daemon_link::reply(const std::string& aReply)
{
    const int64_t end = _T_now_ms() + kDAEMON_REPLY_WAIT_MS;
    ctl_json object;
    for (int64_t left; (left = end - _T_now_ms()) > 0;)
    {
        const daemon_read read = next(static_cast<int>(left), &object);
        if (read == daemon_read::stopped)
            throw InterruptedError("stopped by a signal");
        if (read == daemon_read::nothing)
            break;
        if (object.contains("error"))
            throw SoftwareError("vesk11d at " + path_ + " refused the request: " +
                                MemberText(Member(object, "error"), "message"));
        if (MemberText(object, "reply") == aReply)
            return object;
    }
    throw UnavailableError("vesk11d at " + path_ + " did not answer within " +
                           std::to_string(kDAEMON_REPLY_WAIT_MS) + " ms");
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
