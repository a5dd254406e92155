#include "log_capture.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
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

} // namespace

std::vector<log_record> read_log_file(const std::string& aPath)
{
    std::vector<log_record> records;
    std::ifstream in(aPath);
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

} // namespace vesk11_test
