#include "ctl_link.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "ctl_error.hpp"
#include "ctl_open_failure.hpp"
#include "ctl_value.hpp"
#include "exchange_log.h"
#include "log.h"
#include "transport_serial.h"
#include "transport_serial11.h"
#include "transport_serial_types11.h"
#include "uat11_names.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

bool _T_retried(exchange_status aStatus)
{
    return aStatus == kEXCHANGE_NO_REPLY || aStatus == kEXCHANGE_NO_INPUT;
}

com_transport_args _T_transport_args(const std::string& aDevice, const serial_rs485_args& aRs485)
{
    com_transport_args args{};
    if (aDevice.empty())
        throw UsageError("no device: give --device PATH or set VESK11_CLI_ENDPOINT");
    if (!ComTransport__InitArgs(&args, aDevice.c_str(), &aRs485))
        throw UsageError("the device path is longer than " +
                         std::to_string(kCOM_ENDPOINT_PATH_MAX) + " characters");
    return args;
}

} // namespace

sensor_link::sensor_link(link_settings aSettings) : settings_(std::move(aSettings))
{
    const com_transport_args args = _T_transport_args(settings_.device, settings_.rs485);
    if (settings_.signals == nullptr)
        settings_.signals = &own_signals_.emplace();
    const exchange_config config{settings_.timeout_ms,
                                 tapThrough,
                                 ExchangeLog__Note,
                                 this,
                                 settings_.signals->waitMask(),
                                 signal_guard::stopSignal(),
                                 true};
    const exchange_open_status opened =
        Exchange__Open(&session_, &args, Transport__InitCom, &config);
    if (opened != kEXCHANGE_OPEN_DONE)
    {
        const int error = errno;
        LOG_WRITE(1, "fail: Exchange__Open <%s>", settings_.device.c_str());
        throw OpenFailure(settings_.device, settings_.rs485, opened, error);
    }
    LOG_WRITE(3, "done: Exchange__Open <%s>", settings_.device.c_str());
}

sensor_link::~sensor_link()
{
    Exchange__Close(session_);
    LOG_WRITE(4, "done: Exchange__Close");
}

exchange_outcome sensor_link::query(const uat4_action_t& aQuery, const std::string& aWhat)
{
    return query(aQuery, aWhat, true);
}

void sensor_link::tapThrough(void* aArg, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                             void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    sensor_link* self = static_cast<sensor_link*>(aArg);
    self->seen_.take(aStat);
    if (self->settings_.tap != nullptr)
        self->settings_.tap(self->settings_.tap_arg, aBlockTs, aStat, aMsgIdent, aMsgPayloadData,
                            aMsgPayloadSize);
}

exchange_outcome sensor_link::query(const uat4_action_t& aQuery, const std::string& aWhat,
                                    bool aRepeatable)
{
    exchange_outcome outcome{};
    went_out_ = false;
    damaged_ = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int tries = 1;; ++tries)
    {
        Exchange__Query(session_, &aQuery, &outcome);
        went_out_ = went_out_ || outcome.sent;
        damaged_ += outcome.damaged_blocks;
        if (outcome.status == kEXCHANGE_ACCEPTED || outcome.status == kEXCHANGE_REFUSED ||
            outcome.status == kEXCHANGE_READBACK_DIFFERS)
        {
            const auto waited = std::chrono::steady_clock::now() - start;
            if (tries > 1 || waited > std::chrono::milliseconds(settings_.timeout_ms))
                ++silences_;
            return outcome;
        }
        if (!_T_retried(outcome.status) || tries > settings_.retries ||
            (!aRepeatable && outcome.sent))
            fail(outcome, aWhat, tries);
        LOG_WRITE(2, "fail: no reply for %s (damaged blocks:%u), sending it again (%d of %d)",
                  aWhat.c_str(), outcome.damaged_blocks, tries + 1, settings_.retries + 1);
    }
}

exchange_outcome sensor_link::listen(int aWaitMs)
{
    exchange_outcome outcome{};
    Exchange__Listen(session_, aWaitMs, &outcome);
    if (outcome.status != kEXCHANGE_RECEIVED && outcome.status != kEXCHANGE_NO_INPUT &&
        outcome.status != kEXCHANGE_STOPPED)
        fail(outcome, "listening", 1);
    return outcome;
}

const block_decoder11_t* sensor_link::decoder() const
{
    return Exchange__Decoder(session_);
}

void sensor_link::fail(const exchange_outcome& aOutcome, const std::string& aWhat, int aTries) const
{
    const std::string& device = settings_.device;
    ExchangeLog__Outcome(&aOutcome, settings_.timeout_ms);
    switch (aOutcome.status)
    {
    case kEXCHANGE_NO_INPUT:
    case kEXCHANGE_NO_REPLY:
        throw UnavailableError(SilenceMessage(silenceFacts(aOutcome, aWhat, aTries)));
    case kEXCHANGE_STOPPED:
        throw InterruptedError(std::string("interrupted by ") + strsignal(aOutcome.signal) +
                               " during " + aWhat);
    case kEXCHANGE_LINK_LOST:
    case kEXCHANGE_HUNG_UP:
        throw IoError(device + " hung up during " + aWhat);
    default:
        throw IoError("I/O error on " + device + " during " + aWhat + ": " +
                      std::strerror(aOutcome.error));
    }
}

