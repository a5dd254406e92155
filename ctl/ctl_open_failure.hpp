// Why the line could not be opened, in words a person can act on: the one place that tells a
// missing device, a permission, a lock and a device that is not a serial line apart.
#ifndef VESK11_CTL_CTL_OPEN_FAILURE_HPP
#define VESK11_CTL_CTL_OPEN_FAILURE_HPP

#include <string>

#include "ctl_error.hpp"
#include "exchange.h"
#include "transport_serial_types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// The failure for Exchange__Open's aStatus (not done) on aDevice, aError its errno: of kind
// missing, denied, locked, not_serial, or unavailable for the rest.
ctl_error OpenFailure(const std::string& aDevice, const serial_rs485_args& aRs485,
                      exchange_open_status aStatus, int aError);

// "cannot open DEVICE: locked by ...": the program holding the line where it can be seen.
std::string LockedMessage(const std::string& aDevice);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
