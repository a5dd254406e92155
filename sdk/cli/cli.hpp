// The command-line engine: the parsed request, the response with its exit status, the engine
// interface and the name=value parameter map.
#ifndef VESK11_SDK_CLI_CLI_HPP
#define VESK11_SDK_CLI_CLI_HPP

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace Orvo
{
namespace Support
{

// The command line of one run, unchanged after construction.
class cli_request
{
  public:
    cli_request(std::string aCliPath, std::vector<std::string> aCliArgs,
                std::map<std::string, std::string> aCliEnv);

    // argv[0] becomes the path, the rest the arguments. envp may be null; of each entry only
    // the first two non-empty '='-separated segments count (name, value), the first name wins,
    // an entry without a value gets an empty one and an entry without a name is skipped.
    static cli_request create(int argc, const char* const argv[], const char* const envp[]);

    // The file stem of the program path; "vesk11-cli" when the path is empty or its file name
    // begins with '.'.
    std::string getLogName() const;
    int getLogLevel() const;

    // Each throws not_found_error when its test fails and logs nothing.
    void assert_args(std::size_t aCount) const;
    void assert_min_args(std::size_t aMinCount) const;
    void assert_max_args(std::size_t aMaxCount) const;
    // A position at or beyond the number of arguments fails too.
    void assert_arg(std::size_t aPos, const std::string& aValue) const;
    void assert_env(const std::string& aName) const;

    std::string path_;
    std::vector<std::string> args_;
    std::map<std::string, std::string> env_;
};

// The outcome of one run: texts for the two streams and the exit status.
class cli_response
{
  public:
    explicit cli_response(int aCliStatus, std::string aCliOut, std::string aCliErr);

    static cli_response done(std::string aCliOut, std::string aCliErr);          // status 0
    static cli_response fail_external(std::string aCliOut, std::string aCliErr); // status 64
    static cli_response fail_internal(std::string aCliOut, std::string aCliErr); // status 70

    // Writes the error text, then the output text (empty ones not at all), flushes neither
    // stream and returns the status.
    int render(std::ostream& aStreamOut, std::ostream& aStreamErr) const;

  private:
    std::string stdout_;
    std::string stderr_;
    int status_;
};

// An engine turns a request into a response.
class cli_engine_like
{
  public:
    virtual ~cli_engine_like() = default;
    virtual std::string usage() = 0;
    virtual cli_response activate(const cli_request& aRequest) = 0;
};

// Parameter name to every value given for it, in command-line order.
using cli_params_t = std::map<std::string, std::vector<std::string>>;

// Adds each name=value argument of the range to aCliParams; never fails. The name loses blanks
// before the first '=', the value blanks after it; an argument without '=' is a name with an
// empty value.
void Cli__DecodeParams(cli_params_t& aCliParams,
                       const std::vector<std::string>::const_iterator& aCliArgsBegin,
                       const std::vector<std::string>::const_iterator& aCliArgsEnd);

static inline void Cli__DecodeParams(cli_params_t& aCliParams,
                                     const std::vector<std::string>& aCliArgs)
{
    Cli__DecodeParams(aCliParams, aCliArgs.cbegin(), aCliArgs.cend());
}

} // namespace Support
} // namespace Orvo

#endif
