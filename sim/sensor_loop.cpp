#include "sensor_loop.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "timeu64.h"
#include "transport_serial_types11.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

constexpr size_t kREAD_SIZE = 256;
constexpr unsigned kNOISE_MAX = 16;

} // namespace

sensor_loop::sensor_loop(const sim_options& aOptions, sim_line& aLine, sim_state& aState)
    : options_(aOptions), line_(aLine), state_(aState), noise_(std::random_device{}())
{
}

bool sensor_loop::init()
{
    if (options_.trace)
        trace_.open(STDOUT_FILENO);
    return reader_.init();
}

void sensor_loop::run(int aWakeFd)
{
    line_.pace(options_.baud, aWakeFd);
    next_slot_ = steady_t::now() + std::chrono::milliseconds(options_.period_ms);
    for (;;)
    {
        pollfd fds[2] = {{aWakeFd, POLLIN, 0}, {line_.fd(), POLLIN, 0}};
        int ready = poll(fds, 2, poll_timeout_ms(steady_t::now()));
        if (ready < 0 && errno != EINTR)
        {
            perror("vesk11-sim: poll");
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN))
            break;
        if (ready > 0 && fds[1].revents)
            on_input();
        on_time(steady_t::now());
    }
    flockfile(stdout);
    trace_.flush();
    funlockfile(stdout);
}

int sensor_loop::poll_timeout_ms(steady_t::time_point aNow) const
{
    steady_t::time_point due = rebooting_ ? reboot_end_ : next_slot_;
    if (due <= aNow)
        return 0;
    // Rounded up, so that a wake-up never comes before the slot.
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(due - aNow).count();
    return static_cast<int>((micros + 999) / 1000);
}

void sensor_loop::on_time(steady_t::time_point aNow)
{
    if (rebooting_)
    {
        if (aNow >= reboot_end_)
            end_reboot();
        return;
    }
    if (aNow < next_slot_)
        return;
    on_slot();
    next_slot_ += std::chrono::milliseconds(options_.period_ms);
    if (next_slot_ <= aNow) // fell behind: no burst of slots to catch up
        next_slot_ = aNow + std::chrono::milliseconds(options_.period_ms);
}

void sensor_loop::on_input()
{
    uint8_t buffer[kREAD_SIZE];
    ssize_t n = line_.read_some(buffer, sizeof buffer);
    if (n < 0)
    {
        lose_line("the line failed on reading");
        return;
    }
    if (n == 0 || rebooting_) // a rebooting sensor does not listen
        return;
    std::vector<sim_query> queries;
    reader_.feed(buffer, static_cast<size_t>(n), last_block_end_us_, queries);
    for (const sim_query& query : queries)
        on_query(query);
}

void sensor_loop::on_query(const sim_query& aQuery)
{
    state_.add_query(aQuery);
    queried_ = true;
    char line[160];
    snprintf(line, sizeof line,
             "query group=%u array=%u action=%u value_type=%u value=0x%08" PRIx32
             " dim=%u,%u batch_crc=%s",
             aQuery.group, aQuery.array, aQuery.action_type, aQuery.value_type, aQuery.value,
             aQuery.dim0, aQuery.dim1, aQuery.batch_crc_ok ? "ok" : "bad");
    trace(line);
    if (options_.hangup_after_query)
    {
        lose_line(nullptr);
        return;
    }
    if (pending_)
        ++replaced_;
    pending_ = pending_t{aQuery, slot_ + options_.reply_delay};
}

void sensor_loop::on_slot()
{
    uint64_t slot = slot_++;
    if (pending_ && pending_->due_slot <= slot && answer())
        return;
    if (options_.silent || fallen_silent())
        return;
    if (options_.stray_reply && !queried_)
    {
        send_block(reply_body({0, 0, 0, 0, 0, kRESULT_OK, kSIM_STRAY_VALUE}), false);
        return;
    }
    send_block(status_body({cycle_++, replies_, reboots_, replaced_,
                            static_cast<uint32_t>(state_.queries_received())}),
               false);
}

