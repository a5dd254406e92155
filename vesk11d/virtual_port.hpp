// One virtual port: a pseudo-terminal whose client sees the sensor's line. The daemon keeps the
// master; the client opens the slave through the symlink DIR/LINE/NAME. Blocks from the line are
// queued whole for a client that has the port open; what the client writes is decoded, and only
// an intact frame carrying one well-formed query batch becomes the port's pending query (a newer
// one replaces it).
#ifndef VESK11_VESK11D_VIRTUAL_PORT_HPP
#define VESK11_VESK11D_VIRTUAL_PORT_HPP

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

#include "block_decoder11.h"
#include "block_queue.hpp"
#include "block_record.h"
#include "daemon_stats.hpp"
#include "uat4/types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

struct port_setup
{
    std::string name;
    bool writable = true;
    std::string link; // DIR/LINE/NAME
    uid_t owner = static_cast<uid_t>(-1);
    gid_t group = static_cast<gid_t>(-1);
    mode_t mode = 0600;
    bool owner_given = false; // a chown that fails is then fatal, not merely reported
};

class virtual_port
{
  public:
    explicit virtual_port(port_setup aSetup) : setup_(std::move(aSetup)) {}
    ~virtual_port();
    virtual_port(const virtual_port&) = delete;
    virtual_port& operator=(const virtual_port&) = delete;

    // Makes the pseudo-terminal (raw, 115200 baud, owner, group and mode) and its symlink,
    // replacing a symlink left there. Throws daemon_error.
    void open();
    // Removes the symlink and closes the pseudo-terminal.
    void close();

    int fd() const { return master_; }
    bool attached() const { return stats_.attached; }
    // What to wait for while a client has the port open.
    short events() const;
    // Serves what a wait reported for an attached port: the client's writes, the queue's
    // progress, the client leaving.
    void serve(short aRevents);
    // An idle port's wait result: a port without a hang-up has a client again.
    void notice(short aRevents);
    // Queues a block for the client, whole or not at all, and starts writing it.
    void offer(const uint8_t* aBlock, size_t aSize);

    // A reply block that is not for this client's waiting query: not copied, counted.
    void withhold() { ++stats_.replies_withheld; }

    bool has_query() const { return has_query_; }
    const uint8_t* query() const { return query_; }
    void forwarded();
    // The pending query will not go out (the device was lost).
    void drop_query();

    const std::string& name() const { return setup_.name; }
    const std::string& link() const { return setup_.link; }
    bool writable() const { return setup_.writable; }
    const port_stats& stats() const { return stats_; }

  private:
    static void handle_event(void* aSelf, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                             void* aMsgPayloadData, uint8_t aMsgPayloadSize);
    void read_client();
    void flush_queue();
    void detach();
    void discard_unread();

    port_setup setup_;
    std::string slave_path_;
    int master_ = -1;
    block_decoder11_t decoder_{};
    block_record record_{};
    block_queue queue_{16384};
    uint8_t query_[kUAT4_BATCH_SIZE] = {};
    bool has_query_ = false;
    port_stats stats_{};
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
