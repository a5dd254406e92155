// vesk11d: owns one sensor line and shares it through virtual ports.
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "daemon_error.hpp"
#include "daemon_options.hpp"
#include "line_daemon.hpp"
#include "log.h"
#include "signal_guard.hpp"
#include "std_descriptors.hpp"

namespace
{

using namespace Orvo::Support::Vesk11d;

int _T_serve(const daemon_options& aOptions)
{
    // Before the line is opened, so that a stop signal always finds it restored.
    Orvo::Support::signal_guard signals;
    line_daemon daemon(aOptions);
    daemon.start();
    daemon.run(signals.waitMask(), Orvo::Support::signal_guard::stopSignal());
    return kEXIT_OK;
}

} // namespace

int main(int argc, char** argv)
{
    Orvo::Support::FillStdDescriptors();
    // A standard error that went away must not stop the daemon (the guard keeps it ignored).
    std::signal(SIGPIPE, SIG_IGN);
    try
    {
        const daemon_options options = ParseOptions(argc, argv);
        if (options.help)
            std::cout << UsageText();
        if (options.version)
            std::cout << "vesk11d " VESK11_VERSION "\n";
        if (options.help || options.version)
            return kEXIT_OK;
        LogOpen2("vesk11d", options.log_level, 0);
        const int status = _T_serve(options);
        LogClose();
        return status;
    }
    catch (const daemon_error& error)
    {
        std::fprintf(stderr, "vesk11d: %s\n", error.what());
        LogClose();
        return error.status();
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "vesk11d: %s\n", error.what());
        LogClose();
        return kEXIT_SOFTWARE;
    }
}
