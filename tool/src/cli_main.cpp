// vesk11-cli: one run, one command to the sensor.
#include <exception>
#include <iostream>
#include <string>
#include <utility>

#include "cli.hpp"
#include "cli_handler.hpp"
#include "exceptions.hpp"
#include "log.h"
#include "log.hpp"
#include "uat4/api.hpp"

int main(int argc, char** argv)
{
    using namespace Orvo;
    using namespace Orvo::Support;
    using namespace Orvo::Support::Vesk11Cli;

    const cli_request request = cli_request::create(argc, argv, nullptr);
    log_guard logGuard(request.getLogName().c_str(), request.getLogLevel(), 0);
    cli_response response = cli_response::fail_internal("FAIL\n", "");
    // The sensor API is gone, and the serial line closed, before the response is written.
    try
    {
        Uat4::api_sp_t uat4 = Uat4::Api__Create();
        service_pack servicePack{uat4};
        cli_handler engine(std::move(servicePack));
        response = engine.activate(request);
    }
    catch (const generic_error&)
    {
        // logged by the thrower; the default failure stands
    }
    catch (const std::exception& x)
    {
        LOG_WRITE(1, "fail: exception <%s>", x.what());
    }
    return response.render(std::cout, std::cerr);
}