uint32_t sensor_link::read(const ctl_item& aItem)
{
    uat4_action_t action{};
    Uat11Names__InitRead(&action, aItem.group, aItem.array, aItem.value_type);
    const exchange_outcome outcome = query(action, "reading " + aItem.name);
    if (outcome.status != kEXCHANGE_ACCEPTED)
    {
        LOG_WRITE(1, "fail: %s refused (result:%u)", aItem.name.c_str(), outcome.result);
        throw RefusedError("the sensor refused to read " + aItem.name + " (result " +
                           std::to_string(outcome.result) + ")");
    }
    LOG_WRITE(4, "done: %s = %s", aItem.name.c_str(),
              ValueText(aItem.value_type, outcome.value_bits).c_str());
    return outcome.value_bits;
}

void sensor_link::write(const ctl_item& aItem, uint32_t aBits)
{
    uat4_action_t action{};
    Uat11Names__InitWrite(&action, aItem.group, aItem.array, aItem.value_type, aBits);
    const exchange_outcome outcome = query(action, "writing " + aItem.name);
    const std::string written = ValueText(aItem.value_type, aBits);
    if (outcome.status == kEXCHANGE_REFUSED)
    {
        LOG_WRITE(1, "fail: %s = %s refused (result:%u)", aItem.name.c_str(), written.c_str(),
                  outcome.result);
        throw RefusedError("the sensor refused " + aItem.name + " = " + written + " (result " +
                           std::to_string(outcome.result) + ")");
    }
    if (outcome.status != kEXCHANGE_ACCEPTED)
    {
        const std::string readBack = ValueText(aItem.value_type, outcome.value_bits);
        LOG_WRITE(1, "fail: %s read back %s, written %s", aItem.name.c_str(), readBack.c_str(),
                  written.c_str());
        throw ReadbackError(aItem.name + " read back " + readBack + " after writing " + written);
    }
    LOG_WRITE(3, "done: %s = %s", aItem.name.c_str(), written.c_str());
}

void sensor_link::command(const uat4_action_t& aCommand, const std::string& aWhat)
{
    exchange_outcome outcome{};
    try
    {
        outcome = query(aCommand, aWhat, false);
    }
    catch (const ctl_error& x)
    {
        if (!went_out_)
            throw;
        throw x.withMessage(x.message() +
                            "; it may have been carried out, so it was not sent again");
    }
    judgeCommand(outcome, aWhat);
}

bool sensor_link::wentOut() const
{
    return went_out_;
}

unsigned sensor_link::silences() const
{
    return silences_;
}

silence_facts sensor_link::silenceFacts(const exchange_outcome& aOutcome, const std::string& aWhat,
                                        int aTries) const
{
    silence_facts facts{settings_.device,
                        aWhat,
                        aTries,
                        settings_.timeout_ms,
                        aOutcome.deadline_ms,
                        aOutcome.sent,
                        aOutcome.status == kEXCHANGE_NO_INPUT,
                        damaged_,
                        seen_};
    if (decoder() != nullptr)
        facts.seen.garbage = BlockDecoder11__Discarded(decoder());
    return facts;
}

uint32_t sensor_link::awaitBlock(int aMaxMs, const std::string& aWhat)
{
    exchange_outcome outcome{};
    Exchange__AwaitBlock(session_, aMaxMs, &outcome);
    if (outcome.status == kEXCHANGE_NO_REPLY)
    {
        LOG_WRITE(1, "fail: no intact block within %d ms (%s)", aMaxMs, aWhat.c_str());
        throw UnavailableError("the sensor on " + settings_.device +
                               " sent no intact block within " + std::to_string(aMaxMs) + " ms (" +
                               aWhat + ")");
    }
    if (outcome.status != kEXCHANGE_ACCEPTED)
        fail(outcome, aWhat, 1);
    LOG_WRITE(3, "done: %s (silent:%u ms)", aWhat.c_str(), outcome.silent_ms);
    return outcome.silent_ms;
}

void sensor_link::judgeCommand(const exchange_outcome& aOutcome, const std::string& aWhat) const
{
    if (aOutcome.status != kEXCHANGE_ACCEPTED)
    {
        LOG_WRITE(1, "fail: %s refused (result:%u)", aWhat.c_str(), aOutcome.result);
        throw RefusedError("the sensor refused " + aWhat + " (result " +
                           std::to_string(aOutcome.result) + ")");
    }
    LOG_WRITE(3, "done: %s", aWhat.c_str());
}

void sensor_link::resume()
{
    *signal_guard::stopSignal() = 0;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
