// Serial port: one device opened raw at 115200 baud, 8N1; its earlier settings are put back on
// close. The object is untyped for its users; every function but the last takes it as aSelf (not
// null). Single-threaded; nothing throws. Failures are logged and reported by the result.
#ifndef VESK11_CORE_TRANSPORT_SERIAL_H
#define VESK11_CORE_TRANSPORT_SERIAL_H

#include <cstdint>

#include "transport_serial_types.h"

// Fills *aArgs for the device path aPath (NUL-terminated, not null) and the RS-485 settings
// aRs485 (null: the line's RS-485 state is left alone). Returns false, *aArgs untouched, when the
// path is longer than kCOM_ENDPOINT_PATH_MAX characters.
bool ComTransport__InitArgs(com_transport_args* aArgs, const char* aPath,
                            const serial_rs485_args* aRs485);

// Creates a closed port for aComArgs->endpoint_path, which it copies. Returns 0 and stores the
// object in *aSelf; the caller owns it and frees it with ComTransport__Destroy. Returns -1 when
// memory runs out or the path has no NUL within its 128 bytes; *aSelf is then untouched.
int ComTransport__Create(void** aSelf, const com_transport_args* aComArgs);

// Frees the object. It neither closes nor restores an open device: call ComTransport__Close
// first. A null aSelf is logged and ignored.
void ComTransport__Destroy(void* aSelf);

// Opens the device (close-on-exec, not as controlling terminal), takes an exclusive lock on it so
// that a second user of the line fails, saves its settings, discards what is pending both ways,
// applies the raw settings and reads them back, then, when the arguments ask for it, saves the
// line's RS-485 state and turns the RS-485 mode on. Returns 0 when the device is open and set up;
// on a failure one of the kCOM_OPEN_ codes (errno as they say), with the device closed and its
// settings restored; kCOM_OPEN_FAILED when the port is already open (it then stays open and
// unchanged).
int ComTransport__Open(void* aSelf);

// Restores the saved RS-485 state, if it was changed, and the saved settings (a failure is logged
// and does not change the result) and closes the device. Returns 0, also when the port was not
// open; -1 when closing the descriptor failed: the port then counts as open and a later call tries
// again.
int ComTransport__Close(void* aSelf);

// Returns the open device's descriptor, still owned by the port (never close it), or -1 while
// the port is closed.
int ComTransport__GetLinkHandle(void* aSelf);

// Stores the reconnect policy: time-outs 2000000 (minimum) and 16000000 (maximum), multiplier
// 2.0. Needs no port; all three pointers must be valid.
void ComTransport__GetReconnectArgs(uint32_t* aMinTout, uint32_t* aMaxTout, double* aToutMult);

#endif
