// vesk11-cli: one run, one command to the sensor.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <utility>

#include "cli.hpp"
#include "cli_handler.hpp"
#include "exceptions.hpp"
#include "log.h"
#include "log.hpp"
#include "std_descriptors.hpp"
#include "uat4/api.hpp"

namespace
{

// Output that did not reach its reader is a failure, whatever the sensor said. The streams share
// the C library's buffers, so flushing those flushes everything.
bool _T_flushed(FILE* aFile, const std::ostream& aStream, const char* aName)
{
    errno = 0;
    const bool failed = std::fflush(aFile) != 0 || std::ferror(aFile) != 0 || !aStream;
    if (failed)
        LOG_WRITE(1, "fail: %s (%s)", aName, std::strerror(errno != 0 ? errno : EIO));
    return !failed;
}

int _T_finish_output(int aStatus)
{
    const bool outFlushed = _T_flushed(stdout, std::cout, "standard output");
    const bool errFlushed = _T_flushed(stderr, std::cerr, "standard error");
    return outFlushed && errFlushed ? aStatus : 70;
}

// --help and --version answer without a sensor and without the environment.
bool _T_answer_alone(int argc, char** argv, int* aStatus)
{
    if (argc != 2)
        return false;
    const std::string word = argv[1];
    if (word == "--help" || word == "-h")
        std::cout << Orvo::Support::Vesk11Cli::cli_handler(Orvo::Support::Vesk11Cli::service_pack{})
                         .usage();
    else if (word == "--version")
        std::cout << "vesk11-cli " VESK11_VERSION "\n";
    else
        return false;
    *aStatus = _T_finish_output(0);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace Orvo;
    using namespace Orvo::Support;
    using namespace Orvo::Support::Vesk11Cli;

    FillStdDescriptors();
    // A reader that went away shows as a write error, which fails the run, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    int status = 0;
    if (_T_answer_alone(argc, argv, &status))
        return status;
    const cli_request request = cli_request::create(argc, argv, nullptr);
    // On a terminal every failure also shows there; scripts still see an empty standard error.
    log_guard logGuard(request.getLogName().c_str(), request.getLogLevel(), kLOG2_FLAG_ECHO_TTY);
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
    return _T_finish_output(response.render(std::cout, std::cerr));
}
