// A request on the control socket: one JSON object on one line, {"request": "status"} or
// {"request": "subscribe", "hex": BOOL}, with an optional protocol version "v". Read by the daemon
// from any local client, so nothing in the line is trusted.
#ifndef VESK11_VESK11D_CONTROL_REQUEST_HPP
#define VESK11_VESK11D_CONTROL_REQUEST_HPP

#include <string>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

// The protocol version this daemon speaks.
constexpr int kCONTROL_VERSION = 1;

enum class control_request_kind
{
    kSTATUS,
    kSUBSCRIBE,
    kREFUSED, // error_kind and message say why
};

struct control_request
{
    control_request_kind kind = control_request_kind::kREFUSED;
    bool hex = false;                     // subscribe: each block's frame in hex too
    const char* error_kind = "malformed"; // malformed, version or unknown_request
    std::string message;
};

// What aLine asks for; never throws for any text.
control_request ParseControlRequest(const std::string& aLine);

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
