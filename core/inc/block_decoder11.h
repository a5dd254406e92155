// Block decoder: turns the raw RS-485 byte stream into block events.
//
// Frames are found by their start byte and proved by their header checksum. The line has no byte
// stuffing, so when a header proves false the bytes after its start byte are searched again: a
// frame that began inside it is still found, once the false header's last byte has arrived.
// Every frame whose header passes gives, through the handler: one kBLOCKDECODER11_STAT_INIT, one
// kBLOCKDECODER11_STAT_MSG per complete message of its body in order, then
// kBLOCKDECODER11_STAT_FINI_OK or kBLOCKDECODER11_STAT_FINI_FAIL, unless a reset comes first.
// Single-threaded; nothing throws, blocks, or allocates after creation.
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

// Called from inside BlockDecoder11__AddBuffer, once per event, before it returns.
// aUserData: the argument given at creation. aBlockTs: the block's wall-clock stamp in
// microseconds, taken when its start byte was processed, the same for every event of a block.
// aMsgIdent: 0 with STAT_INIT; the message's identifier with STAT_MSG; the last identifier read
// in the body (0 for an empty body) with the two final codes. aMsgPayloadData: null except with
// STAT_MSG, where it points at aMsgPayloadSize (0 to 8) data bytes that the decoder owns: read
// them, do not write them, and copy what must outlive the call. A message announcing more than
// 8 data bytes is never delivered.
// The handler may write to the line and may call BlockDecoder11__Reset on its decoder; it must
// not call BlockDecoder11__AddBuffer or BlockDecoder11__Deinit on it, nor destroy its owner.
typedef void (*block_decoder11_handler_fn)(void* aUserData, uint64_t aBlockTs, uint8_t aStat,
                                           uint16_t aMsgIdent, void* aMsgPayloadData,
                                           uint8_t aMsgPayloadSize);

typedef void (*block_decoder11_dtor_fn)(void* aSelf);
typedef void (*block_decoder11_add_buffer_fn)(void* aSelf, const uint8_t* aBufferData,
                                              size_t aBufferSize);
typedef void (*block_decoder11_reset_fn)(void* aSelf);
typedef size_t (*block_decoder11_copy_head_fn)(const void* aSelf, uint8_t* aOut, size_t aRoom);
typedef uint64_t (*block_decoder11_discarded_fn)(const void* aSelf);
typedef uint64_t (*block_decoder11_offset_fn)(const void* aSelf);

struct block_decoder11_vtable_t
{
    block_decoder11_dtor_fn destroy;
    block_decoder11_add_buffer_fn add_buffer;
    block_decoder11_reset_fn reset;
    block_decoder11_copy_head_fn copy_head;
    block_decoder11_discarded_fn discarded;
    block_decoder11_offset_fn offset;
};

// The handle: the operations and the state behind them. Use it through the functions below; a
// zero-filled handle is empty (self null) until BlockDecoder11__Init fills it.
struct block_decoder11_t
{
    block_decoder11_vtable_t vtable;
    void* self;
};

// Creates a decoder, hunting for a start byte, that reports to aHandler (not null) with
// aHandlerArg. Returns true with the handle filled; the caller owns the decoder and releases it
// with BlockDecoder11__Deinit. Returns false when memory runs out (logged); the handle is then
// untouched.
bool BlockDecoder11__Init(block_decoder11_t* aHandle, block_decoder11_handler_fn aHandler,
                          void* aHandlerArg);

// Frees the decoder and empties the handle. Does nothing on an empty handle, so calling it twice
// is safe. Never from inside the handler.
void BlockDecoder11__Deinit(block_decoder11_t* aHandle);

// Decodes the next aBufferSize bytes of the stream (cut anywhere: the position is kept between
// calls) and calls the handler for each event they complete. The buffer is read during the call
// only; aBufferData may be null when aBufferSize is 0. Not on an empty handle, nor from inside
// the handler.
void BlockDecoder11__AddBuffer(block_decoder11_t* aHandle, const uint8_t* aBufferData,
                               size_t aBufferSize);

// During a kBLOCKDECODER11_STAT_INIT event: copies the bytes of the header just accepted, as
// they were received, to aOut (room for aRoom bytes; 255 always suffice) and returns their count;
// 0 when they do not fit. Elsewhere the result is undefined. Not on an empty handle.
size_t BlockDecoder11__CopyHead(const block_decoder11_t* aHandle, uint8_t* aOut, size_t aRoom);

// The bytes decoded since creation that belong to no frame whose header passed: bytes between
// frames and the start bytes of false headers (garbage on the line). Bytes of a header still
// being read are not counted yet; those dropped by BlockDecoder11__Reset never are. Not on an
// empty handle.
uint64_t BlockDecoder11__Discarded(const block_decoder11_t* aHandle);

// During an event: the position in the stream just past the byte that completed it, counted in
// bytes given to BlockDecoder11__AddBuffer since creation (a reset does not restart the count).
// A frame's header ends at the offset of its kBLOCKDECODER11_STAT_INIT event, and its checksum at
// the offset of its final event, also when the frame was found again inside a false header, so
// the caller can take the frame's bytes as they came from its own copy of the stream. Elsewhere:
// the bytes given so far. Not on an empty handle.
uint64_t BlockDecoder11__Offset(const block_decoder11_t* aHandle);

// Drops the partial frame, without an event, and every byte held for a new search; the decoder
// hunts for the next start byte. Allowed from inside the handler; not on an empty handle.
void BlockDecoder11__Reset(block_decoder11_t* aHandle);

#endif
