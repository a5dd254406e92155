// The failures of vesk11-ctl: each is of one kind, which gives the exit status it ends the run
// with (sysexits where one fits) and a short name for machine-readable output, and carries a
// message for people.
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

enum class error_kind
{
    usage,       // 64: the command line is wrong
    document,    // 65: the configuration document is wrong
    input,       // 66: the input file cannot be read
    unavailable, // 69: no sensor: silent, no reply, the device cannot be opened or set up
    missing,     // 69: the device does not exist, or nothing is behind it
    denied,      // 69: no permission to open the device
    locked,      // 69: another program holds the device
    not_serial,  // 69: the device is not a serial line
    interrupted, // 70: a stop signal ended the run
    software,    // 70: anything else
    output,      // 73: the output file cannot be written
    io,          // 74: the line failed
    refused,     // 76: the sensor refused
    readback,    // 76: the value read back differs from the one written
};

// The exit status a failure of aKind ends the run with.
exit_status_t ErrorStatus(error_kind aKind);
// The name of aKind in JSON output: "usage", "document", ...
const char* ErrorKindName(error_kind aKind);
// Every kind's name with its exit status, as one JSON object.
ctl_json ErrorKindsJson();

class ctl_error : public generic_error
{
  public:
    ctl_error(error_kind aKind, std::string aMessage) : kind_(aKind), message_(std::move(aMessage))
    {
    }

    const char* what() const noexcept override { return message_.c_str(); }
    error_kind kind() const { return kind_; }
    exit_status_t status() const { return ErrorStatus(kind_); }
    const char* kindName() const { return ErrorKindName(kind_); }
    const std::string& message() const { return message_; }
    // What the command had done when it failed, for its JSON report; an empty object if nothing.
    const ctl_json& report() const { return report_; }
    ctl_error withReport(ctl_json aReport) const
    {
        ctl_error error(*this);
        error.report_ = std::move(aReport);
        return error;
    }
    // The same failure told with another message (the earlier one amended).
    ctl_error withMessage(std::string aMessage) const
    {
        ctl_error error(*this);
        error.message_ = std::move(aMessage);
        return error;
    }

  private:
    error_kind kind_;
    std::string message_;
    ctl_json report_ = ctl_json::object();
};

// One factory per kind.
inline ctl_error UsageError(std::string aMessage)
{
    return ctl_error(error_kind::usage, std::move(aMessage));
}

inline ctl_error DocumentError(std::string aMessage)
{
    return ctl_error(error_kind::document, std::move(aMessage));
}

inline ctl_error InputError(std::string aMessage)
{
    return ctl_error(error_kind::input, std::move(aMessage));
}

inline ctl_error UnavailableError(std::string aMessage)
{
    return ctl_error(error_kind::unavailable, std::move(aMessage));
}

inline ctl_error MissingError(std::string aMessage)
{
    return ctl_error(error_kind::missing, std::move(aMessage));
}

inline ctl_error DeniedError(std::string aMessage)
{
    return ctl_error(error_kind::denied, std::move(aMessage));
}

inline ctl_error LockedError(std::string aMessage)
{
    return ctl_error(error_kind::locked, std::move(aMessage));
}

inline ctl_error NotSerialError(std::string aMessage)
{
    return ctl_error(error_kind::not_serial, std::move(aMessage));
}

inline ctl_error InterruptedError(std::string aMessage)
{
    return ctl_error(error_kind::interrupted, std::move(aMessage));
}

inline ctl_error SoftwareError(std::string aMessage)
{
    return ctl_error(error_kind::software, std::move(aMessage));
}

inline ctl_error OutputError(std::string aMessage)
{
    return ctl_error(error_kind::output, std::move(aMessage));
}

inline ctl_error IoError(std::string aMessage)
{
    return ctl_error(error_kind::io, std::move(aMessage));
}

inline ctl_error RefusedError(std::string aMessage)
{
    return ctl_error(error_kind::refused, std::move(aMessage));
}

inline ctl_error ReadbackError(std::string aMessage)
{
    return ctl_error(error_kind::readback, std::move(aMessage));
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
