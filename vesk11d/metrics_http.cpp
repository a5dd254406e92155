#include "metrics_http.hpp"

#include <cstring>

#include <arpa/inet.h>
#include <dlfcn.h>
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

// libmicrohttpd is opened only when metrics are served over HTTP: linked, it and the TLS
// libraries it needs would add about 2.5 MiB to the resident size of every daemon.
struct mhd_library
{
    decltype(&MHD_start_daemon) start_daemon = nullptr;
    decltype(&MHD_stop_daemon) stop_daemon = nullptr;
    decltype(&MHD_create_response_from_buffer) create_response = nullptr;
    decltype(&MHD_add_response_header) add_header = nullptr;
    decltype(&MHD_queue_response) queue_response = nullptr;
    decltype(&MHD_destroy_response) destroy_response = nullptr;
    decltype(&MHD_get_daemon_info) daemon_info = nullptr;
};

template <typename Function> void _T_find(void* aHandle, const char* aName, Function* aFunction)
{
    *aFunction = reinterpret_cast<Function>(dlsym(aHandle, aName));
}

// The library's functions; null when it cannot be opened or lacks one. Kept open for the run.
const mhd_library* _T_library()
{
    static const mhd_library library = []
    {
        mhd_library found;
        void* handle = dlopen(VESK11_MHD_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return found;
        _T_find(handle, "MHD_start_daemon", &found.start_daemon);
        _T_find(handle, "MHD_stop_daemon", &found.stop_daemon);
        _T_find(handle, "MHD_create_response_from_buffer", &found.create_response);
        _T_find(handle, "MHD_add_response_header", &found.add_header);
        _T_find(handle, "MHD_queue_response", &found.queue_response);
        _T_find(handle, "MHD_destroy_response", &found.destroy_response);
        _T_find(handle, "MHD_get_daemon_info", &found.daemon_info);
        return found;
    }();
    const bool whole = library.start_daemon != nullptr && library.stop_daemon != nullptr &&
                       library.create_response != nullptr && library.add_header != nullptr &&
                       library.queue_response != nullptr && library.destroy_response != nullptr &&
                       library.daemon_info != nullptr;
    return whole ? &library : nullptr;
}

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
    const mhd_library& mhd = *_T_library();
    MHD_Response* response =
        mhd.create_response(aBody.size(), const_cast<char*>(aBody.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    mhd.add_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, aType);
    const MHD_Result queued = mhd.queue_response(aConnection, aStatus, response);
    mhd.destroy_response(response);
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
    const mhd_library* mhd = _T_library();
    if (mhd == nullptr)
        throw daemon_error(kEXIT_UNAVAILABLE, std::string("cannot load ") + VESK11_MHD_SONAME +
                                                  " to serve metrics: install libmicrohttpd12");
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG;
    if (address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    daemon_ = mhd->start_daemon(
        flags, port, nullptr, nullptr, &_T_answer, const_cast<metrics_board*>(&board_),
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address),
        MHD_OPTION_CONNECTION_LIMIT, kCONNECTIONS_MAX, MHD_OPTION_CONNECTION_TIMEOUT,
        kIDLE_TIMEOUT_S, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kCONNECTION_MEMORY, MHD_OPTION_END);
    if (daemon_ == nullptr)
        throw daemon_error(kEXIT_UNAVAILABLE, "cannot serve metrics at " + aListen +
                                                  " (address in use or not this machine's)");
    const MHD_DaemonInfo* info = mhd->daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    return _T_url(address, info != nullptr ? info->port : port);
}

void metrics_http::stop()
{
    const mhd_library* mhd = _T_library();
    if (daemon_ != nullptr && mhd != nullptr)
        mhd->stop_daemon(daemon_);
    daemon_ = nullptr;
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
