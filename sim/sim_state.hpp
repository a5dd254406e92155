// What the sensor's thread shares with the callers of the in-process API: the parameter model
// with its flash file, the queries received and the count of blocks sent.
#ifndef VESK11_SIM_SIM_STATE_HPP
#define VESK11_SIM_SIM_STATE_HPP

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "param_model.hpp"
#include "sensor_sim.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

class sim_state
{
  public:
    sim_state(std::string aFlashPath, const sim_identity& aIdentity)
        : flash_path_(std::move(aFlashPath)), model_(aIdentity)
    {
    }

    // Flash from the file, RAM from flash; a missing file is created with the factory values.
    bool load_flash(std::string& aError);
    bool save_flash(std::string& aError);

    // Carries out a query; a changed flash copy is written to the file at once. When that
    // write fails, the model is left as it was and the outcome is kRESULT_FLASH_FAILED.
    param_outcome_t execute(const sim_query& aQuery);
    param_outcome_t refuse(const sim_query& aQuery, uint8_t aResult) const;
    void load_ram_from_flash();

    // Keeps the first kSIM_QUERIES_KEPT queries, counts them all.
    void add_query(const sim_query& aQuery);
    std::vector<sim_query> queries() const;
    uint64_t queries_received() const;
    bool wait_for_queries(size_t aCount, int aTimeoutMs) const;

    bool ram_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const;
    bool flash_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const;

    void count_block() { ++blocks_sent_; }
    uint64_t blocks_sent() const { return blocks_sent_; }

  private:
    bool save_locked(std::string& aError);

    const std::string flash_path_;
    mutable std::mutex mutex_;
    mutable std::condition_variable queries_cv_;
    param_model model_;
    std::vector<sim_query> queries_;
    uint64_t queries_received_ = 0;
    std::atomic<uint64_t> blocks_sent_{0};
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
