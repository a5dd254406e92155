// Transport interface and its RS-485 block implementation.
#ifndef VESK11_CORE_TRANSPORT_SERIAL11_H
#define VESK11_CORE_TRANSPORT_SERIAL11_H

#include <cstdint>
#include <sys/uio.h>

#include "block_decoder11.h"
#include "transport_serial_types.h"

typedef block_decoder11_handler_fn transport_handler_fn;

typedef void (*transport_dtor_fn)(void* aSelf);
typedef int (*transport_open_fn)(void* aSelf);
typedef int (*transport_close_fn)(void* aSelf);
typedef int (*transport_rx_fn)(void* aSelf);
typedef int (*transport_tx_fn)(void* aSelf, struct iovec* aBufferList, int aBufferCount);
typedef int (*transport_get_link_handle_fn)(void* aSelf);
typedef void (*transport_get_reconnect_args)(uint32_t* aMinTout, uint32_t* aMaxTout,
                                             double* aToutMult);
typedef const block_decoder11_t* (*transport_get_decoder_fn)(void* aSelf);

struct transport_vtable_t
{
    transport_dtor_fn destroy;
    transport_open_fn open;
    transport_close_fn close;
    transport_rx_fn rx;
    transport_tx_fn tx;
    transport_get_link_handle_fn get_link_handle;
    transport_get_reconnect_args get_reconnect_args;
    transport_get_decoder_fn get_decoder; // may be null: a transport without a block decoder
};

struct transport_t
{
    transport_vtable_t vtable;
    void* self;
};

// A transport is a handle: a function table and the implementation's state in self. An empty
// handle (self null) may only be passed to Transport__Deinit. Single-threaded: the handler runs on
// the caller's thread, inside Transport__Rx.

// Releases the state (the device should have been closed first: release alone does not restore
// the line) and empties the handle. Does nothing on an empty handle.
void Transport__Deinit(transport_t* aHandle);

// Opens the device and starts decoding afresh. 0 when the line is open and set up, else one of the
// kCOM_OPEN_ codes, errno as they say (the reason is also logged; nothing stays open).
int Transport__Open(transport_t* aHandle);

// Puts the line settings found at open back and closes the device. 0, or -1 when closing failed.
int Transport__Close(transport_t* aHandle);

// The open device's descriptor, for poll; -1 when it is not open. The transport keeps it.
int Transport__GetLinkHandle(transport_t* aHandle);

// The block decoder that feeds the handler, for reading the header during its
// kBLOCKDECODER11_STAT_INIT event and the garbage count; null when the transport has none. The
// transport keeps it.
const block_decoder11_t* Transport__GetDecoder(transport_t* aHandle);

// Sends one block whose body is aBufferList[0] (exactly one buffer of at most 255 bytes): header,
// body and body checksum in one gathered write. Returns the bytes written, which on a descriptor
// that is not blocking may be fewer than the frame (0 when the line takes nothing now: the caller
// writes the rest, see Block485__EncodeFrame), or -1 with errno set. A bad buffer list is refused
// with -1 and nothing written.
int Transport__Tx(transport_t* aHandle, struct iovec* aBufferList, int aBufferCount);

// Reads what is waiting, at most 256 bytes at once, and feeds it to the block decoder, which calls
// the handler for every event before this returns. Returns the bytes read, 0 at end of input, -1
// with errno set (EAGAIN when nothing was waiting). The handler must not release the transport.
int Transport__Rx(transport_t* aHandle);

// Creates an RS-485 block transport over the serial device aComArgs names (the text is copied);
// the device is opened by Transport__Open. aHandler gets aHandlerArg and every decoder event. 0 on
// success with the handle filled, -1 (logged, handle untouched) otherwise.
int Transport__InitCom(transport_t* aHandle, const com_transport_args* aComArgs,
                       transport_handler_fn aHandler, void* aHandlerArg);

#endif
