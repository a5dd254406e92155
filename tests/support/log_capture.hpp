// Reads back what liblog2 wrote to LOG2_FILE, and opens the log of a test process into a temp file.
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

} // namespace vesk11_test

#endif
