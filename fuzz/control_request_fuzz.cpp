// One line a local client sends to vesk11d's control socket. Checks that any text gives one of the
// three answers without throwing, that a refusal always has its kind and a message, and that
// status and subscribe are given only for a JSON object that asks for them.
#include <cstdint>
#include <cstring>
#include <string>

#include "control_request.hpp"
#include "fuzz_support.hpp"

const char* const vesk11_fuzz::kSUBJECT = "control request";

using Orvo::Support::Vesk11d::control_request;
using Orvo::Support::Vesk11d::control_request_kind;
using Orvo::Support::Vesk11d::ParseControlRequest;
using vesk11_fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    const std::string line(reinterpret_cast<const char*>(aData), aSize);
    const control_request request = ParseControlRequest(line);
    if (request.kind == control_request_kind::kREFUSED)
    {
        const std::string kind = request.error_kind;
        require(kind == "malformed" || kind == "version" || kind == "unknown_request",
                "a refusal of an unknown kind");
        require(!request.message.empty(), "a refusal without a message");
        return 0;
    }
    require(line.find(request.kind == control_request_kind::kSTATUS ? "status" : "subscribe") !=
                    std::string::npos ||
                line.find('\\') != std::string::npos,
            "a request granted that the line does not name");
    require(request.kind == control_request_kind::kSUBSCRIBE || !request.hex,
            "hex set for a status request");
    return 0;
}
