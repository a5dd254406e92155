// The failures that end vesk11d, each with its sysexits status.
#ifndef VESK11_VESK11D_DAEMON_ERROR_HPP
#define VESK11_VESK11D_DAEMON_ERROR_HPP

#include <string>
#include <utility>

#include "exceptions.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

enum exit_status_t : int
{
    kEXIT_OK = 0,
    kEXIT_USAGE = 64,       // the command line is wrong
    kEXIT_UNAVAILABLE = 69, // the device is missing, not a serial line, locked, or refused RS-485
    kEXIT_SOFTWARE = 70,    // anything else
    kEXIT_OSERR = 71,       // no pseudo-terminal could be made
    kEXIT_CANTCREAT = 73,   // the runtime folder, a port link or the line record cannot be made
    kEXIT_NOPERM = 77,      // no permission to open the device
};

class daemon_error : public generic_error
{
  public:
    daemon_error(exit_status_t aStatus, std::string aMessage)
        : status_(aStatus), message_(std::move(aMessage))
    {
    }
    const char* what() const noexcept override { return message_.c_str(); }
    exit_status_t status() const { return status_; }

  private:
    exit_status_t status_;
    std::string message_;
};

inline daemon_error UsageError(std::string aMessage)
{
    return daemon_error(kEXIT_USAGE, std::move(aMessage));
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
