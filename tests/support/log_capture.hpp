// Reads back what liblog2 wrote to LOG2_FILE, and opens the log of a test process into a temp file;
// sinks a test holds at the far end: a FIFO whose reader stalls, a socket standing for syslog.
#ifndef VESK11_TESTS_LOG_CAPTURE_HPP
#define VESK11_TESTS_LOG_CAPTURE_HPP

#include <string>
#include <vector>

namespace vesk11_test
{

struct log_record
{
    std::string name;    // log name
    long pid = 0;
    int level = 0;
    std::string file;    // source base name
    unsigned long long line = 0;
    std::string func;
    std::string message;
};

// Parses a LOG2_FILE; malformed lines fail the calling test.
std::vector<log_record> read_log_file(const std::string& aPath);
std::vector<log_record> parse_log_text(const std::string& aText);

// True when some record has this level, function and message (an empty func matches any).
bool has_record(const std::vector<log_record>& aRecords, int aLevel, const std::string& aFunc,
                const std::string& aMessage);

// For the lifetime of the object the process logs, at every level, into a fresh temp file.
class log_capture
{
  public:
    explicit log_capture(int aMaxLevel = 5);
    ~log_capture();
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::vector<log_record> records() const;
    bool has(int aLevel, const std::string& aFunc, const std::string& aMessage) const;
    // Every record's message, one per line: for failure output.
    std::string dump() const;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string dump_records(const std::vector<log_record>& aRecords);

// A FIFO in a fresh temp folder, without a reader until open_reader(); the reader reads only when
// told, so the test decides when the log's writes find room.
class stalled_fifo
{
  public:
    stalled_fifo();
    ~stalled_fifo();
    stalled_fifo(const stalled_fifo&) = delete;
    stalled_fifo& operator=(const stalled_fifo&) = delete;

    const std::string& path() const { return path_; }
    void open_reader();
    void close_reader();
    // Writes (as a second writer) until not one more byte fits; needs the reader.
    void fill();
    // All the reader finds waiting.
    std::string drain();

  private:
    std::string dir_;
    std::string path_;
    int reader_ = -1;
};

// An AF_UNIX datagram socket bound in a fresh temp folder: a syslog daemon the test controls.
class syslog_listener
{
  public:
    syslog_listener();
    ~syslog_listener();
    syslog_listener(const syslog_listener&) = delete;
    syslog_listener& operator=(const syslog_listener&) = delete;

    const std::string& path() const { return path_; }
    // Sends from a socket of its own until the queue takes no more: a daemon that stopped reading.
    void fill();
    // Every datagram waiting, oldest first.
    std::vector<std::string> receive();

  private:
    std::string dir_;
    std::string path_;
    int fd_ = -1;
};

} // namespace vesk11_test

#endif
