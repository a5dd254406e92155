// Creation argument of a serial transport: a plain record, filled by the caller. The transport
// copies the path when it is created, so the record need not outlive that call.
#ifndef VESK11_CORE_TRANSPORT_SERIAL_TYPES_H
#define VESK11_CORE_TRANSPORT_SERIAL_TYPES_H

#include <cstdint>

constexpr unsigned kCOM_ENDPOINT_PATH_SIZE = 128;
// What opening the line returns when it fails (0: open and set up). For the last three errno
// holds the failing call's error.
constexpr int kCOM_OPEN_FAILED = -1;        // setting the line up failed, or it was open already
constexpr int kCOM_OPEN_RS485_REFUSED = -2; // its driver refused the RS-485 mode asked for
constexpr int kCOM_OPEN_NO_ACCESS = -3;     // open(2) failed: missing, no permission, no device
constexpr int kCOM_OPEN_LOCKED = -4;        // another open file holds its exclusive lock
constexpr int kCOM_OPEN_NOT_SERIAL = -5;    // its line settings cannot be read: not a serial line

// The level RTS has while the driver sends; it has the other one after.
enum serial_rs485_mode : uint8_t
{
    kSERIAL_RS485_OFF = 0, // the line's RS-485 state is left alone
    kSERIAL_RS485_RTS_ON_SEND,
    kSERIAL_RS485_RTS_AFTER_SEND,
};

struct serial_rs485_args
{
    serial_rs485_mode mode;
    uint32_t delay_before_ms; // RTS set this long before the first bit
    uint32_t delay_after_ms;  // and kept this long after the last
};

struct com_transport_args
{
    char endpoint_path[kCOM_ENDPOINT_PATH_SIZE]; // NUL-terminated, at most 127 characters
    serial_rs485_args rs485;                     // all zero: RS-485 mode left alone
};

#endif
