#include "cli.hpp"

#include <utility>

#include "exceptions.hpp"
#include "text.hpp"

namespace Orvo
{
namespace Support
{

namespace
{

// Log name for a run whose program path yields no usable file name.
const char* const kDEFAULT_LOG_NAME = "vesk11-cli";

std::string _T_get_filestem(const std::string& aFilePath)
{
    if (aFilePath.empty())
        return kDEFAULT_LOG_NAME;
    const std::size_t separator = aFilePath.find_last_of("/\\");
    const std::string fileName =
        separator == std::string::npos ? aFilePath : aFilePath.substr(separator + 1);
    if (!fileName.empty() && fileName.front() == '.')
        return kDEFAULT_LOG_NAME;
    return fileName.substr(0, fileName.rfind('.'));
}

} // namespace

cli_request::cli_request(std::string aCliPath, std::vector<std::string> aCliArgs,
                         std::map<std::string, std::string> aCliEnv)
    : path_(std::move(aCliPath)), args_(std::move(aCliArgs)), env_(std::move(aCliEnv))
{
}

cli_request cli_request::create(int argc, const char* const argv[], const char* const envp[])
{
    // argc 0 (or no vector at all) leaves both the path and the arguments empty.
    const std::size_t count = argc > 0 && argv != nullptr ? static_cast<std::size_t>(argc) : 0;
    std::vector<std::string> args;
    if (count > 1)
        args.assign(argv + 1, argv + count);

    std::map<std::string, std::string> env;
    for (const char* const* entry = envp; entry != nullptr && *entry != nullptr; ++entry)
    {
        std::vector<std::string> segments;
        TextSplit(*entry, '=', segments);
        if (segments.empty())
            continue;
        segments.resize(2);
        env.emplace(std::move(segments[0]), std::move(segments[1]));
    }

    std::string path = count > 0 ? argv[0] : "";
    return cli_request(std::move(path), std::move(args), std::move(env));
}

std::string cli_request::getLogName() const
{
    return _T_get_filestem(path_);
}

int cli_request::getLogLevel() const
{
    return 4;
}

void cli_request::assert_args(std::size_t aCount) const
{
    if (args_.size() != aCount)
        throw not_found_error();
}

void cli_request::assert_min_args(std::size_t aMinCount) const
{
    if (args_.size() < aMinCount)
        throw not_found_error();
}

void cli_request::assert_max_args(std::size_t aMaxCount) const
{
    if (args_.size() > aMaxCount)
        throw not_found_error();
}

void cli_request::assert_arg(std::size_t aPos, const std::string& aValue) const
{
    if (aPos >= args_.size() || args_[aPos] != aValue)
        throw not_found_error();
}

void cli_request::assert_env(const std::string& aName) const
{
    if (env_.find(aName) == env_.end())
        throw not_found_error();
}

cli_response::cli_response(int aCliStatus, std::string aCliOut, std::string aCliErr)
    : stdout_(std::move(aCliOut)), stderr_(std::move(aCliErr)), status_(aCliStatus)
{
}

cli_response cli_response::done(std::string aCliOut, std::string aCliErr)
{
    return cli_response(0, std::move(aCliOut), std::move(aCliErr));
}

cli_response cli_response::fail_external(std::string aCliOut, std::string aCliErr)
{
    return cli_response(64, std::move(aCliOut), std::move(aCliErr));
}

cli_response cli_response::fail_internal(std::string aCliOut, std::string aCliErr)
{
    return cli_response(70, std::move(aCliOut), std::move(aCliErr));
}

int cli_response::render(std::ostream& aStreamOut, std::ostream& aStreamErr) const
{
    if (!stderr_.empty())
        aStreamErr << stderr_;
    if (!stdout_.empty())
        aStreamOut << stdout_;
    return status_;
}

void Cli__DecodeParams(cli_params_t& aCliParams,
                       const std::vector<std::string>::const_iterator& aCliArgsBegin,
                       const std::vector<std::string>::const_iterator& aCliArgsEnd)
{
    for (auto arg = aCliArgsBegin; arg != aCliArgsEnd; ++arg)
    {
        std::string name;
        std::string value;
        TextDecodeParamValue(*arg, name, value, '=');
        aCliParams[std::move(name)].push_back(std::move(value));
    }
}

} // namespace Support
} // namespace Orvo
