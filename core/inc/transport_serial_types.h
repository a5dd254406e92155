// Creation argument of a serial transport: a plain record, filled by the caller. The transport
// copies the path when it is created, so the record need not outlive that call.
#ifndef VESK11_CORE_TRANSPORT_SERIAL_TYPES_H
#define VESK11_CORE_TRANSPORT_SERIAL_TYPES_H

constexpr unsigned kCOM_ENDPOINT_PATH_SIZE = 128;

struct com_transport_args
{
    char endpoint_path[kCOM_ENDPOINT_PATH_SIZE]; // NUL-terminated, at most 127 characters
};

#endif
