// Exchange engine: one query at a time over an open link, each judged by the reply that answers it.
#include "exchange.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include <poll.h>

#include "block_record.h"
#include "send_window.h"

namespace
{

constexpr int kDEADLINE_TOUTS = 10;
constexpr int kDEADLINE_MIN_MS = 1000;

// What one query has seen so far; made anew for every query.
struct query_state
{
    uat4_action_t action;
    uat4_query_batch batch;
    transport_tx_progress tx; // the frame as the transport sent it
    bool sent;
    bool write_failed;
    int write_error;
    bool done;
    // The current block: its reply message 2 held until the body checksum is known, and what its
    // messages 1 and 3 say about the parameter.
    bool reply_held;
    uat4_reply_batch__reply_msg2__data reply;
    bool msg1_seen;
    bool msg1_matches;
    uint16_t msg1_group;
    uint16_t msg1_array;
    bool msg3_seen;
    bool msg3_matches;
};

} // namespace

struct exchange_session
{
    transport_t transport;
    exchange_config config;
    block_record block;
    // An intact block ended at window_us and no header came since.
    bool window_open;
    int64_t window_us;
    uint64_t intact_blocks;
    int64_t block_start_us; // when the header of the current block came
    bool broken;
    exchange_outcome broken_outcome;
    bool query_active;
    query_state query;
    exchange_outcome* outcome;
};

