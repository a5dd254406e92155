// Serial port: one device opened raw at 115200 baud, 8N1; its earlier settings are put back on close.
#ifndef VESK11_CORE_TRANSPORT_SERIAL_H
#define VESK11_CORE_TRANSPORT_SERIAL_H

#include <cstdint>

#include "transport_serial_types.h"

int ComTransport__Create(void** aSelf, const com_transport_args* aComArgs);
void ComTransport__Destroy(void* aSelf);
int ComTransport__Open(void* aSelf);
int ComTransport__Close(void* aSelf);
int ComTransport__GetLinkHandle(void* aSelf);
void ComTransport__GetReconnectArgs(uint32_t* aMinTout, uint32_t* aMaxTout, double* aToutMult);

#endif
