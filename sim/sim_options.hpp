// Options of the simulated sensor, and the parsing of the vesk11-sim command line.
#ifndef VESK11_SIM_SIM_OPTIONS_HPP
#define VESK11_SIM_SIM_OPTIONS_HPP

#include <array>
#include <cstdint>
#include <string>

#include "transport_serial_types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

// What the sensor says it is: status values 2003/9 and 2003/2..5.
struct sim_identity
{
    uint32_t serial = 10597059;                       // 0xA1B2C3
    std::array<uint32_t, 4> firmware = {11, 4, 2, 7}; // generation, major, minor, patch
};

struct sim_options
{
    uint32_t period_ms = 50;   // one status block per period
    uint32_t reply_delay = 0;  // status blocks sent between a query and its reply
    uint32_t reboot_ms = 500;  // silence after a reboot command
    uint32_t baud = 0;         // every byte sent paced to this rate, 8N1; 0: as fast as it goes
    std::string flash_path;    // text file keeping the flash copy; empty: flash in memory only
    std::string link_path;     // symlink made to the line, removed at stop; empty: none
    std::string device_path;   // drive this serial device instead of a fresh pty
    serial_rs485_args rs485{}; // the device's RS-485 mode: --rs485, else $VESK11_RS485
    bool silent = false;       // send nothing at all
    bool no_reply = false;     // stream status blocks, never answer
    uint32_t bad_crc = 0;      // the first N blocks carry a wrong body checksum
    bool noise = false;        // garbage bytes (never 0x7E) between blocks
    bool split = false;        // write every block one byte per write
    int force_result = -1;     // 0..255: result code of every reply; -1: the model's own
    bool hangup_after_query = false; // close the line as soon as a query arrives, unanswered
    bool stray_reply = false;        // until the first query, every slot carries a 0x79 0x42 block
    bool corrupt_reply = false;      // reply blocks carry a wrong body checksum
    uint32_t refuse_set = 0;         // K > 0: the K-th set query is refused and not applied
    uint8_t refuse_set_result = 8;   // the result code of that refusal
    int silent_after = -1;           // N >= 0: nothing at all is sent after the N-th reply
    uint32_t drop_reply = 0;         // K > 0: the K-th reply is never sent
    uint32_t reboot_after = 0;       // K > 0: the sensor restarts by itself after its K-th reply
    bool trace = false;              // one line on standard output per query and per reply
    sim_identity identity;           // --serial, --firmware
};

enum class parse_outcome_t
{
    kRUN,     // options are valid
    kHELP,    // --help was asked for
    kVERSION, // --version was asked for
    kBAD,     // aError holds the reason
};

// Parses argv[1..]; "--name value" and "--name=value" are both accepted, "--rs485" only as
// "--rs485" or "--rs485=MODE". VESK11_RS485 gives the RS-485 mode of a --device when --rs485 is
// not given; a pty has none, so --rs485 without --device is refused.
parse_outcome_t parse_sim_options(int aArgc, const char* const* aArgv, sim_options& aOptions,
                                  std::string& aError);

// The text printed by --help.
std::string sim_usage_text();

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo

#endif
