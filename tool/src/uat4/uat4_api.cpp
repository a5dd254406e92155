// The sensor API and its request/reply exchange: one query batch sent after the first intact
// block from the sensor, then the wait for the reply that answers it.
#include "uat4/api.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include <poll.h>
#include <pthread.h>
#include <sys/uio.h>

#include "exceptions.hpp"
#include "log.h"
#include "transport_serial_types11.h"
#include "uat11.h"
#include "uat4/api_seam.hpp"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Cli
{
namespace Uat4
{

namespace
{

constexpr unsigned long kTOUT_MAX_MS = 60000;
// The whole exchange may take this many single waits, but never less than kDEADLINE_MIN_MS.
constexpr int kDEADLINE_TOUTS = 10;
constexpr int kDEADLINE_MIN_MS = 1000;
// Body bytes of one received block kept for the rx record; longer bodies are logged cut short.
constexpr size_t kBLOCK_LOG_SIZE = 256;
constexpr size_t kFRAME_SIZE = kHEAD485_SIZE + kUAT4_BATCH_SIZE + kTRAILER485_SIZE;
// Each byte takes two digits and a separator (the last one the terminating NUL).
constexpr size_t kHEX_TEXT_SIZE = 3 * kBLOCK_LOG_SIZE;
constexpr uint8_t kREPLY_UDT_INDEX_LO = kUAT4_REPLY_UDT_INDEX & 0xFF;
constexpr uint8_t kREPLY_UDT_INDEX_HI = kUAT4_REPLY_UDT_INDEX >> 8;

enum data_state_t
{
    kDATA_STATE_INIT = 0,
    kDATA_STATE_STREAM_ABSENT = 1,
    kDATA_STATE_STREAM_PRESENT = 2,
    kDATA_STATE_STREAM_INVALID = 3,
    kDATA_STATE_STREAM_VALID = 4,
    kDATA_STATE_ON_EXIT = 5
};

enum data_event_t
{
    kDATA_EVENT_DATA_ABSENT = 0,
    kDATA_EVENT_STOP_REQUEST = 4
};

// The signals that end a run: the number of the last one caught while an exchange runs.
const int kSTOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t caughtSignal = 0;

void _T_catch_signal(int aSignal)
{
    caughtSignal = aSignal;
}

// While alive, the stop signals only note themselves in caughtSignal, and they are held back
// except during the wait, which they therefore always interrupt, wherever the exchange was when
// they came. A signal ignored on entry (nohup) stays ignored.
class signal_guard
{
  public:
    signal_guard()
    {
        caughtSignal = 0;
        struct sigaction catcher = {};
        catcher.sa_handler = _T_catch_signal; // no SA_RESTART: the wait must end
        sigemptyset(&catcher.sa_mask);
        sigset_t held;
        sigemptyset(&held);
        for (size_t i = 0; i < kSIGNAL_COUNT; ++i)
        {
            sigaction(kSTOP_SIGNALS[i], nullptr, &old_actions_[i]);
            caught_[i] = old_actions_[i].sa_handler != SIG_IGN;
            if (caught_[i])
            {
                sigaction(kSTOP_SIGNALS[i], &catcher, nullptr);
                sigaddset(&held, kSTOP_SIGNALS[i]);
            }
        }
        pthread_sigmask(SIG_BLOCK, &held, &wait_mask_);
    }
    // A signal held back until now reaches the catcher before the old handlers return.
    ~signal_guard()
    {
        pthread_sigmask(SIG_SETMASK, &wait_mask_, nullptr);
        for (size_t i = 0; i < kSIGNAL_COUNT; ++i)
        {
            if (caught_[i])
                sigaction(kSTOP_SIGNALS[i], &old_actions_[i], nullptr);
        }
    }
    signal_guard(const signal_guard&) = delete;
    signal_guard& operator=(const signal_guard&) = delete;

    // The signal mask of the caller: the one to wait with.
    const sigset_t* waitMask() const { return &wait_mask_; }

  private:
    static constexpr size_t kSIGNAL_COUNT = sizeof kSTOP_SIGNALS / sizeof kSTOP_SIGNALS[0];
    struct sigaction old_actions_[kSIGNAL_COUNT] = {};
    bool caught_[kSIGNAL_COUNT] = {};
    sigset_t wait_mask_{};
};

// The time-out text as the C library's unsigned conversion reads it (blanks, a sign, digits up to
// the first other character; none: 0), but judged by the number written, not by what the
// conversion wraps it to: "-1" (the largest number), "-18446744073709551615" (1) and
// "4294967496" (200 once cut to 32 bits) are all out of range.
bool _T_decode_tout(const char* aText, int* aToutMs)
{
    const char* sign = aText;
    while (std::isspace(static_cast<unsigned char>(*sign)))
        ++sign;
    const unsigned long value = strtoul(aText, nullptr, 10);
    if (value > kTOUT_MAX_MS || (*sign == '-' && value != 0))
        return false;
    *aToutMs = static_cast<int>(value);
    return true;
}

int64_t _T_now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// "7e 01 0c": lower-case digits, one blank between bytes; aText holds at least 3 * aSize bytes.
void _T_format_hex(const uint8_t* aData, size_t aSize, char* aText)
{
    static const char kDIGITS[] = "0123456789abcdef";
    char* out = aText;
    for (size_t i = 0; i < aSize; ++i)
    {
        if (i != 0)
            *out++ = ' ';
        *out++ = kDIGITS[aData[i] >> 4];
        *out++ = kDIGITS[aData[i] & 0x0F];
    }
    *out = '\0';
}

class api : public api_like
{
  public:
    api(std::string aSensorEndpoint, int aToutMs, transport_init_fn aInitTransport)
        : sensor_endpoint_(std::move(aSensorEndpoint)), tout_ms_(aToutMs),
          init_transport_(aInitTransport)
    {
    }
    ~api() override = default;
    api(const api&) = delete;
    api& operator=(const api&) = delete;

    void execCommand(uint16_t aGroup, uint16_t aParamArray, uint32_t aParamValue) override;
    void getStatusI32(uint16_t aGroup, uint16_t aParamArray) override;
    void getStatusF32(uint16_t aGroup, uint16_t aParamArray) override;
    void getParamI32(uint16_t aGroup, uint16_t aParamArray) override;
    void getParamF32(uint16_t aGroup, uint16_t aParamArray) override;
    void setParamI32(uint16_t aGroup, uint16_t aParamArray, int32_t aParamValue) override;
    void setParamF32(uint16_t aGroup, uint16_t aParamArray, float aParamValue) override;
    void reboot() override;
    void resetRamConf(uint32_t aParamGroup) override;
    void resetFlashConf(uint32_t aParamGroup) override;
    void updateFlashConf(uint32_t aParamGroup) override;

    static void handleDataBlock(void* aUserData, uint64_t aBlockTs, uint8_t aStat,
                                uint16_t aMsgIdent, void* aMsgPayloadData, uint8_t aMsgPayloadSize);
    void handleDataEvent(data_event_t aDataEvent);

  private:
    void execAction(const uat4_action& aQuery);
    void exec(const std::string& anEdnpoint, int aToutMs);
    bool enter(const std::string& aSensorEndpoint);
    void leave();

    void dropBlock();
    void takeMessage(uint16_t aMsgIdent, const uint8_t* aMsgData, uint8_t aMsgSize);
    void endBlock();
    bool isEcho() const;
    void sendBatch();
    void acceptReply();

    std::string sensor_endpoint_;
    int32_t tout_ms_;
    transport_init_fn init_transport_;
    transport_t transport_{};
    bool stop_req_ = false;
    data_state_t state_ = kDATA_STATE_INIT;
    uat4_action query_{};
    uat4_query_batch batch_{};
    iovec batch_iovec_{};
    bool batch_sent_ = false;
    // The reply of the current block, held until its body checksum is known.
    uat4_reply_batch__reply_msg2__data reply_{};
    bool reply_held_ = false;
    bool reply_accepted_ = false;
    bool reply_ok_ = false;
    // The current block's messages (ident, size, data) as the decoder delivered them.
    uint8_t block_bytes_[kBLOCK_LOG_SIZE] = {};
    size_t block_size_ = 0;
};

void api::execCommand(uint16_t aGroup, uint16_t aParamArray, uint32_t aParamValue)
{
    uat4_action action{};
    UatAction4__InitCommandU32(&action, aGroup, aParamArray, aParamValue);
    execAction(action);
}

void api::getStatusI32(uint16_t aGroup, uint16_t aParamArray)
{
    uat4_action action{};
    UatAction4__InitGetStatusI32(&action, aGroup, aParamArray);
    execAction(action);
}

void api::getStatusF32(uint16_t aGroup, uint16_t aParamArray)
{
    uat4_action action{};
    UatAction4__InitGetStatusF32(&action, aGroup, aParamArray);
    execAction(action);
}

void api::getParamI32(uint16_t aGroup, uint16_t aParamArray)
{
    uat4_action action{};
    UatAction4__InitGetParamI32(&action, aGroup, aParamArray, 0, 0);
    execAction(action);
}

void api::getParamF32(uint16_t aGroup, uint16_t aParamArray)
{
    uat4_action action{};
    UatAction4__InitGetParamF32(&action, aGroup, aParamArray, 0, 0);
    execAction(action);
}

void api::setParamI32(uint16_t aGroup, uint16_t aParamArray, int32_t aParamValue)
{
    uat4_action action{};
    UatAction4__InitSetGetParamI32(&action, aGroup, aParamArray, aParamValue, 0, 0);
    execAction(action);
}

void api::setParamF32(uint16_t aGroup, uint16_t aParamArray, float aParamValue)
{
    uat4_action action{};
    UatAction4__InitSetGetParamF32(&action, aGroup, aParamArray, aParamValue, 0, 0);
    execAction(action);
}

void api::reboot()
{
    uat4_action action{};
    Uat11__InitCommandReboot(&action);
    execAction(action);
}

void api::resetRamConf(uint32_t aParamGroup)
{
    uat4_action action{};
    Uat11__InitCommandResetRamConf(&action, aParamGroup);
    execAction(action);
}

void api::resetFlashConf(uint32_t aParamGroup)
{
    uat4_action action{};
    Uat11__InitCommandResetFlashConf(&action, aParamGroup);
    execAction(action);
}

void api::updateFlashConf(uint32_t aParamGroup)
{
    uat4_action action{};
    Uat11__InitCommandUpdateFlashConf(&action, aParamGroup);
    execAction(action);
}

// Every way the exchange ends without an intact reply with result 0 has been logged by then.
void api::execAction(const uat4_action& aQuery)
{
    query_ = aQuery;
    UatAction4__EncodeQueryBatch(&batch_, &query_);
    exec(sensor_endpoint_, tout_ms_);
    if (!reply_ok_)
        throw internal_error();
}

bool api::enter(const std::string& aSensorEndpoint)
{
    com_transport_args args{};
    if (aSensorEndpoint.size() >= sizeof args.endpoint_path)
    {
        LOG_WRITE(1, "fail: endpoint-path is too long");
        return false;
    }
    std::memcpy(args.endpoint_path, aSensorEndpoint.data(), aSensorEndpoint.size());
    if (init_transport_(&transport_, &args, handleDataBlock, this) != 0)
    {
        LOG_WRITE(1, "fail: Transport__InitCom");
        return false;
    }
    if (Transport__Open(&transport_) != 0)
    {
        LOG_WRITE(1, "fail: Transport__Open");
        Transport__Deinit(&transport_);
        return false;
    }
    LOG_WRITE(3, "done: Transport__Open <%s>", aSensorEndpoint.c_str());
    return true;
}

// Puts the line settings found at open back and releases the transport.
void api::leave()
{
    if (transport_.self != nullptr)
        Transport__Close(&transport_);
    Transport__Deinit(&transport_);
}

// Each wait is bounded by the time-out, the whole exchange by the deadline, which counts from
// the moment the link opened; a stop signal ends it at once.
void api::exec(const std::string& anEdnpoint, int aToutMs)
{
    const signal_guard signals;
    if (!enter(anEdnpoint))
    {
        LOG_WRITE(1, "fail");
        leave();
        return;
    }
    const int deadlineMs = std::max(kDEADLINE_TOUTS * aToutMs, kDEADLINE_MIN_MS);
    const int64_t deadline = _T_now_ms() + deadlineMs;
    pollfd link{Transport__GetLinkHandle(&transport_), POLLIN, 0};
    while (!stop_req_)
    {
        if (caughtSignal != 0)
        {
            LOG_WRITE(1, "fail: interrupted by signal %d", static_cast<int>(caughtSignal));
            break;
        }
        const int64_t remainingMs = deadline - _T_now_ms();
        if (remainingMs <= 0)
        {
            LOG_WRITE(1, "fail: no reply within %d ms", deadlineMs);
            handleDataEvent(kDATA_EVENT_DATA_ABSENT);
            continue;
        }
        const int waitMs = static_cast<int>(std::min<int64_t>(aToutMs, remainingMs));
        const timespec wait{waitMs / 1000, (waitMs % 1000) * 1000000L};
        const int ready = ppoll(&link, 1, &wait, signals.waitMask());
        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            LOG_WRITE(1, "Error on poll(): %s", strerror(errno));
            break;
        }
        if (ready == 0 && waitMs < aToutMs)
            continue; // the deadline, not the line, ended this wait
        if (ready == 0 || (link.revents & POLLIN) == 0)
        {
            puts("fail: poll");
            handleDataEvent(kDATA_EVENT_DATA_ABSENT);
            continue;
        }
        const int received = Transport__Rx(&transport_);
        if (received == 0)
        {
            LOG_WRITE(1, "fail: read data <connection lost>");
            handleDataEvent(kDATA_EVENT_DATA_ABSENT);
        }
        else if (received == -1)
        {
            LOG_WRITE(1, "fail: read data <%s>", strerror(errno));
            break;
        }
    }
    handleDataEvent(kDATA_EVENT_STOP_REQUEST);
    leave();
}

void api::handleDataBlock(void* aUserData, uint64_t /*aBlockTs*/, uint8_t aStat, uint16_t aMsgIdent,
                          void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    if (aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        LOG_WRITE(4, "data: kBLOCKDECODER11_STAT_FINI_FAIL");
    api* self = static_cast<api*>(aUserData);
    switch (aStat)
    {
    case kBLOCKDECODER11_STAT_INIT:
    case kBLOCKDECODER11_STAT_FINI_FAIL:
        self->dropBlock();
        break;
    case kBLOCKDECODER11_STAT_MSG:
        self->takeMessage(aMsgIdent, static_cast<const uint8_t*>(aMsgPayloadData), aMsgPayloadSize);
        break;
    case kBLOCKDECODER11_STAT_FINI_OK:
        self->endBlock();
        break;
    default:
        LOG_WRITE(4, "block-stat is not supported");
        break;
    }
}

void api::handleDataEvent(data_event_t aDataEvent)
{
    const data_state_t lastState = state_;
    switch (aDataEvent)
    {
    case kDATA_EVENT_DATA_ABSENT:
        state_ = kDATA_STATE_STREAM_ABSENT;
        break;
    case kDATA_EVENT_STOP_REQUEST:
        state_ = kDATA_STATE_ON_EXIT;
        break;
    }
    if (state_ != lastState)
    {
        if (state_ == kDATA_STATE_STREAM_ABSENT || state_ == kDATA_STATE_STREAM_INVALID)
            LOG_WRITE(3, "%s", "FAIL");
        else if (state_ == kDATA_STATE_STREAM_VALID)
            LOG_WRITE(3, "%s", "OK");
    }
    if (state_ == kDATA_STATE_STREAM_ABSENT || state_ == kDATA_STATE_STREAM_INVALID ||
        state_ == kDATA_STATE_STREAM_VALID)
        stop_req_ = true;
}

// A new block begins, or the current one failed its checksum: what it delivered is void.
void api::dropBlock()
{
    reply_held_ = false;
    block_size_ = 0;
}

// Only a whole reply message after the batch went out can answer it; the first one of a block
// is held until the block's checksum is known.
void api::takeMessage(uint16_t aMsgIdent, const uint8_t* aMsgData, uint8_t aMsgSize)
{
    const uint8_t head[] = {static_cast<uint8_t>(aMsgIdent >> 8),
                            static_cast<uint8_t>(aMsgIdent & 0xFF), aMsgSize};
    const size_t headKept = std::min(sizeof head, kBLOCK_LOG_SIZE - block_size_);
    std::memcpy(block_bytes_ + block_size_, head, headKept);
    block_size_ += headKept;
    const size_t dataKept = std::min<size_t>(aMsgSize, kBLOCK_LOG_SIZE - block_size_);
    std::memcpy(block_bytes_ + block_size_, aMsgData, dataKept);
    block_size_ += dataKept;

    if (!batch_sent_ || reply_held_ || reply_accepted_ || aMsgSize != sizeof reply_ ||
        aMsgData[0] != kREPLY_UDT_INDEX_LO || aMsgData[1] != kREPLY_UDT_INDEX_HI)
        return;
    std::memcpy(&reply_, aMsgData, sizeof reply_);
    reply_held_ = true;
}

void api::endBlock()
{
    if (!batch_sent_)
        sendBatch();
    else if (isEcho())
        LOG_WRITE(4, "data: echo of the query ignored");
    else if (reply_held_)
        acceptReply();
}

// A half-duplex adapter hands the tool's own frame back; with group 17017 (0x4279) its messages
// even look like replies. The decoder delivered every message of such a block, and nothing else.
bool api::isEcho() const
{
    return block_size_ == sizeof batch_ && std::memcmp(block_bytes_, &batch_, sizeof batch_) == 0;
}

void api::sendBatch()
{
    batch_iovec_.iov_base = &batch_;
    batch_iovec_.iov_len = sizeof batch_;
    Transport__Tx(&transport_, &batch_iovec_, 1);
    batch_sent_ = true;

    uint8_t frame[kFRAME_SIZE];
    vesk11_head485 head{};
    Block485__EncodeHead(&head, sizeof batch_);
    std::memcpy(frame, &head, sizeof head);
    std::memcpy(frame + sizeof head, &batch_, sizeof batch_);
    Block485__EncodeTrailer(frame + sizeof head + sizeof batch_, &batch_, sizeof batch_);
    char text[kHEX_TEXT_SIZE];
    _T_format_hex(frame, sizeof frame, text);
    LOG_WRITE(4, "data: tx <%s>", text);
}

void api::acceptReply()
{
    reply_held_ = false;
    reply_accepted_ = true;
    stop_req_ = true;
    char text[kHEX_TEXT_SIZE];
    _T_format_hex(block_bytes_, block_size_, text);
    LOG_WRITE(4, "data: rx <%s>", text);

    const unsigned result = reply_.reply_result;
    const uint32_t valueBits = Uat4__GetU32le(reply_.reply_param_value);
    const int32_t valueInt = static_cast<int32_t>(valueBits);
    const double valueFloat = static_cast<double>(Uat4__BitsToF32(valueBits));
    printf("param_result     %u (0x%x)\n", result, result);
    printf("param_data_int   %d (0x%x)\n", valueInt, valueBits);
    printf("param_data_float %f (%a)\n", valueFloat, valueFloat);
    reply_ok_ = UatAction4__AssertReplyMsg2(&reply_, sizeof reply_, &query_);
}

} // namespace

api_sp_t Api__Create()
{
    LOG_WRITE(5, "exec");
    const char* endpoint = getenv("VESK11_CLI_ENDPOINT");
    if (endpoint == nullptr)
    {
        LOG_WRITE(1, "fail: VESK11_CLI_ENDPOINT (value:null)");
        throw params_error();
    }
    const char* toutText = getenv("VESK11_CLI_TOUT");
    if (toutText == nullptr)
    {
        LOG_WRITE(1, "fail: VESK11_CLI_TOUT (value:null)");
        throw params_error();
    }
    int toutMs = 0;
    if (!_T_decode_tout(toutText, &toutMs))
    {
        LOG_WRITE(1, "fail: VESK11_CLI_TOUT (value:%s)", toutText);
        throw params_error();
    }
    api_sp_t uat4 = std::make_shared<api>(endpoint, toutMs, Transport__InitCom);
    LOG_WRITE(4, "done");
    return uat4;
}

api_sp_t Api__CreateOver(std::string aSensorEndpoint, int aToutMs, transport_init_fn aInitTransport)
{
    return std::make_shared<api>(std::move(aSensorEndpoint), aToutMs, aInitTransport);
}

} // namespace Uat4
} // namespace Vesk11Cli
} // namespace Support
} // namespace Orvo
