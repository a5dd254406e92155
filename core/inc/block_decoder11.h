// Block decoder: turns the raw RS-485 byte stream into block events.
#ifndef VESK11_CORE_BLOCK_DECODER11_H
#define VESK11_CORE_BLOCK_DECODER11_H

#include <cstddef>
#include <cstdint>

enum : uint8_t
{
    kBLOCKDECODER11_STAT_INIT = 1,     // a header with a valid checksum: a block begins
    kBLOCKDECODER11_STAT_MSG = 2,      // one message of the body is complete
    kBLOCKDECODER11_STAT_FINI_OK = 3,  // the block ended, body checksum valid
    kBLOCKDECODER11_STAT_FINI_FAIL = 4 // the block ended, body checksum wrong
};

typedef void (*block_decoder11_handler_fn)(void* aUserData, uint64_t aBlockTs, uint8_t aStat,
                                           uint16_t aMsgIdent, void* aMsgPayloadData,
                                           uint8_t aMsgPayloadSize);

typedef void (*block_decoder11_dtor_fn)(void* aSelf);
typedef void (*block_decoder11_add_buffer_fn)(void* aSelf, const uint8_t* aBufferData,
                                              size_t aBufferSize);
typedef void (*block_decoder11_reset_fn)(void* aSelf);

struct block_decoder11_vtable_t
{
    block_decoder11_dtor_fn destroy;
    block_decoder11_add_buffer_fn add_buffer;
    block_decoder11_reset_fn reset;
};

struct block_decoder11_t
{
    block_decoder11_vtable_t vtable;
    void* self;
};

bool BlockDecoder11__Init(block_decoder11_t* aHandle, block_decoder11_handler_fn aHandler,
                          void* aHandlerArg);
void BlockDecoder11__Deinit(block_decoder11_t* aHandle);
void BlockDecoder11__AddBuffer(block_decoder11_t* aHandle, const uint8_t* aBufferData,
                               size_t aBufferSize);
void BlockDecoder11__Reset(block_decoder11_t* aHandle);

#endif