// Carries out the pending query and answers it; true when that took the slot (a dropped reply
// leaves it empty).
bool sensor_loop::answer()
{
    sim_query query = std::move(pending_->query);
    pending_.reset();
    param_outcome_t outcome = carry_out(query);
    bool replies = !options_.silent && !options_.no_reply && !fallen_silent();
    if (replies)
        send_reply(query, outcome, ++answers_ == options_.drop_reply);
    if (outcome.effect == param_effect_t::kREBOOT || (replies && answers_ == options_.reboot_after))
        start_reboot();
    return replies || rebooting_;
}

// The model's outcome, or the refusal or result code that a fault asks for.
param_outcome_t sensor_loop::carry_out(const sim_query& aQuery)
{
    bool isSet = aQuery.action_type == kUAT4_ACTION_SET_PARAM ||
                 aQuery.action_type == kUAT4_ACTION_SET_GET_PARAM;
    param_outcome_t outcome = isSet && ++sets_ == options_.refuse_set
                                  ? state_.refuse(aQuery, options_.refuse_set_result)
                                  : state_.execute(aQuery);
    if (options_.force_result >= 0)
        outcome.result = static_cast<uint8_t>(options_.force_result);
    return outcome;
}

bool sensor_loop::fallen_silent() const
{
    return options_.silent_after >= 0 && replies_ >= static_cast<uint32_t>(options_.silent_after);
}

void sensor_loop::send_reply(const sim_query& aQuery, const param_outcome_t& aOutcome, bool aDrop)
{
    if (!aDrop)
    {
        send_block(reply_body({aQuery.group, aQuery.array, aOutcome.value_type, aQuery.dim0,
                               aQuery.dim1, aOutcome.result, aOutcome.value}),
                   options_.corrupt_reply);
        ++replies_;
    }
    const char* note = aDrop ? " sent=no" : options_.corrupt_reply ? " body_crc=bad" : "";
    char line[120];
    snprintf(line, sizeof line, "reply group=%u array=%u result=%u value=0x%08" PRIx32 "%s",
             aQuery.group, aQuery.array, aOutcome.result, aOutcome.value, note);
    trace(line);
}

void sensor_loop::send_block(const bytes_t& aBody, bool aBadCrc)
{
    if (line_.fd() < 0)
        return;
    if (options_.noise)
        send_noise();
    bool badCrc = aBadCrc || blocks_tried_ < options_.bad_crc;
    ++blocks_tried_;
    bytes_t frame = frame_block(aBody, badCrc);
    switch (line_.write_block(frame.data(), frame.size(), options_.split))
    {
    case write_outcome_t::kWRITTEN:
        state_.count_block();
        last_block_end_us_ = get_time_us();
        break;
    case write_outcome_t::kDROPPED:
        break;
    case write_outcome_t::kFAILED:
        lose_line("the line failed on writing");
        break;
    }
}

// Garbage without a start byte: it must cost the reader nothing but the bytes themselves.
void sensor_loop::send_noise()
{
    bytes_t noise(1 + noise_() % kNOISE_MAX);
    for (uint8_t& byte : noise)
    {
        byte = static_cast<uint8_t>(noise_());
        if (byte == kHEAD485_START_PATTERN)
            byte = 0x5A;
    }
    line_.write_block(noise.data(), noise.size(), options_.split);
}

void sensor_loop::start_reboot()
{
    rebooting_ = true;
    reboot_end_ = steady_t::now() + std::chrono::milliseconds(options_.reboot_ms);
    pending_.reset();
    reader_.reset();
}

void sensor_loop::end_reboot()
{
    rebooting_ = false;
    state_.load_ram_from_flash();
    reader_.reset();
    cycle_ = 0;
    ++reboots_;
    next_slot_ = steady_t::now(); // back on the line at once
}

void sensor_loop::lose_line(const char* aReason)
{
    if (aReason)
        fprintf(stderr, "vesk11-sim: %s, closing it\n", aReason);
    line_.close_line();
    pending_.reset();
}

void sensor_loop::trace(const std::string& aLine)
{
    if (!options_.trace)
        return;
    // Taken by vesk11-sim's main thread until it has printed the path, which comes first.
    flockfile(stdout);
    trace_.write_line(aLine);
    funlockfile(stdout);
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
