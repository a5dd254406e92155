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

struct transport_vtable_t
{
    transport_dtor_fn destroy;
    transport_open_fn open;
    transport_close_fn close;
    transport_rx_fn rx;
    transport_tx_fn tx;
    transport_get_link_handle_fn get_link_handle;
    transport_get_reconnect_args get_reconnect_args;
};

struct transport_t
{
    transport_vtable_t vtable;
    void* self;
};

void Transport__Deinit(transport_t* aHandle);
int Transport__Open(transport_t* aHandle);
int Transport__Close(transport_t* aHandle);
int Transport__GetLinkHandle(transport_t* aHandle);
int Transport__Tx(transport_t* aHandle, struct iovec* aBufferList, int aBufferCount);
int Transport__Rx(transport_t* aHandle);

// Creates an RS-485 block transport over a serial device; the device is opened by Transport__Open.
int Transport__InitCom(transport_t* aHandle, const com_transport_args* aComArgs,
                       transport_handler_fn aHandler, void* aHandlerArg);

#endif
