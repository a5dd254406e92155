// Exchange engine: many UAT v4 queries, one at a time, over one open link. Each query goes out at
// the end of an intact block from the sensor and waits for the reply that answers it; the result
// is an outcome value, never a side effect on standard output. Single-threaded; never throws.
#ifndef VESK11_CORE_EXCHANGE_H
#define VESK11_CORE_EXCHANGE_H

#include <csignal>
#include <cstddef>
#include <cstdint>

#include "transport_serial11.h"
#include "uat4/uat4.h"

enum exchange_status : uint8_t
{
    kEXCHANGE_ACCEPTED = 0, // a reply with result 0 (for a set-and-read-back: the value written)
    kEXCHANGE_REFUSED,      // a reply with a non-zero result code
    kEXCHANGE_READBACK_DIFFERS, // result 0, but the value read back is not the value written (as
                                // the session's exact_readback judges it)
    kEXCHANGE_NO_INPUT,         // one whole time-out without input
    kEXCHANGE_HUNG_UP,          // the wait ended without input: hang-up or error on the device
    kEXCHANGE_NO_REPLY,         // the query's deadline passed
    kEXCHANGE_LINK_LOST,        // end of input: the device went away
    kEXCHANGE_POLL_ERROR,       // the wait failed (error)
    kEXCHANGE_READ_ERROR,       // reading failed (error)
    kEXCHANGE_WRITE_ERROR,      // sending the query failed (error)
    kEXCHANGE_STOPPED,          // a stop signal came (signal)
    kEXCHANGE_RECEIVED,         // a listen: input came and was decoded
};

struct exchange_outcome
{
    exchange_status status;
    uint8_t result;          // reply result code (accepted, refused, read-back differs)
    uint32_t value_bits;     // reply value bytes 4..7, low byte first: int32 or float bits
    int error;               // errno of a poll, read or write error
    int signal;              // the stop signal
    int deadline_ms;         // the deadline this query had
    uint32_t damaged_blocks; // blocks with a bad body checksum after the query went out
    bool sent;               // whether the query went out
    uint32_t silent_ms;      // Exchange__AwaitBlock: the line's silence before the block
};

enum exchange_note_kind : uint8_t
{
    kEXCHANGE_NOTE_TX,      // bytes: the whole frame just handed to the line
    kEXCHANGE_NOTE_RX,      // bytes: body of the block whose reply is accepted, before it is judged
    kEXCHANGE_NOTE_ECHO,    // an intact block equal to the query just sent was ignored
    kEXCHANGE_NOTE_FOREIGN, // a reply about another parameter (group, array) was ignored
};

struct exchange_note
{
    exchange_note_kind kind;
    const uint8_t* bytes; // valid only during the call
    size_t size;
    uint16_t group;
    uint16_t array;
};

typedef void (*exchange_note_fn)(void* aArg, const exchange_note* aNote);
typedef int (*exchange_transport_init_fn)(transport_t* aHandle, const com_transport_args* aComArgs,
                                          transport_handler_fn aHandler, void* aHandlerArg);

struct exchange_config
{
    int tout_ms;               // longest single wait for input, 0 to 60000 ms
    transport_handler_fn tap;  // sees every decoder event before the engine; may be null
    exchange_note_fn note;     // told what the engine sent, accepted or ignored; may be null
    void* hook_arg;            // first argument of tap and note
    const sigset_t* wait_mask; // signal mask during the waits; null: the caller's own
    volatile sig_atomic_t* stop_signal; // non-zero (the signal) ends the query; may be null
    // How a set-and-read-back is judged: true, the value read back must have the very bits
    // written (-0.0 differs from 0.0, a NaN read back with its bits is the value written);
    // false, the codec compares the values (UatAction4__AssertReplySetGetParamMsg2).
    bool exact_readback;
};

enum exchange_open_status : uint8_t
{
    kEXCHANGE_OPEN_DONE = 0,
    kEXCHANGE_OPEN_INIT_FAILED,   // the transport could not be created (or no memory)
    kEXCHANGE_OPEN_OPEN_FAILED,   // the device could not be set up
    kEXCHANGE_OPEN_RS485_REFUSED, // the device's driver refused the RS-485 mode asked for
    kEXCHANGE_OPEN_NO_ACCESS,     // the device could not be opened (errno: missing, permission...)
    kEXCHANGE_OPEN_LOCKED,        // another open file holds the device's lock
    kEXCHANGE_OPEN_NOT_SERIAL,    // the device is not a serial line (errno)
};

struct exchange_session;

// Creates the transport with aInit (Transport__InitCom, or a test's own) and opens the link.
// On kEXCHANGE_OPEN_DONE *aSession owns the open link until Exchange__Close; otherwise *aSession
// is null, nothing stays open, and errno holds the failed step's error. aConfig is copied; its
// hooks are called only from within Exchange__Query, on the caller's thread, and must not call back
// into the session.
exchange_open_status Exchange__Open(exchange_session** aSession, const com_transport_args* aArgs,
                                    exchange_transport_init_fn aInit,
                                    const exchange_config* aConfig);

// Runs one query: sends it once at the end of an intact block (the block that carried the previous
// reply, when the session's last query ended within a moment, else the next one), then waits for
// an intact block whose reply message 2 answers it; reply messages 1 and 3 beside it must name the
// query's group, array and dimensions, an exact echo of the query is ignored. Each wait for input
// lasts at most the time-out, the whole query at most max(10 x time-out, 1000 ms). Fills
// *aOutcome. After kEXCHANGE_LINK_LOST, kEXCHANGE_HUNG_UP or a poll, read or write error every
// later query of the session ends the same way at once, without touching the line. Records the
// codec's assertion of the accepted reply.
void Exchange__Query(exchange_session* aSession, const uat4_action_t* aQuery,
                     exchange_outcome* aOutcome);

// Listens without sending anything: waits at most aWaitMs (0 to 60000) for input and decodes
// what came, every decoder event going to the tap. Fills *aOutcome: kEXCHANGE_RECEIVED after
// input was read, kEXCHANGE_NO_INPUT when none came within aWaitMs, kEXCHANGE_STOPPED on a stop
// signal, or the line's failure (hang-up, end of input, poll or read error), which breaks the
// session as it does for a query.
void Exchange__Listen(exchange_session* aSession, int aWaitMs, exchange_outcome* aOutcome);

// The link's block decoder (Transport__GetDecoder), for a tap that reads the header of the block
// beginning (BlockRecord__TakeHead) or counts garbage; null when the transport has none. Valid
// until Exchange__Close.
const block_decoder11_t* Exchange__Decoder(exchange_session* aSession);

// Sends nothing and waits up to aMaxMs (0 to 600000) for the next intact block, however long the
// line stays silent meanwhile: kEXCHANGE_ACCEPTED when one came, with silent_ms the time from the
// end of the last intact block the session saw (else from the call) to the start of this one;
// kEXCHANGE_NO_REPLY when aMaxMs passed first; otherwise stopped, hang-up, end of input or a
// poll or read error, as for a query (which likewise break the session). Fills *aOutcome
// (deadline_ms is aMaxMs, sent is false).
void Exchange__AwaitBlock(exchange_session* aSession, int aMaxMs, exchange_outcome* aOutcome);

// Puts the line settings found at open back, closes the device and frees the session. Accepts null.
void Exchange__Close(exchange_session* aSession);

#endif
