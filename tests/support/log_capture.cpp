#include "log_capture.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "log.h"

namespace vesk11_test
{

namespace
{

// <time> <name>[<pid>] <level> <file>:<line> <func>: <message>
bool _T_parse_line(const std::string& aLine, log_record& aRecord)
{
    std::istringstream in(aLine);
    std::string stamp, who, where;
    if (!(in >> stamp >> who >> aRecord.level >> where >> aRecord.func))
        return false;
    size_t bracket = who.rfind('[');
    size_t colon = where.rfind(':');
    if (bracket == std::string::npos || who.back() != ']' || colon == std::string::npos ||
        aRecord.func.empty() || aRecord.func.back() != ':')
        return false;
    aRecord.name = who.substr(0, bracket);
    aRecord.pid = std::strtol(who.c_str() + bracket + 1, nullptr, 10);
    aRecord.file = where.substr(0, colon);
    aRecord.line = std::strtoull(where.c_str() + colon + 1, nullptr, 10);
    aRecord.func.pop_back();
    std::string rest;
    std::getline(in, rest);
    aRecord.message = rest.empty() ? rest : rest.substr(1);
    return true;
}

std::string _T_temp_dir()
{
    char pattern[] = "/tmp/vesk11-sink-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr) << std::strerror(errno);
    return pattern;
}

sockaddr_un _T_socket_address(const std::string& aPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", aPath.c_str());
    return address;
}

// Writes aByteCount-byte pieces until one does not fit.
void _T_write_until_full(int aFd, size_t aByteCount)
{
    const std::string piece(aByteCount, 'x');
    while (write(aFd, piece.data(), piece.size()) > 0)
    {
    }
    EXPECT_EQ(errno, EAGAIN) << std::strerror(errno);
}

} // namespace

std::vector<log_record> read_log_file(const std::string& aPath)
{
    std::ifstream in(aPath);
    std::ostringstream text;
    text << in.rdbuf();
    return parse_log_text(text.str());
}

std::vector<log_record> parse_log_text(const std::string& aText)
{
    std::vector<log_record> records;
    std::istringstream in(aText);
    std::string line;
    while (std::getline(in, line))
    {
        log_record record;
        EXPECT_TRUE(_T_parse_line(line, record)) << "malformed log line: " << line;
        records.push_back(record);
    }
    return records;
}

bool has_record(const std::vector<log_record>& aRecords, int aLevel, const std::string& aFunc,
                const std::string& aMessage)
{
    for (const log_record& record : aRecords)
    {
        if (record.level == aLevel && (aFunc.empty() || record.func == aFunc) &&
            record.message == aMessage)
            return true;
    }
    return false;
}

std::string dump_records(const std::vector<log_record>& aRecords)
{
    std::string text;
    for (const log_record& record : aRecords)
        text += std::to_string(record.level) + " " + record.func + ": " + record.message + "\n";
    return text;
}

log_capture::log_capture(int aMaxLevel)
{
    char pattern[] = "/tmp/vesk11-log-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0)
        close(fd);
    path_ = pattern;
    setenv("LOG2_FILE", path_.c_str(), 1);
    LogOpen2("test", aMaxLevel, 0);
}

log_capture::~log_capture()
{
    LogClose();
    unsetenv("LOG2_FILE");
    unlink(path_.c_str());
}

std::vector<log_record> log_capture::records() const { return read_log_file(path_); }

bool log_capture::has(int aLevel, const std::string& aFunc, const std::string& aMessage) const
{
    return has_record(records(), aLevel, aFunc, aMessage);
}

std::string log_capture::dump() const { return dump_records(records()); }

stalled_fifo::stalled_fifo() : dir_(_T_temp_dir()), path_(dir_ + "/fifo")
{
    EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0) << std::strerror(errno);
}

stalled_fifo::~stalled_fifo()
{
    close_reader();
    unlink(path_.c_str());
    rmdir(dir_.c_str());
}

void stalled_fifo::open_reader()
{
    if (reader_ < 0)
        reader_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(reader_, 0) << std::strerror(errno);
}

void stalled_fifo::close_reader()
{
    if (reader_ >= 0)
        close(reader_);
    reader_ = -1;
}

void stalled_fifo::fill()
{
    const int writer = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0) << std::strerror(errno);
    _T_write_until_full(writer, 4096);
    _T_write_until_full(writer, 1);
    close(writer);
}

std::string stalled_fifo::drain()
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(reader_, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

syslog_listener::syslog_listener() : dir_(_T_temp_dir()), path_(dir_ + "/log")
{
    const sockaddr_un address = _T_socket_address(path_);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
}

syslog_listener::~syslog_listener()
{
    close(fd_);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
}

void syslog_listener::fill()
{
    const sockaddr_un address = _T_socket_address(path_);
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(sender, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
    _T_write_until_full(sender, 16);
    close(sender);
}

std::vector<std::string> syslog_listener::receive()
{
    std::vector<std::string> datagrams;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, 0)) >= 0)
        datagrams.emplace_back(buffer, static_cast<size_t>(n));
    return datagrams;
}

} // namespace vesk11_test
