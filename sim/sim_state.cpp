#include "sim_state.hpp"

#include <chrono>
#include <cstdio>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

bool sim_state::load_flash(std::string& aError)
{
    if (flash_path_.empty())
        return true;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<flash_entry_t> entries;
    switch (load_flash_file(flash_path_, entries, aError))
    {
    case flash_load_t::kABSENT:
        return save_locked(aError);
    case flash_load_t::kDAMAGED:
        aError = "damaged flash file (" + aError + "), refused";
        return false;
    case flash_load_t::kUNUSABLE:
        aError = "unusable flash file (" + aError + "), refused";
        return false;
    case flash_load_t::kLOADED:
        break;
    }
    if (!model_.set_flash_entries(entries, aError))
    {
        aError = "damaged flash file " + flash_path_ + " (" + aError + "), refused";
        return false;
    }
    model_.load_ram_from_flash();
    return true;
}

bool sim_state::save_flash(std::string& aError)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return save_locked(aError);
}

bool sim_state::save_locked(std::string& aError)
{
    return flash_path_.empty() || save_flash_file(flash_path_, model_.flash_entries(), aError);
}

param_outcome_t sim_state::execute(const sim_query& aQuery)
{
    std::lock_guard<std::mutex> lock(mutex_);
    param_model before = model_;
    param_outcome_t outcome = model_.execute(aQuery);
    std::string error;
    if (outcome.effect != param_effect_t::kFLASH_CHANGED || save_locked(error))
        return outcome;
    // The flash copy stays what the file holds.
    model_ = before;
    fprintf(stderr, "vesk11-sim: flash file not written, answered with result %u: %s\n",
            kRESULT_FLASH_FAILED, error.c_str());
    return failed_outcome(aQuery, kRESULT_FLASH_FAILED);
}

param_outcome_t sim_state::refuse(const sim_query& aQuery, uint8_t aResult) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.refuse(aQuery, aResult);
}

void sim_state::load_ram_from_flash()
{
    std::lock_guard<std::mutex> lock(mutex_);
    model_.load_ram_from_flash();
}

void sim_state::add_query(const sim_query& aQuery)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queries_.size() < kSIM_QUERIES_KEPT)
            queries_.push_back(aQuery);
        ++queries_received_;
    }
    queries_cv_.notify_all();
}

uint64_t sim_state::queries_received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_received_;
}

std::vector<sim_query> sim_state::queries() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
}

bool sim_state::wait_for_queries(size_t aCount, int aTimeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return queries_cv_.wait_for(lock, std::chrono::milliseconds(aTimeoutMs),
                                [&] { return queries_received_ >= aCount; });
}

bool sim_state::ram_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.ram_value(aGroup, aArray, aBits);
}

bool sim_state::flash_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.flash_value(aGroup, aArray, aBits);
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
