#include "sensor_sim.hpp"

#include <cstdio>
#include <memory>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include "sensor_loop.hpp"
#include "sim_line.hpp"
#include "sim_state.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

class sensor_sim::impl
{
  public:
    explicit impl(const sim_options& aOptions)
        : options_(aOptions), state_(aOptions.flash_path, aOptions.identity),
          loop_(options_, line_, state_)
    {
    }

    bool start();
    void stop();

    const sim_options options_;
    sim_state state_;
    sim_line line_;
    sensor_loop loop_;
    std::thread thread_;
    int wake_fd_ = -1;
    bool running_ = false;
    std::string error_;
};

bool sensor_sim::impl::start()
{
    if (running_ || wake_fd_ >= 0)
    {
        error_ = "a simulator starts only once";
        return false;
    }
    if (!state_.load_flash(error_))
        return false;
    bool opened = options_.device_path.empty()
                      ? line_.open_pty(error_)
                      : line_.open_device(options_.device_path, options_.rs485, error_);
    if (!opened)
        return false;
    if (!options_.link_path.empty() && !line_.make_link(options_.link_path, error_))
    {
        line_.close_line();
        return false;
    }
    wake_fd_ = eventfd(0, EFD_CLOEXEC);
    if (wake_fd_ < 0 || !loop_.init())
    {
        error_ = "cannot set up the sensor's thread";
        if (wake_fd_ >= 0)
            close(wake_fd_);
        wake_fd_ = -1;
        line_.close_line();
        line_.remove_link();
        return false;
    }
    thread_ = std::thread([this] { loop_.run(wake_fd_); });
    running_ = true;
    return true;
}

void sensor_sim::impl::stop()
{
    if (!running_)
        return;
    running_ = false;
    uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) != sizeof one)
        perror("vesk11-sim: eventfd");
    thread_.join();
    close(wake_fd_);
    line_.close_line();
    line_.remove_link();
    std::string error;
    if (!state_.save_flash(error))
        fprintf(stderr, "vesk11-sim: %s\n", error.c_str());
}

sensor_sim::sensor_sim(const sim_options& aOptions) : impl_(std::make_unique<impl>(aOptions)) {}

sensor_sim::~sensor_sim()
{
    stop();
}

bool sensor_sim::start()
{
    return impl_->start();
}

void sensor_sim::stop()
{
    impl_->stop();
}

const std::string& sensor_sim::path() const
{
    return impl_->line_.path();
}

const std::string& sensor_sim::error() const
{
    return impl_->error_;
}

std::vector<sim_query> sensor_sim::queries() const
{
    return impl_->state_.queries();
}

bool sensor_sim::wait_for_queries(size_t aCount, int aTimeoutMs) const
{
    return impl_->state_.wait_for_queries(aCount, aTimeoutMs);
}

bool sensor_sim::ram_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const
{
    return impl_->state_.ram_value(aGroup, aArray, aBits);
}

bool sensor_sim::flash_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const
{
    return impl_->state_.flash_value(aGroup, aArray, aBits);
}

uint64_t sensor_sim::blocks_sent() const
{
    return impl_->state_.blocks_sent();
}

uint64_t sensor_sim::blocks_dropped() const
{
    return impl_->state_.blocks_dropped();
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
