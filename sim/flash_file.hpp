// The flash copy of the configuration kept in a small text file:
//   vesk11-sim flash 1
//   <group> <array> <i32|f32> 0x<8 hex digits>      (one line per parameter)
//   end
// Written to a temporary file beside it, fsynced and renamed, so a crash never leaves it
// half-written; when the path is a symlink, the file it ends at is the one replaced.
#ifndef VESK11_SIM_FLASH_FILE_HPP
#define VESK11_SIM_FLASH_FILE_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

struct flash_entry_t
{
    uint16_t group;
    uint16_t array;
    uint8_t value_type; // 0 integer, 2 float
    uint32_t bits;
};

enum class flash_load_t
{
    kLOADED,
    kABSENT,   // no file yet
    kDAMAGED,  // its text is not a flash file; aError says why
    kUNUSABLE, // unreadable, not a regular file, or larger than 1 MiB; aError says why
};

// Never blocks: a FIFO or a device is refused without being read.
flash_load_t load_flash_file(const std::string& aPath, std::vector<flash_entry_t>& aEntries,
                             std::string& aError);

bool save_flash_file(const std::string& aPath, const std::vector<flash_entry_t>& aEntries,
                     std::string& aError);

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
