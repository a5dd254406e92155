// The sensor's thread: streams status blocks in fixed slots, decodes what arrives, answers
// queries in a later slot, reboots, and injects the faults asked for.
#ifndef VESK11_SIM_SENSOR_LOOP_HPP
#define VESK11_SIM_SENSOR_LOOP_HPP

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "param_model.hpp"
#include "query_reader.hpp"
#include "sim_frames.hpp"
#include "sim_line.hpp"
#include "sim_options.hpp"
#include "sim_state.hpp"
#include "trace_sink.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

class sensor_loop
{
  public:
    sensor_loop(const sim_options& aOptions, sim_line& aLine, sim_state& aState);

    bool init();
    // Runs until aWakeFd becomes readable.
    void run(int aWakeFd);

  private:
    typedef std::chrono::steady_clock steady_t;

    struct pending_t
    {
        sim_query query;
        uint64_t due_slot; // first slot in which it is carried out and answered
    };

    int poll_timeout_ms(steady_t::time_point aNow) const;
    void on_time(steady_t::time_point aNow);
    void on_input();
    void on_query(const sim_query& aQuery);
    void on_slot();
    bool answer();
    param_outcome_t carry_out(const sim_query& aQuery);
    bool fallen_silent() const;
    void send_reply(const sim_query& aQuery, const param_outcome_t& aOutcome, bool aDrop);
    void send_block(const bytes_t& aBody, bool aBadCrc);
    void send_noise();
    void start_reboot();
    void end_reboot();
    void lose_line(const char* aReason);
    void trace(const std::string& aLine);

    const sim_options& options_;
    sim_line& line_;
    sim_state& state_;
    query_reader reader_;
    trace_sink trace_;
    std::optional<pending_t> pending_; // a real sensor holds one query at a time
    steady_t::time_point next_slot_;
    steady_t::time_point reboot_end_;
    bool rebooting_ = false;
    bool queried_ = false; // a query has arrived: no more stray replies
    uint64_t slot_ = 0;
    uint64_t blocks_tried_ = 0;
    uint32_t cycle_ = 0;
    uint32_t replies_ = 0;
    uint32_t reboots_ = 0;
    uint32_t replaced_ = 0; // queries replaced before their slot came
    uint32_t sets_ = 0;     // set queries carried out or refused, for --refuse-set
    uint32_t answers_ = 0;  // replies sent or dropped, for --drop-reply
    uint64_t last_block_end_us_ = 0;
    std::minstd_rand noise_;
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