namespace
{

int64_t _T_now_us()
{
    return SendWindow__NowUs();
}

void _T_note(exchange_session* aSession, exchange_note_kind aKind, const uint8_t* aBytes,
             size_t aSize, uint16_t aGroup = 0, uint16_t aArray = 0)
{
    if (aSession->config.note == nullptr)
        return;
    const exchange_note note{aKind, aBytes, aSize, aGroup, aArray};
    aSession->config.note(aSession->config.hook_arg, &note);
}

void _T_finish(exchange_session* aSession, exchange_status aStatus, int aError = 0)
{
    aSession->outcome->status = aStatus;
    aSession->outcome->error = aError;
    aSession->query.done = true;
}

void _T_start_block(query_state* aQuery)
{
    aQuery->reply_held = false;
    aQuery->msg1_seen = false;
    aQuery->msg3_seen = false;
}

// The frame goes out through the transport; what a busy line did not take yet is written later.
void _T_send(exchange_session* aSession)
{
    query_state& query = aSession->query;
    query.sent = true;
    aSession->outcome->sent = true;
    aSession->window_open = false;
    iovec body{&query.batch, sizeof query.batch};
    if (Transport__Tx(&aSession->transport, &body, 1) < 0 ||
        Transport__TxRest(&aSession->transport, &query.tx) < 0)
    {
        query.write_failed = true;
        query.write_error = errno;
        return;
    }
    _T_note(aSession, kEXCHANGE_NOTE_TX, query.tx.frame, query.tx.size);
}

void _T_take_message(exchange_session* aSession, const uint8_t* aData, uint8_t aSize)
{
    query_state& query = aSession->query;
    if (!query.sent || aSize != kUAT4_MSG_DATA_SIZE)
        return;
    const uint16_t udtIndex = Uat4__GetU16le(aData);
    if (udtIndex == kUAT4_REPLY_UDT_INDEX && !query.reply_held)
    {
        std::memcpy(&query.reply, aData, sizeof query.reply);
        query.reply_held = true;
    }
    else if (udtIndex == kUAT4_REPLY_MSG1_UDT_INDEX && !query.msg1_seen)
    {
        const auto* msg1 = reinterpret_cast<const uat4_reply_batch__reply_msg1__data*>(aData);
        query.msg1_seen = true;
        query.msg1_matches = UatAction4__ReplyMsg1Matches(aData, aSize, &query.action);
        query.msg1_group = Uat4__GetU16le(msg1->reply_param_group);
        query.msg1_array = Uat4__GetU16le(msg1->reply_param_array);
    }
    else if (udtIndex == kUAT4_REPLY_MSG3_UDT_INDEX && !query.msg3_seen)
    {
        query.msg3_seen = true;
        query.msg3_matches = UatAction4__ReplyMsg3Matches(aData, aSize, &query.action);
    }
}

// Whether the value read back is the value written, as the session judges it.
bool _T_read_back_good(exchange_session* aSession)
{
    query_state& query = aSession->query;
    if (!aSession->config.exact_readback)
        return UatAction4__AssertReplySetGetParamMsg2(&query.reply, sizeof query.reply,
                                                      &query.action);
    const uat4_param& param = query.action.param;
    const uint32_t written = param.value_type == kUAT4_VALUE_F32
                                 ? Uat4__F32ToBits(param.value_f32)
                                 : static_cast<uint32_t>(param.value_i32);
    return Uat4__GetU32le(query.reply.reply_param_value) == written;
}

void _T_accept(exchange_session* aSession)
{
    query_state& query = aSession->query;
    exchange_outcome* outcome = aSession->outcome;
    _T_note(aSession, kEXCHANGE_NOTE_RX, aSession->block.bytes, aSession->block.size);
    outcome->result = query.reply.reply_result;
    outcome->value_bits = Uat4__GetU32le(query.reply.reply_param_value);
    const bool readBack = query.action.type == kUAT4_ACTION_SET_GET_PARAM;
    const bool good =
        readBack ? _T_read_back_good(aSession)
                 : UatAction4__AssertReplyMsg2(&query.reply, sizeof query.reply, &query.action);
    if (outcome->result != 0)
        _T_finish(aSession, kEXCHANGE_REFUSED);
    else
        _T_finish(aSession, good ? kEXCHANGE_ACCEPTED : kEXCHANGE_READBACK_DIFFERS);
}

void _T_end_block(exchange_session* aSession)
{
    query_state& query = aSession->query;
    const bool echo = aSession->query_active && query.sent &&
                      BlockRecord__Equals(&aSession->block, &query.batch, sizeof query.batch);
    if (echo)
    {
        _T_note(aSession, kEXCHANGE_NOTE_ECHO, nullptr, 0);
        return;
    }
    aSession->window_open = true;
    aSession->window_us = _T_now_us();
    ++aSession->intact_blocks;
    if (!aSession->query_active || query.done)
        return;
    if (!query.sent)
    {
        _T_send(aSession);
        return;
    }
    if (!query.reply_held)
        return;
    if ((query.msg1_seen && !query.msg1_matches) || (query.msg3_seen && !query.msg3_matches))
    {
        const bool named = query.msg1_seen;
        _T_note(aSession, kEXCHANGE_NOTE_FOREIGN, nullptr, 0,
                named ? query.msg1_group : query.action.param.group,
                named ? query.msg1_array : query.action.param.array);
        return;
    }
    _T_accept(aSession);
}

void _T_handle_block(void* aUserData, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                     void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    exchange_session* session = static_cast<exchange_session*>(aUserData);
    if (session->config.tap != nullptr)
        session->config.tap(session->config.hook_arg, aBlockTs, aStat, aMsgIdent, aMsgPayloadData,
                            aMsgPayloadSize);
    BlockRecord__Take(&session->block, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    query_state& query = session->query;
    switch (aStat)
    {
    case kBLOCKDECODER11_STAT_INIT:
        session->window_open = false;
        session->block_start_us = _T_now_us();
        _T_start_block(&query);
        break;
    case kBLOCKDECODER11_STAT_MSG:
        if (session->query_active && !query.done)
            _T_take_message(session, static_cast<const uint8_t*>(aMsgPayloadData), aMsgPayloadSize);
        break;
    case kBLOCKDECODER11_STAT_FINI_OK:
        _T_end_block(session);
        break;
    case kBLOCKDECODER11_STAT_FINI_FAIL:
        query.reply_held = false;
        if (session->query_active && query.sent)
            ++session->outcome->damaged_blocks;
        break;
    default:
        break;
    }
}

int _T_link(exchange_session* aSession)
{
    return Transport__GetLinkHandle(&aSession->transport);
}

// Lets a stop signal held back outside the waits arrive, so it is not reported as a time-out.
bool _T_stopped(exchange_session* aSession)
{
    volatile sig_atomic_t* stop = aSession->config.stop_signal;
    if (stop == nullptr)
        return false;
    if (*stop == 0 && aSession->config.wait_mask != nullptr)
    {
        const timespec now{0, 0};
        ppoll(nullptr, 0, &now, aSession->config.wait_mask);
    }
    if (*stop == 0)
        return false;
    aSession->outcome->signal = static_cast<int>(*stop);
    _T_finish(aSession, kEXCHANGE_STOPPED);
    return true;
}

// The rest of a frame the line did not take at once, as fast as it drains.
void _T_write_rest(exchange_session* aSession)
{
    if (Transport__TxRest(&aSession->transport, &aSession->query.tx) < 0)
        _T_finish(aSession, kEXCHANGE_WRITE_ERROR, errno);
}

// One wait of the line for aEvents, at most aWaitMs.
int _T_wait(exchange_session* aSession, short aEvents, int64_t aWaitMs, short* aRevents)
{
    const timespec wait{static_cast<time_t>(aWaitMs / 1000), (aWaitMs % 1000) * 1000000L};
    return Transport__Wait(&aSession->transport, aEvents, &wait, aSession->config.wait_mask,
                           aRevents);
}

void _T_read(exchange_session* aSession, int aReady, short aEvents)
{
    if (aReady == 0)
    {
        _T_finish(aSession, kEXCHANGE_NO_INPUT);
        return;
    }
    if ((aEvents & POLLIN) == 0)
    {
        _T_finish(aSession, kEXCHANGE_HUNG_UP);
        return;
    }
    const int received = Transport__Rx(&aSession->transport);
    if (received == 0)
        _T_finish(aSession, kEXCHANGE_LINK_LOST);
    else if (received == -1 && errno != EAGAIN && errno != EWOULDBLOCK)
        _T_finish(aSession, kEXCHANGE_READ_ERROR, errno);
    else if (!aSession->query.done && aSession->query.write_failed)
        _T_finish(aSession, kEXCHANGE_WRITE_ERROR, aSession->query.write_error);
}

// One wait: for the line to take the rest of the frame, else for input. A wait for input that
// lasts the whole time-out without any ends the query.
void _T_wait_once(exchange_session* aSession, int64_t aDeadlineUs)
{
    query_state& query = aSession->query;
    const bool writing = query.sent && query.tx.written < query.tx.size;
    const int64_t remainingMs = (aDeadlineUs - _T_now_us() + 999) / 1000;
    const int toutMs = aSession->config.tout_ms;
    const int waitMs =
        static_cast<int>(writing ? remainingMs : std::min<int64_t>(toutMs, remainingMs));
    short revents = 0;
    const int ready = _T_wait(aSession, writing ? POLLOUT : POLLIN, waitMs, &revents);
    if (ready < 0)
    {
        if (errno != EINTR)
            _T_finish(aSession, kEXCHANGE_POLL_ERROR, errno);
        return;
    }
    if (ready == 0 && (writing || waitMs < toutMs))
        return; // the deadline, not the line, ended this wait
    if (writing && (revents & POLLOUT) != 0)
        _T_write_rest(aSession);
    else if (writing)
        _T_finish(aSession, kEXCHANGE_WRITE_ERROR, EIO);
    else
        _T_read(aSession, ready, revents);
}

void _T_begin_query(exchange_session* aSession, const uat4_action_t* aQuery,
                    exchange_outcome* aOutcome)
{
    *aOutcome = exchange_outcome{};
    aOutcome->deadline_ms = std::max(kDEADLINE_TOUTS * aSession->config.tout_ms, kDEADLINE_MIN_MS);
    aSession->outcome = aOutcome;
    aSession->query = query_state{};
    query_state& query = aSession->query;
    query.action = *aQuery;
    UatAction4__EncodeQueryBatch(&query.batch, &query.action);
    aSession->query_active = true;
}

// The block that carried the previous reply ended a moment ago and nothing followed it yet.
bool _T_window_still_open(exchange_session* aSession)
{
    return aSession->window_open &&
           SendWindow__StillOpen(aSession->window_us, _T_now_us(), _T_link(aSession));
}

// After a line failure every later call ends the same way at once.
bool _T_repeat_if_broken(exchange_session* aSession)
{
    if (!aSession->broken)
        return false;
    *aSession->outcome = aSession->broken_outcome;
    aSession->outcome->sent = false;
    aSession->query_active = false;
    return true;
}

void _T_keep_if_broken(exchange_session* aSession)
{
    const exchange_status status = aSession->outcome->status;
    if (status == kEXCHANGE_LINK_LOST || status == kEXCHANGE_HUNG_UP ||
        status == kEXCHANGE_POLL_ERROR || status == kEXCHANGE_READ_ERROR ||
        status == kEXCHANGE_WRITE_ERROR)
    {
        aSession->broken = true;
        aSession->broken_outcome = *aSession->outcome;
    }
}

// One wait for input with no query under way: the whole time left, silence being expected.
void _T_await_input(exchange_session* aSession, int64_t aDeadlineUs)
{
    const int64_t remainingMs = (aDeadlineUs - _T_now_us() + 999) / 1000;
    short revents = 0;
    const int ready = _T_wait(aSession, POLLIN, remainingMs, &revents);
    if (ready < 0 && errno != EINTR)
        _T_finish(aSession, kEXCHANGE_POLL_ERROR, errno);
    else if (ready > 0)
        _T_read(aSession, ready, revents);
}

exchange_open_status _T_open_status(int aTransportCode)
{
    switch (aTransportCode)
    {
    case kCOM_OPEN_RS485_REFUSED:
        return kEXCHANGE_OPEN_RS485_REFUSED;
    case kCOM_OPEN_NO_ACCESS:
        return kEXCHANGE_OPEN_NO_ACCESS;
    case kCOM_OPEN_LOCKED:
        return kEXCHANGE_OPEN_LOCKED;
    case kCOM_OPEN_NOT_SERIAL:
        return kEXCHANGE_OPEN_NOT_SERIAL;
    default:
        return kEXCHANGE_OPEN_OPEN_FAILED;
    }
}

} // namespace

exchange_open_status Exchange__Open(exchange_session** aSession, const com_transport_args* aArgs,
                                    exchange_transport_init_fn aInit,
                                    const exchange_config* aConfig)
{
    *aSession = nullptr;
    exchange_session* session = new (std::nothrow) exchange_session{};
    if (session == nullptr)
        return kEXCHANGE_OPEN_INIT_FAILED;
    session->config = *aConfig;
    if (aInit(&session->transport, aArgs, _T_handle_block, session) != 0)
    {
        delete session;
        return kEXCHANGE_OPEN_INIT_FAILED;
    }
    const int opened = Transport__Open(&session->transport);
    if (opened != 0)
    {
        const int error = errno;
        Transport__Deinit(&session->transport);
        delete session;
        errno = error;
        return _T_open_status(opened);
    }
    *aSession = session;
    return kEXCHANGE_OPEN_DONE;
}

void Exchange__Query(exchange_session* aSession, const uat4_action_t* aQuery,
                     exchange_outcome* aOutcome)
{
    _T_begin_query(aSession, aQuery, aOutcome);
    if (_T_repeat_if_broken(aSession))
        return;
    const int64_t deadlineUs = _T_now_us() + int64_t{aOutcome->deadline_ms} * 1000;
    if (_T_window_still_open(aSession))
        _T_send(aSession);
    const query_state& query = aSession->query;
    while (!query.done && !_T_stopped(aSession))
    {
        if (query.write_failed)
            _T_finish(aSession, kEXCHANGE_WRITE_ERROR, query.write_error);
        else if (_T_now_us() >= deadlineUs)
            _T_finish(aSession, kEXCHANGE_NO_REPLY);
        else
            _T_wait_once(aSession, deadlineUs);
    }
    aSession->query_active = false;
    _T_keep_if_broken(aSession);
}

void Exchange__Listen(exchange_session* aSession, int aWaitMs, exchange_outcome* aOutcome)
{
    *aOutcome = exchange_outcome{};
    aSession->outcome = aOutcome;
    aSession->query = query_state{};
    if (_T_repeat_if_broken(aSession))
        return;
    const int64_t deadlineUs = _T_now_us() + int64_t{aWaitMs} * 1000;
    while (!aSession->query.done && !_T_stopped(aSession))
    {
        const int64_t waitMs = std::max<int64_t>(0, (deadlineUs - _T_now_us() + 999) / 1000);
        short revents = 0;
        const int ready = _T_wait(aSession, POLLIN, waitMs, &revents);
        if (ready < 0 && errno != EINTR)
            _T_finish(aSession, kEXCHANGE_POLL_ERROR, errno);
        else if (ready >= 0)
            _T_read(aSession, ready, revents);
        if (ready > 0 && !aSession->query.done)
            _T_finish(aSession, kEXCHANGE_RECEIVED);
    }
    _T_keep_if_broken(aSession);
}

const block_decoder11_t* Exchange__Decoder(exchange_session* aSession)
{
    return Transport__GetDecoder(&aSession->transport);
}

void Exchange__AwaitBlock(exchange_session* aSession, int aMaxMs, exchange_outcome* aOutcome)
{
    *aOutcome = exchange_outcome{};
    aSession->outcome = aOutcome;
    aSession->query = query_state{};
    if (_T_repeat_if_broken(aSession))
        return;
    aOutcome->deadline_ms = aMaxMs;
    const int64_t startUs = _T_now_us();
    const int64_t silentFromUs = aSession->intact_blocks > 0 ? aSession->window_us : startUs;
    const int64_t deadlineUs = startUs + static_cast<int64_t>(aMaxMs) * 1000;
    const uint64_t seen = aSession->intact_blocks;
    while (!aSession->query.done && !_T_stopped(aSession))
    {
        if (aSession->intact_blocks != seen)
        {
            const int64_t silentUs = std::max<int64_t>(aSession->block_start_us - silentFromUs, 0);
            aOutcome->silent_ms = static_cast<uint32_t>(silentUs / 1000);
            _T_finish(aSession, kEXCHANGE_ACCEPTED);
        }
        else if (_T_now_us() >= deadlineUs)
            _T_finish(aSession, kEXCHANGE_NO_REPLY);
        else
            _T_await_input(aSession, deadlineUs);
    }
    _T_keep_if_broken(aSession);
}

void Exchange__Close(exchange_session* aSession)
{
    if (aSession == nullptr)
        return;
    Transport__Close(&aSession->transport);
    Transport__Deinit(&aSession->transport);
    delete aSession;
}
