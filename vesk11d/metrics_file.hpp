// The metrics as a file for the node exporter's textfile collector: rewritten every few seconds
// on a thread of its own (the loop never waits on a disk), each time through a temporary file
// renamed into place, so the collector never reads half a file. Removed at stop, so that a
// stopped daemon's figures are not served as current.
#ifndef VESK11_VESK11D_METRICS_FILE_HPP
#define VESK11_VESK11D_METRICS_FILE_HPP

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "metrics_text.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

class metrics_file
{
  public:
    explicit metrics_file(const metrics_board& aBoard) : board_(aBoard) {}
    ~metrics_file();
    metrics_file(const metrics_file&) = delete;
    metrics_file& operator=(const metrics_file&) = delete;

    // Writes aPath once (throws daemon_error when it cannot), then every few seconds.
    void start(const std::string& aPath);
    void stop();

  private:
    bool write() const;
    void rewrite();

    const metrics_board& board_;
    std::string path_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
