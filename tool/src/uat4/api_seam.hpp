// The sensor API over a link of the caller's making: lets tests and fuzzers drive the exchange
// through a transport of their own instead of the serial port.
#ifndef VESK11_TOOL_UAT4_API_SEAM_HPP
#define VESK11_TOOL_UAT4_API_SEAM_HPP

#include <string>

#include "exchange.h"
#include "uat4/api.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Cli
{
namespace Uat4
{

// Same contract as Transport__InitCom, which is what Api__Create uses.
typedef exchange_transport_init_fn transport_init_fn;

// The API with this endpoint and time-out, taken as they are; every exchange creates its link
// with aInitTransport.
api_sp_t Api__CreateOver(std::string aSensorEndpoint, int aToutMs,
                         transport_init_fn aInitTransport);

} // namespace Uat4
} // namespace Vesk11Cli
} // namespace Support
} // namespace Orvo

#endif
