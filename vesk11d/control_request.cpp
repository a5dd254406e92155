#include "control_request.hpp"

#include <nlohmann/json.hpp>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

control_request _T_refused(const char* aKind, std::string aMessage)
{
    control_request request;
    request.error_kind = aKind;
    request.message = std::move(aMessage);
    return request;
}

} // namespace

control_request ParseControlRequest(const std::string& aLine)
{
    const nlohmann::json json = nlohmann::json::parse(aLine, nullptr, false);
    if (!json.is_object())
        return _T_refused("malformed", "a request is one JSON object on one line");
    const auto version = json.find("v");
    if (version != json.end() && *version != kCONTROL_VERSION)
        return _T_refused("version", "this daemon speaks version " +
                                         std::to_string(kCONTROL_VERSION) + " only");
    const auto what = json.find("request");
    if (what == json.end() || !what->is_string())
        return _T_refused("malformed", "give \"request\": \"status\" or \"subscribe\"");
    control_request request;
    if (*what == "status")
    {
        request.kind = control_request_kind::kSTATUS;
        return request;
    }
    if (*what != "subscribe")
        return _T_refused("unknown_request", "give \"request\": \"status\" or \"subscribe\"");
    const auto hex = json.find("hex");
    if (hex != json.end() && !hex->is_boolean())
        return _T_refused("malformed", "\"hex\" is true or false");
    request.kind = control_request_kind::kSUBSCRIBE;
    request.hex = hex != json.end() && hex->get<bool>();
    return request;
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
