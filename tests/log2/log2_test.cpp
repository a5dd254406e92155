#include <regex>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include "log.h"
#include "log.hpp"
#include "log_capture.hpp"

namespace
{

using vesk11_test::log_capture;
using vesk11_test::read_log_file;

std::string _T_read_raw(const std::string& aPath)
{
    FILE* f = fopen(aPath.c_str(), "r");
    std::string text;
    if (!f)
        return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    return text;
}

TEST(Log2, LineFormatIsTheDocumentedContract)
{
    log_capture capture(4);
    LogWrite("/src/dir/some_file.cpp", 42, "someFunc", 3, "done: %s <%d>", "open", 7);
    std::string raw = _T_read_raw(capture.path());
    std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d{4} test\[(\d+)\] 3 )"
                    R"(some_file\.cpp:42 someFunc: done: open <7>\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(raw, match, line)) << raw;
    EXPECT_EQ(std::stol(match[1]), static_cast<long>(getpid()));
}

TEST(Log2, RecordsAboveMaxLevelAreDropped)
{
    log_capture capture(3);
    for (int level = 1; level <= 5; ++level)
        LogWrite(__FILE__, 1, "f", level, "level %d", level);
    auto records = capture.records();
    ASSERT_EQ(records.size(), 3u) << capture.dump();
    for (int level = 1; level <= 3; ++level)
        EXPECT_EQ(records[static_cast<size_t>(level - 1)].level, level);
}

TEST(Log2, LongMessageIsCutNotOverflowed)
{
    log_capture capture(4);
    std::string huge(10000, 'x');
    LogWrite(__FILE__, 1, "f", 1, "%s", huge.c_str());
    LogWrite(__FILE__, 2, "g", 1, "after");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GT(records[0].message.size(), 500u);
    EXPECT_LT(records[0].message.size(), huge.size());
    EXPECT_EQ(records[0].message.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(records[1].message, "after");
}

TEST(Log2, LineBreaksInCallerTextStayOnOneLine)
{
    log_capture capture(4);
    LogWrite(__FILE__, 1, "f", 1, "path %s", "/dev/a\nb");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "path /dev/a b");
}

TEST(Log2, WritesBeforeOpenAndAfterCloseAreDropped)
{
    char pattern[] = "/tmp/vesk11-log-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("LOG2_FILE", pattern, 1);
    LogWrite(__FILE__, 1, "f", 1, "before open");
    LogClose(); // closing a log that is not open is harmless
    {
        Orvo::Support::log_guard guard("guarded", 4, 0);
        LogWrite(__FILE__, 2, "f", 1, "inside");
    }
    LogWrite(__FILE__, 3, "f", 1, "after close");
    auto records = read_log_file(pattern);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "guarded");
    EXPECT_EQ(records[0].message, "inside");
    unsetenv("LOG2_FILE");
    unlink(pattern);
}

TEST(Log2, FileIsCreatedWithRestrictedMode)
{
    std::string path = "/tmp/vesk11-log-mode-" + std::to_string(getpid());
    unlink(path.c_str());
    setenv("LOG2_FILE", path.c_str(), 1);
    mode_t old = umask(0);
    LogOpen2("mode", 4, 0);
    umask(old);
    LogWrite(__FILE__, 1, "f", 1, "x");
    LogClose();
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    unsetenv("LOG2_FILE");
    unlink(path.c_str());
}

TEST(Log2, UnopenableFileFallsBackToSyslogAndNeverTouchesStdStreams)
{
    char pattern[] = "/tmp/vesk11-std-XXXXXX";
    int sink = mkstemp(pattern);
    ASSERT_GE(sink, 0);
    int savedOut = dup(1);
    int savedErr = dup(2);
    fflush(stdout);
    fflush(stderr);
    dup2(sink, 1);
    dup2(sink, 2);
    setenv("LOG2_FILE", "/nonexistent-dir/x/log", 1);
    LogOpen2("fallback", 5, 0);
    for (int level = 1; level <= 5; ++level)
        LogWrite(__FILE__, 1, "f", level, "to syslog %d", level);
    LogClose();
    unsetenv("LOG2_FILE");
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    struct stat st{};
    ASSERT_EQ(fstat(sink, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_NE(access("/nonexistent-dir/x/log", F_OK), 0);
    close(sink);
    unlink(pattern);
}

} // namespace
