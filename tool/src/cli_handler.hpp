// The command dispatcher: the tool's engine, from the command line to one sensor API call.
#ifndef VESK11_TOOL_CLI_HANDLER_HPP
#define VESK11_TOOL_CLI_HANDLER_HPP

#include <string>

#include "cli.hpp"
#include "uat4/api.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Cli
{

// The services a command handler may use.
struct service_pack
{
    Uat4::api_sp_t uat4_;
};

class cli_handler : public cli_engine_like
{
  public:
    explicit cli_handler(service_pack aServicePack);
    ~cli_handler() override = default;

    std::string usage() override;
    // The handler's response ("DONE\n", status 0), the usage text for a command line that no
    // handler accepts, or "FAIL\n" for any other failure (both status 70).
    cli_response activate(const cli_request& aRequest) override;

  private:
    service_pack service_pack_;
};

} // namespace Vesk11Cli
} // namespace Support
} // namespace Orvo

#endif
