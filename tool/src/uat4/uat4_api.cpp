// The sensor API: each operation one query, carried out by the exchange engine over a link
// opened for it; the reply is printed on standard output and judged.
#include "uat4/api.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "daemon_lines.hpp"
#include "exceptions.hpp"
#include "exchange.h"
#include "hex_format.hpp"
#include "log.h"
#include "signal_guard.hpp"
#include "tout_text.hpp"
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

// Each byte takes two digits and a separator (the last one the terminating NUL).
constexpr size_t kHEX_TEXT_SIZE = 3 * kFRAME485_MAX_SIZE;

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

void _T_log_hex(const char* aFunc, int aLine, const char* aLabel, const uint8_t* aBytes,
                size_t aSize)
{
    char text[kHEX_TEXT_SIZE];
    TextFormatHex(aBytes, std::min(aSize, kFRAME485_MAX_SIZE), text);
    LogWrite(__FILE__, static_cast<unsigned long long>(aLine), aFunc, 4, "data: %s <%s>", aLabel,
             text);
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
    bool enter(const std::string& aSensorEndpoint, const exchange_config& aConfig);
    void leave();

    static void handleNote(void* aUserData, const exchange_note* aNote);
    static void sendBatch(const exchange_note& aNote);
    static void acceptReply(const exchange_note& aNote);
    static void endBlock(const exchange_note& aNote);
    static void printReply(const exchange_outcome& aOutcome);

    std::string sensor_endpoint_;
    int32_t tout_ms_;
    transport_init_fn init_transport_;
    exchange_session* session_ = nullptr;
    uat4_action query_{};
    // Per operation: made anew by execAction.
    bool stop_req_ = false;
    data_state_t state_ = kDATA_STATE_INIT;
    bool reply_ok_ = false;
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
    stop_req_ = false;
    state_ = kDATA_STATE_INIT;
    reply_ok_ = false;
    exec(sensor_endpoint_, tout_ms_);
    if (!reply_ok_)
        throw internal_error();
}

bool api::enter(const std::string& aSensorEndpoint, const exchange_config& aConfig)
{
    com_transport_args args{};
    if (aSensorEndpoint.size() >= sizeof args.endpoint_path)
    {
        LOG_WRITE(1, "fail: endpoint-path is too long");
        return false;
    }
    std::memcpy(args.endpoint_path, aSensorEndpoint.data(), aSensorEndpoint.size());
    switch (Exchange__Open(&session_, &args, init_transport_, &aConfig))
    {
    case kEXCHANGE_OPEN_INIT_FAILED:
        LOG_WRITE(1, "fail: Transport__InitCom");
        return false;
    case kEXCHANGE_OPEN_OPEN_FAILED:
    case kEXCHANGE_OPEN_NO_ACCESS:
    case kEXCHANGE_OPEN_LOCKED:
    case kEXCHANGE_OPEN_NOT_SERIAL:
    case kEXCHANGE_OPEN_RS485_REFUSED: // never asked for here
    {
        LOG_WRITE(1, "fail: Transport__Open");
        const std::string held = DaemonHoldingHint(aSensorEndpoint);
        if (!held.empty())
            LOG_WRITE(1, "fail: %s %s", aSensorEndpoint.c_str(), held.c_str());
        return false;
    }
    case kEXCHANGE_OPEN_DONE:
        break;
    }
    LOG_WRITE(3, "done: Transport__Open <%s>", aSensorEndpoint.c_str());
    return true;
}

// Puts the line settings found at open back and releases the link.
void api::leave()
{
    Exchange__Close(session_);
    session_ = nullptr;
}

