// The kernel's RS-485 mode of a serial line: the driver switches the transceiver's direction with
// RTS around each transmission. Plain functions on a descriptor; nothing throws, nothing logs.
#ifndef VESK11_CORE_SERIAL_RS485_H
#define VESK11_CORE_SERIAL_RS485_H

#include <cstdint>

#include <linux/serial.h>

#include "transport_serial_types.h"

constexpr uint32_t kSERIAL_RS485_DELAY_MAX_MS = 1000;

// The mode named aText ("rts-on-send", "rts-after-send"); false (nothing stored) for any other.
bool SerialRs485__ParseMode(const char* aText, serial_rs485_mode* aMode);

// The mode a VESK11_RS485 value asks for: null, "" or "0" off, "1" or "on" rts-on-send, or a mode
// name. False (nothing stored) for any other text.
bool SerialRs485__ModeFromEnvironment(const char* aValue, serial_rs485_mode* aMode);

// The name of aMode ("off" for kSERIAL_RS485_OFF); never null.
const char* SerialRs485__ModeName(serial_rs485_mode aMode);

// The structure that asks for aArgs (mode not off): enabled, the RTS level while and after
// sending, the delays; every other field zero.
struct serial_rs485 SerialRs485__Request(const serial_rs485_args* aArgs);

// Reads the line's present RS-485 state into *aEarlier, then asks for aArgs (mode not off).
// 0 when the driver took it; -1 with errno set (ENOTTY or EINVAL: the driver has no RS-485 mode)
// otherwise, the line then left as it was.
int SerialRs485__Enable(int aFd, const serial_rs485_args* aArgs, struct serial_rs485* aEarlier);

// Puts back the state Enable read. 0, or -1 with errno set.
int SerialRs485__Restore(int aFd, const struct serial_rs485* aEarlier);

#endif
