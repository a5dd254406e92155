// The simulated sensor's parameters: status values (group 2003, read-only), configuration
// parameters (group 2000) with a RAM and a flash copy, and the commands of group 1000.
#ifndef VESK11_SIM_PARAM_MODEL_HPP
#define VESK11_SIM_PARAM_MODEL_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "flash_file.hpp"
#include "sensor_sim.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

enum class param_effect_t
{
    kNONE,
    kFLASH_CHANGED, // the flash copy must be persisted
    kREBOOT,        // reply, then reboot
};

struct param_outcome_t
{
    uint8_t result = kRESULT_OK;
    uint8_t value_type = 0; // the parameter's value type, or the query's on failure
    uint32_t value = 0;     // the 4 value bytes of the reply, as raw bits
    param_effect_t effect = param_effect_t::kNONE;
};

// A refusal: aResult, the query's value type, value 0.
param_outcome_t failed_outcome(const sim_query& aQuery, uint8_t aResult);

class param_model
{
  public:
    // Factory defaults in RAM and flash; the identity's values in the status group.
    explicit param_model(const sim_identity& aIdentity);

    // Carries out one query and says what to answer.
    param_outcome_t execute(const sim_query& aQuery);
    // Refuses a query with aResult, changing nothing, and answers the value held in RAM (value 0
    // and the query's value type for what holds no value).
    param_outcome_t refuse(const sim_query& aQuery, uint8_t aResult) const;

    bool ram_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const;
    bool flash_value(uint16_t aGroup, uint16_t aArray, uint32_t* aBits) const;

    // RAM <- flash, as after a reboot.
    void load_ram_from_flash();

    // The flash copy as file entries, one per configuration parameter.
    std::vector<flash_entry_t> flash_entries() const;
    // Replaces the flash copy (RAM untouched); refuses a set that is not exactly the catalogue's
    // configuration parameters with their value types.
    bool set_flash_entries(const std::vector<flash_entry_t>& aEntries, std::string& aError);

  private:
    struct value_t
    {
        uint16_t group;
        uint16_t array;
        uint8_t value_type;
        uint32_t factory;
        uint32_t ram;
        uint32_t flash;
    };

    value_t* find(uint16_t aGroup, uint16_t aArray);
    const value_t* find(uint16_t aGroup, uint16_t aArray) const;
    param_outcome_t execute_command(const sim_query& aQuery);
    param_outcome_t execute_value(const sim_query& aQuery, value_t& aValue);

    std::vector<value_t> values_;
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
