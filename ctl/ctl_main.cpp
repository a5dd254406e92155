// vesk11-ctl: a sensor's whole configuration as code.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "ctl_commands.hpp"
#include "ctl_document.hpp"
#include "ctl_error.hpp"
#include "ctl_options.hpp"
#include "ctl_output.hpp"
#include "log.h"
#include "log.hpp"
#include "signal_guard.hpp"
#include "std_descriptors.hpp"

namespace
{

using namespace Orvo::Support::Vesk11Ctl;

constexpr int kLOG_LEVEL = 4;

// Output that did not reach its reader fails the run, whatever the sensor said.
int _T_finish(int aStatus)
{
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout;
    if (!failed)
        return aStatus;
    LOG_WRITE(1, "fail: standard output (%s)", std::strerror(errno != 0 ? errno : EIO));
    std::cerr << "vesk11-ctl: cannot write standard output\n";
    return aStatus == kEXIT_OK || aStatus == kEXIT_DIFFERS ? kEXIT_SOFTWARE : aStatus;
}

// --version --json: the version and what programs that drive this one rely on (the Ansible
// collection's tests check its copies against it).
ctl_json _T_version_json()
{
    const auto range = [](int aDefault, int aMin, int aMax) {
        return ctl_json{{"default", aDefault}, {"min", aMin}, {"max", aMax}};
    };
    return ctl_json{{"version", VESK11_VERSION},
                    {"document_format", kDOCUMENT_FORMAT},
                    {"timeout_ms", range(kTIMEOUT_DEFAULT_MS, kTIMEOUT_MIN_MS, kTIMEOUT_MAX_MS)},
                    {"retries", range(kRETRIES_DEFAULT, kRETRIES_MIN, kRETRIES_MAX)},
                    {"exit_differs", kEXIT_DIFFERS},
                    {"errors", ErrorKindsJson()}};
}

// --help, COMMAND --help and --version answer without a sensor; true when one was asked for.
bool _T_answer_alone(const ctl_options& aOptions)
{
    if (aOptions.version && aOptions.json)
        std::cout << _T_version_json().dump() << "\n";
    else if (aOptions.version)
        std::cout << "vesk11-ctl " VESK11_VERSION "\n";
    else if (aOptions.help && FindCommand(aOptions.command) != nullptr)
        std::cout << CommandHelp(*FindCommand(aOptions.command));
    else if (aOptions.help && aOptions.command.empty())
        std::cout << UsageText();
    else
        return false;
    return true;
}

int _T_run(const ctl_options& aOptions, ctl_output& aOutput)
{
    if (aOptions.command.empty())
        throw UsageError(
            "no command: give one of info, get, set, dump, diff, apply, save, reset-ram, "
            "reset-flash, reboot, low-power, command, monitor, scan, status");
    const command_def* command = FindCommand(aOptions.command);
    if (command == nullptr)
        throw UsageError("unknown command '" + aOptions.command + "'");
    LOG_WRITE(4, "exec: %s", aOptions.command.c_str());
    const int status = RunCommand(*command, aOptions, aOutput);
    LOG_WRITE(3, "done: %s (status:%d)", aOptions.command.c_str(), status);
    return status;
}

// A command line that could not be parsed still names its command among its words, mostly: the
// failure then carries that command's report.
ctl_error _T_parse_failure(int aArgc, char** aArgv, const ctl_error& aError)
{
    for (int i = 1; i < aArgc; ++i)
    {
        const command_def* command = FindCommand(aArgv[i]);
        if (command != nullptr)
            return WithReportOfNothing(*command, aError);
    }
    return aError;
}

int _T_fail(ctl_output& aOutput, const ctl_error& aError)
{
    aOutput.error(aError, aError.report());
    return aError.status();
}

} // namespace

int main(int argc, char** argv)
{
    Orvo::Support::FillStdDescriptors();
    // A reader that went away shows as a write error, which fails the run, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // From here on a stop signal is noted, and ends the run at its next wait with a report.
    const Orvo::Support::signal_guard signals;
    ctl_options options;
    try
    {
        options = ParseOptions(argc, argv);
        options.signals = &signals;
    }
    catch (const ctl_error& x)
    {
        ctl_output output(WantsJson(argc, argv), false);
        const Orvo::Support::log_guard logGuard("vesk11-ctl", kLOG_LEVEL, kLOG2_FLAG_NO_TTY);
        LOG_WRITE(1, "fail: %s", x.message().c_str());
        return _T_finish(_T_fail(output, _T_parse_failure(argc, argv, x)));
    }
    if (_T_answer_alone(options))
        return _T_finish(kEXIT_OK);
    // The program tells its failures on standard error itself; -v adds the log's records.
    const Orvo::Support::log_guard logGuard(
        "vesk11-ctl", kLOG_LEVEL, options.verbose ? kLOG2_FLAG_ECHO_ALL : kLOG2_FLAG_NO_TTY);
    ctl_output output(options.json, options.quiet);
    int status = kEXIT_SOFTWARE;
    try
    {
        status = _T_run(options, output);
    }
    catch (const ctl_error& x)
    {
        LOG_WRITE(1, "fail: %s", x.message().c_str());
        status = _T_fail(output, x);
    }
    catch (const std::exception& x)
    {
        LOG_WRITE(1, "fail: exception <%s>", x.what());
        status = _T_fail(output, SoftwareError(x.what()));
    }
    return _T_finish(status);
}
