// Recognises query batches in the received byte stream with the project's block decoder, and
// keeps the raw bytes of each frame with the block recorder.
#ifndef VESK11_SIM_QUERY_READER_HPP
#define VESK11_SIM_QUERY_READER_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#include "block_decoder11.h"
#include "block_record.h"
#include "sensor_sim.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

class query_reader
{
  public:
    query_reader() = default;
    ~query_reader();
    query_reader(const query_reader&) = delete;
    query_reader& operator=(const query_reader&) = delete;

    bool init();
    // Decodes received bytes; every query completed in them is appended to aQueries, stamped
    // with aLastBlockEndUs.
    void feed(const uint8_t* aData, size_t aSize, uint64_t aLastBlockEndUs,
              std::vector<sim_query>& aQueries);
    // Drops a partial frame (the sensor was not listening).
    void reset();

    // Block decoder handler; aUserData is the reader.
    static void handleBlockEvent(void* aUserData, uint64_t aBlockTs, uint8_t aStat,
                                 uint16_t aMsgIdent, void* aMsgPayloadData,
                                 uint8_t aMsgPayloadSize);

  private:
    void on_block_end();

    block_decoder11_t decoder_{};
    block_record block_{};
    uint64_t last_block_end_us_ = 0;
    std::vector<sim_query>* out_ = nullptr;
};

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
