// One link session with the sensor for a whole command: opened once, queries one after another
// (each sent again when no reply comes), the line's earlier settings put back at the end. Stop
// signals are caught for the session's lifetime and end the query under way.
#ifndef VESK11_CTL_CTL_LINK_HPP
#define VESK11_CTL_CTL_LINK_HPP

#include <cstdint>
#include <optional>
#include <string>

#include "ctl_names.hpp"
#include "ctl_silence.hpp"
#include "exchange.h"
#include "signal_guard.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

struct link_settings
{
    std::string device;
    int timeout_ms = 0;
    int retries = 0;                    // sendings after the first, for a query with no reply
    transport_handler_fn tap = nullptr; // sees every decoder event; may be null
    void* tap_arg = nullptr;
    // The run's guard, shared by links on several threads; null: the link keeps its own.
    const signal_guard* signals = nullptr;
    serial_rs485_args rs485{};
};

class sensor_link
{
  public:
    // Opens the device (in the RS-485 mode asked for); throws ctl_error: usage (no device, path
    // too long) or OpenFailure's (missing, denied, locked, not a serial line, unavailable).
    explicit sensor_link(link_settings aSettings);
    // Puts the line's settings back and closes it, on every path.
    ~sensor_link();
    sensor_link(const sensor_link&) = delete;
    sensor_link& operator=(const sensor_link&) = delete;

    // Runs aQuery, sending it again (up to the retries) while no reply comes. Returns the outcome
    // of a reply (accepted, refused, read-back differs); throws ctl_error for everything else:
    // unavailable (silent line, no reply), I/O error, interrupted. aWhat names it in messages.
    exchange_outcome query(const uat4_action_t& aQuery, const std::string& aWhat);

    // Waits up to aWaitMs for input without sending and decodes it (the tap sees it). Returns
    // the outcome: received, no input, or stopped; throws ctl_error for a failure of the line.
    exchange_outcome listen(int aWaitMs);
    // The link's block decoder, for the tap (header of a block, garbage count).
    const block_decoder11_t* decoder() const;

    // The value of aItem; throws ctl_error (refused) unless the sensor answered with result 0.
    uint32_t read(const ctl_item& aItem);
    // Writes aBits to aItem with read-back; throws ctl_error (refused) unless the sensor took it
    // and the value read back has the very bits written.
    void write(const ctl_item& aItem, uint32_t aBits);
    // Carries out a command query; throws ctl_error (refused) on a non-zero result. A command
    // must not take effect twice (a second reboot would restart the sensor as it comes back):
    // it is sent again only while it never went out, and a failure after it went out says that
    // it may have been carried out.
    void command(const uat4_action_t& aCommand, const std::string& aWhat);
    // Whether the last query (read, write or command) went out on any of its sendings: when it
    // failed, the sensor may have carried it out all the same.
    bool wentOut() const;
    // How many queries so far were answered only after a silence: sent again, or answered
    // later than the time-out. A sensor that restarted (and reloaded its configuration) was
    // silent, so values read before a silence may no longer hold.
    unsigned silences() const;
    // Sends nothing and waits up to aMaxMs for the sensor's next intact block; returns how long
    // the line was silent before it, in ms. Throws ctl_error: unavailable when none came, and as
    // query does for a failure of the line or a stop signal.
    uint32_t awaitBlock(int aMaxMs, const std::string& aWhat);

    // Forgets a stop signal caught so far, so that a rollback can still run; a further signal
    // stops it again.
    static void resume();

  private:
    static void tapThrough(void* aArg, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                           void* aMsgPayloadData, uint8_t aMsgPayloadSize);
    // aRepeatable: sent again after it went out (reads, read-back writes); else only while it
    // never went out.
    exchange_outcome query(const uat4_action_t& aQuery, const std::string& aWhat, bool aRepeatable);
    void judgeCommand(const exchange_outcome& aOutcome, const std::string& aWhat) const;
    [[noreturn]] void fail(const exchange_outcome& aOutcome, const std::string& aWhat,
                           int aTries) const;
    silence_facts silenceFacts(const exchange_outcome& aOutcome, const std::string& aWhat,
                               int aTries) const;

    link_settings settings_;
    std::optional<signal_guard> own_signals_;
    exchange_session* session_ = nullptr;
    bool went_out_ = false;
    unsigned silences_ = 0;
    line_evidence seen_;   // what the line carried since the link opened
    uint32_t damaged_ = 0; // damaged blocks after the sendings of the query under way
};

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
