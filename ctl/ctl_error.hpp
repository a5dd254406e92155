// The failures of vesk11-ctl: each carries the exit status it ends the run with (sysexits where
// one fits), a short kind for machine-readable output and a message for people.
#ifndef VESK11_CTL_CTL_ERROR_HPP
#define VESK11_CTL_CTL_ERROR_HPP

#include <string>
#include <utility>

#include "ctl_value.hpp"
#include "exceptions.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

enum exit_status_t : int
{
    kEXIT_OK = 0,
    kEXIT_DIFFERS = 1,      // diff, apply --check: the sensor and the document differ
    kEXIT_USAGE = 64,       // the command line is wrong
    kEXIT_DATAERR = 65,     // the configuration document is wrong
    kEXIT_NOINPUT = 66,     // the input file cannot be opened
    kEXIT_UNAVAILABLE = 69, // no sensor: device missing or locked, silent, no reply
    kEXIT_SOFTWARE = 70,    // anything else
    kEXIT_CANTCREAT = 73,   // the output file cannot be created
    kEXIT_IOERR = 74,       // the line failed: read, write or wait error, device gone
    kEXIT_REFUSED = 76,     // the sensor refused, or a read-back differs
};

class ctl_error : public generic_error
{
  public:
    ctl_error(exit_status_t aStatus, std::string aKind, std::string aMessage)
        : status_(aStatus), kind_(std::move(aKind)), message_(std::move(aMessage))
    {
    }

    const char* what() const noexcept override { return message_.c_str(); }
    exit_status_t status() const { return status_; }
    const std::string& kind() const { return kind_; }
    const std::string& message() const { return message_; }
    // What the command had done when it failed, for its JSON report; an empty object if nothing.
    const ctl_json& report() const { return report_; }
    ctl_error withReport(ctl_json aReport) const
    {
        ctl_error error(*this);
        error.report_ = std::move(aReport);
        return error;
    }

  private:
    exit_status_t status_;
    std::string kind_;
    std::string message_;
    ctl_json report_ = ctl_json::object();
};

// The usual kinds, one per exit status.
inline ctl_error UsageError(std::string aMessage)
{
    return ctl_error(kEXIT_USAGE, "usage", std::move(aMessage));
}

inline ctl_error DocumentError(std::string aMessage)
{
    return ctl_error(kEXIT_DATAERR, "document", std::move(aMessage));
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