// The signal guard covers the whole time the line is in the tool's settings.
void api::exec(const std::string& anEdnpoint, int aToutMs)
{
    const signal_guard signals;
    const exchange_config config{aToutMs,           handleDataBlock,
                                 handleNote,        this,
                                 signals.waitMask(), signal_guard::stopSignal()};
    if (!enter(anEdnpoint, config))
    {
        LOG_WRITE(1, "fail");
        leave();
        return;
    }
    exchange_outcome outcome{};
    Exchange__Query(session_, &query_, &outcome);
    switch (outcome.status)
    {
    case kEXCHANGE_ACCEPTED:
    case kEXCHANGE_REFUSED:
    case kEXCHANGE_READBACK_DIFFERS:
        printReply(outcome);
        reply_ok_ = outcome.status == kEXCHANGE_ACCEPTED;
        stop_req_ = true;
        break;
    case kEXCHANGE_NO_INPUT:
    case kEXCHANGE_HUNG_UP:
        puts("fail: poll");
        LOG_WRITE(1, "fail: no input within %d ms", tout_ms_);
        handleDataEvent(kDATA_EVENT_DATA_ABSENT);
        break;
    case kEXCHANGE_NO_REPLY:
        LOG_WRITE(1, "fail: no reply within %d ms", outcome.deadline_ms);
        handleDataEvent(kDATA_EVENT_DATA_ABSENT);
        break;
    case kEXCHANGE_LINK_LOST:
        LOG_WRITE(1, "fail: read data <connection lost>");
        handleDataEvent(kDATA_EVENT_DATA_ABSENT);
        break;
    case kEXCHANGE_POLL_ERROR:
        LOG_WRITE(1, "Error on poll(): %s", strerror(outcome.error));
        break;
    case kEXCHANGE_READ_ERROR:
        LOG_WRITE(1, "fail: read data <%s>", strerror(outcome.error));
        break;
    case kEXCHANGE_WRITE_ERROR:
        LOG_WRITE(1, "fail: send query <%s>", strerror(outcome.error));
        break;
    case kEXCHANGE_STOPPED:
        LOG_WRITE(1, "fail: interrupted by signal %d", outcome.signal);
        break;
    case kEXCHANGE_RECEIVED: // only a listen ends so
        break;
    }
    handleDataEvent(kDATA_EVENT_STOP_REQUEST);
    leave();
}

void api::printReply(const exchange_outcome& aOutcome)
{
    const unsigned result = aOutcome.result;
    const int32_t valueInt = static_cast<int32_t>(aOutcome.value_bits);
    const double valueFloat = static_cast<double>(Uat4__BitsToF32(aOutcome.value_bits));
    printf("param_result     %u (0x%x)\n", result, result);
    printf("param_data_int   %d (0x%x)\n", valueInt, aOutcome.value_bits);
    printf("param_data_float %f (%a)\n", valueFloat, valueFloat);
}

void api::handleDataBlock(void* /*aUserData*/, uint64_t /*aBlockTs*/, uint8_t aStat,
                          uint16_t /*aMsgIdent*/, void* /*aMsgPayloadData*/,
                          uint8_t /*aMsgPayloadSize*/)
{
    if (aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        LOG_WRITE(4, "data: kBLOCKDECODER11_STAT_FINI_FAIL");
    else if (aStat < kBLOCKDECODER11_STAT_INIT || aStat > kBLOCKDECODER11_STAT_FINI_FAIL)
        LOG_WRITE(4, "block-stat is not supported");
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

void api::handleNote(void* /*aUserData*/, const exchange_note* aNote)
{
    switch (aNote->kind)
    {
    case kEXCHANGE_NOTE_TX:
        sendBatch(*aNote);
        break;
    case kEXCHANGE_NOTE_RX:
        acceptReply(*aNote);
        break;
    case kEXCHANGE_NOTE_ECHO:
    case kEXCHANGE_NOTE_FOREIGN:
        endBlock(*aNote);
        break;
    }
}

void api::sendBatch(const exchange_note& aNote)
{
    _T_log_hex(__func__, __LINE__, "tx", aNote.bytes, aNote.size);
}

void api::acceptReply(const exchange_note& aNote)
{
    _T_log_hex(__func__, __LINE__, "rx", aNote.bytes, aNote.size);
}

// A half-duplex adapter hands the tool's own frame back; with group 17017 (0x4279) its messages
// even look like replies. A late reply to an earlier query names another parameter.
void api::endBlock(const exchange_note& aNote)
{
    if (aNote.kind == kEXCHANGE_NOTE_ECHO)
        LOG_WRITE(4, "data: echo of the query ignored");
    else
        LOG_WRITE(4, "data: reply for another parameter ignored (group:%u, array:%u)",
                  static_cast<unsigned>(aNote.group), static_cast<unsigned>(aNote.array));
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
    if (!TextDecodeTout(toutText, &toutMs))
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
