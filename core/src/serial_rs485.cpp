// The kernel's RS-485 mode of a serial line, asked for and put back with TIOCSRS485.
#include "serial_rs485.h"

#include <cstring>

#include <sys/ioctl.h>

namespace
{

struct mode_name
{
    serial_rs485_mode mode;
    const char* name;
};

constexpr mode_name kMODE_NAMES[] = {
    {kSERIAL_RS485_RTS_ON_SEND, "rts-on-send"},
    {kSERIAL_RS485_RTS_AFTER_SEND, "rts-after-send"},
};

} // namespace

bool SerialRs485__ParseMode(const char* aText, serial_rs485_mode* aMode)
{
    for (const mode_name& entry : kMODE_NAMES)
    {
        if (std::strcmp(aText, entry.name) == 0)
        {
            *aMode = entry.mode;
            return true;
        }
    }
    return false;
}

bool SerialRs485__ModeFromEnvironment(const char* aValue, serial_rs485_mode* aMode)
{
    if (aValue == nullptr || *aValue == '\0' || std::strcmp(aValue, "0") == 0)
    {
        *aMode = kSERIAL_RS485_OFF;
        return true;
    }
    if (std::strcmp(aValue, "1") == 0 || std::strcmp(aValue, "on") == 0)
    {
        *aMode = kSERIAL_RS485_RTS_ON_SEND;
        return true;
    }
    return SerialRs485__ParseMode(aValue, aMode);
}

const char* SerialRs485__ModeName(serial_rs485_mode aMode)
{
    for (const mode_name& entry : kMODE_NAMES)
    {
        if (entry.mode == aMode)
            return entry.name;
    }
    return "off";
}

struct serial_rs485 SerialRs485__Request(const serial_rs485_args* aArgs)
{
    struct serial_rs485 request;
    std::memset(&request, 0, sizeof request);
    request.flags =
        SER_RS485_ENABLED | (aArgs->mode == kSERIAL_RS485_RTS_ON_SEND ? SER_RS485_RTS_ON_SEND
                                                                      : SER_RS485_RTS_AFTER_SEND);
    request.delay_rts_before_send = aArgs->delay_before_ms;
    request.delay_rts_after_send = aArgs->delay_after_ms;
    return request;
}

int SerialRs485__Enable(int aFd, const serial_rs485_args* aArgs, struct serial_rs485* aEarlier)
{
    std::memset(aEarlier, 0, sizeof *aEarlier);
    if (ioctl(aFd, TIOCGRS485, aEarlier) != 0)
        return -1;
    struct serial_rs485 request = SerialRs485__Request(aArgs);
    return ioctl(aFd, TIOCSRS485, &request) == 0 ? 0 : -1;
}

int SerialRs485__Restore(int aFd, const struct serial_rs485* aEarlier)
{
    struct serial_rs485 earlier = *aEarlier;
    return ioctl(aFd, TIOCSRS485, &earlier) == 0 ? 0 : -1;
}
