#include "metrics_http.hpp"

#include <cstring>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include "daemon_error.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

constexpr unsigned kCONNECTIONS_MAX = 32;
constexpr unsigned kIDLE_TIMEOUT_S = 10;
constexpr size_t kCONNECTION_MEMORY = size_t{32} * 1024;

struct listen_address
{
    std::string host;
    std::string port;
};

listen_address _T_split(const std::string& aListen)
{
    const size_t colon = aListen.rfind(':');
    if (colon == std::string::npos)
        return {"", aListen};
    std::string host = aListen.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return {host, aListen.substr(colon + 1)};
}

sockaddr_storage _T_resolve(const std::string& aListen, socklen_t* aSize)
{
    const listen_address address = _T_split(aListen);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const bool portOk = !address.port.empty() && address.port.size() <= 5 &&
                        address.port.find_first_not_of("0123456789") == std::string::npos &&
                        std::stoi(address.port) <= 65535;
    if (!portOk || getaddrinfo(address.host.empty() ? "127.0.0.1" : address.host.c_str(),
                               address.port.c_str(), &hints, &found) != 0)
        throw UsageError("option --metrics-listen takes ADDR:PORT, [ADDR]:PORT or PORT, not '" +
                         aListen + "'");
    sockaddr_storage bound{};
    std::memcpy(&bound, found->ai_addr, found->ai_addrlen);
    *aSize = found->ai_addrlen;
    freeaddrinfo(found);
    return bound;
}

std::string _T_url(const sockaddr_storage& aAddress, uint16_t aPort)
{
    char host[INET6_ADDRSTRLEN] = "";
    const bool v6 = aAddress.ss_family == AF_INET6;
    const void* raw =
        v6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&aAddress)->sin6_addr)
           : &reinterpret_cast<const sockaddr_in*>(&aAddress)->sin_addr;
    inet_ntop(aAddress.ss_family, raw, host, sizeof host);
    return std::string("http://") + (v6 ? "[" : "") + host + (v6 ? "]" : "") + ":" +
           std::to_string(aPort) + "/metrics";
}

MHD_Result _T_reply(MHD_Connection* aConnection, unsigned aStatus, const std::string& aBody,
                    const char* aType)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        aBody.size(), const_cast<char*>(aBody.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, aType);
    const MHD_Result queued = MHD_queue_response(aConnection, aStatus, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result _T_answer(void* aBoard, MHD_Connection* aConnection, const char* aUrl,
                     const char* aMethod, const char* /*aVersion*/, const char* /*aUpload*/,
                     size_t* /*aUploadSize*/, void** /*aState*/)
{
    const char* text = "text/plain; charset=utf-8";
    if (std::strcmp(aMethod, MHD_HTTP_METHOD_GET) != 0 &&
        std::strcmp(aMethod, MHD_HTTP_METHOD_HEAD) != 0)
        return _T_reply(aConnection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET or HEAD only\n", text);
    if (std::strcmp(aUrl, "/metrics") != 0)
        return _T_reply(aConnection, MHD_HTTP_NOT_FOUND, "the figures are at /metrics\n", text);
    return _T_reply(aConnection, MHD_HTTP_OK, static_cast<const metrics_board*>(aBoard)->text(),
                    "text/plain; version=0.0.4; charset=utf-8");
}

} // namespace

metrics_http::~metrics_http()
{
    stop();
}

std::string metrics_http::start(const std::string& aListen)
{
    socklen_t size = 0;
    sockaddr_storage address = _T_resolve(aListen, &size);
    const uint16_t port =
        ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG;
    if (address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    daemon_ = MHD_start_daemon(
        flags, port, nullptr, nullptr, &_T_answer, const_cast<metrics_board*>(&board_),
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address),
        MHD_OPTION_CONNECTION_LIMIT, kCONNECTIONS_MAX, MHD_OPTION_CONNECTION_TIMEOUT,
        kIDLE_TIMEOUT_S, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kCONNECTION_MEMORY, MHD_OPTION_END);
    if (daemon_ == nullptr)
        throw daemon_error(kEXIT_UNAVAILABLE, "cannot serve metrics at " + aListen +
                                                  " (address in use or not this machine's)");
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    return _T_url(address, info != nullptr ? info->port : port);
}

void metrics_http::stop()
{
    if (daemon_ != nullptr)
        MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
