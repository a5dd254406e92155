// The sensor API: one operation per kind of query, each a complete exchange with the sensor.
#ifndef VESK11_TOOL_UAT4_API_HPP
#define VESK11_TOOL_UAT4_API_HPP

#include <cstdint>
#include <memory>

namespace Orvo
{
namespace Support
{
namespace Vesk11Cli
{
namespace Uat4
{

// Each operation prints the sensor's reply on standard output and returns when the exchange is
// over; it throws internal_error (after logging the cause) unless an intact reply with result
// code 0 arrived. SIGINT, SIGTERM and SIGHUP during an exchange end it that way too, after the
// line has been closed.
class api_like
{
  public:
    virtual ~api_like() = default;
    virtual void execCommand(uint16_t aGroup, uint16_t aParamArray, uint32_t aParamValue) = 0;
    virtual void getStatusI32(uint16_t aGroup, uint16_t aParamArray) = 0;
    virtual void getStatusF32(uint16_t aGroup, uint16_t aParamArray) = 0;
    virtual void getParamI32(uint16_t aGroup, uint16_t aParamArray) = 0;
    virtual void getParamF32(uint16_t aGroup, uint16_t aParamArray) = 0;
    virtual void setParamI32(uint16_t aGroup, uint16_t aParamArray, int32_t aParamValue) = 0;
    virtual void setParamF32(uint16_t aGroup, uint16_t aParamArray, float aParamValue) = 0;
    virtual void reboot() = 0;
    virtual void resetRamConf(uint32_t aParamGroup) = 0;
    virtual void resetFlashConf(uint32_t aParamGroup) = 0;
    virtual void updateFlashConf(uint32_t aParamGroup) = 0;
};

typedef std::shared_ptr<api_like> api_sp_t;

// Builds the API from VESK11_CLI_ENDPOINT and VESK11_CLI_TOUT (0 to 60000 ms); throws
// params_error, after logging which variable is missing or bad. Opens no device.
api_sp_t Api__Create();

} // namespace Uat4
} // namespace Vesk11Cli
} // namespace Support
} // namespace Orvo

#endif
