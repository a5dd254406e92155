// The vesk11-sim executable as a user starts it: path line, trace, help, bad options, signals.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim_client.hpp"
#include "uat11.h"

#ifndef VESK11_SIM_BINARY
#error "VESK11_SIM_BINARY must name the vesk11-sim executable"
#endif

namespace
{

using namespace vesk11_sim_test;

constexpr int kWAIT_MS = 10000;

// vesk11-sim as a child process with its standard output and error on pipes.
class sim_process
{
  public:
    // aOutPipeSize, when given, shrinks the standard output pipe (to no less than a page).
    explicit sim_process(const std::vector<std::string>& aArgs, int aOutPipeSize = 0)
    {
        int out[2];
        int err[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        if (aOutPipeSize > 0)
        {
            EXPECT_GE(fcntl(out[1], F_SETPIPE_SZ, aOutPipeSize), aOutPipeSize);
        }
        pid_ = fork();
        if (pid_ == 0)
        {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(VESK11_SIM_BINARY));
            for (const std::string& arg : aArgs)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(VESK11_SIM_BINARY, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~sim_process()
    {
        if (pid_ > 0 && status_ < 0)
        {
            kill(pid_, SIGKILL);
            wait_exit(kWAIT_MS);
        }
        close(out_);
        close(err_);
    }

    // The next line of standard output, without its end; empty on time-out or end of output.
    std::string read_line(int aTimeoutMs)
    {
        for (;;)
        {
            size_t end = out_text_.find('\n');
            if (end != std::string::npos)
            {
                std::string line = out_text_.substr(0, end);
                out_text_.erase(0, end + 1);
                return line;
            }
            if (!read_more(out_, out_text_, aTimeoutMs))
                return std::string();
        }
    }
    std::string read_all_err()
    {
        std::string text;
        while (read_more(err_, text, kWAIT_MS))
            ;
        return text;
    }
    // What standard output holds now, without waiting.
    std::string drain_out()
    {
        while (read_more(out_, out_text_, 0))
            ;
        std::string text;
        text.swap(out_text_);
        return text;
    }
    std::string read_all_out()
    {
        while (read_more(out_, out_text_, kWAIT_MS))
            ;
        return out_text_;
    }
    // Exit status, or -1 if the process was killed by a signal or did not end in time.
    int wait_exit(int aTimeoutMs)
    {
        for (int waited = 0; waited < aTimeoutMs; waited += 10)
        {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
            {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }
    void signal(int aSignal) { kill(pid_, aSignal); }

  private:
    static bool read_more(int aFd, std::string& aText, int aTimeoutMs)
    {
        pollfd entry{aFd, POLLIN, 0};
        if (poll(&entry, 1, aTimeoutMs) <= 0)
            return false;
        char buffer[512];
        ssize_t n = read(aFd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        aText.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string out_text_;
};

std::string temp_dir()
{
    char pattern[] = "/tmp/vesk11-sim-bin-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    return pattern;
}

bool exists(const std::string& aPath)
{
    struct stat info
    {
    };
    return lstat(aPath.c_str(), &info) == 0;
}

TEST(sim_binary, prints_the_pty_path_traces_and_ends_cleanly_on_sigterm)
{
    std::string dir = temp_dir();
    std::string link = dir + "/sensor";
    std::string flash = dir + "/flash.txt";
    sim_process sim({"--trace", "--period", "20", "--link", link, "--flash", flash});
    std::string path = sim.read_line(kWAIT_MS);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    ASSERT_TRUE(exists(link));
    {
        sim_client client(link);
        EXPECT_TRUE(isatty(client.fd()));
        uat4_action_t action;
        Uat11__InitSetGetParamRdfSpeedLimit2Max(&action, 33.0f);
        EXPECT_EQ(client.exchange(action).result, 0);
    }
    EXPECT_EQ(sim.read_line(kWAIT_MS), "query group=2000 array=454 action=4 value_type=2 "
                                       "value=0x42040000 dim=0,0 batch_crc=ok");
    EXPECT_EQ(sim.read_line(kWAIT_MS), "reply group=2000 array=454 result=0 value=0x42040000");
    unlink(flash.c_str()); // written again on the way out
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0);
    EXPECT_FALSE(exists(link));
    EXPECT_TRUE(exists(flash));
    EXPECT_EQ(sim.read_all_err(), "");
    unlink(flash.c_str());
    rmdir(dir.c_str());
}

// Trace lines that cannot be written at once are dropped and counted; the sensor goes on.
TEST(sim_binary, a_stalled_trace_reader_never_freezes_the_sensor)
{
    sim_process sim({"--trace", "--period", "20"}, 4096);
    std::string path = sim.read_line(kWAIT_MS);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    sim_client client(path);
    uat4_action_t action;
    Uat11__InitGetStatusHwSerial(&action);
    bytes_t burst;
    constexpr size_t kBURST = 200; // their trace lines fill the 4 KiB pipe several times
    for (size_t i = 0; i < kBURST; ++i)
    {
        bytes_t frame = query_frame(action);
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    client.send(burst);
    Uat11__InitGetStatusHwAntenna(&action);
    EXPECT_EQ(client.exchange(action).value, 2u) << "the sensor still answers";

    std::string stalled = sim.drain_out();
    size_t written = 0;
    for (size_t at = stalled.find("query "); at != std::string::npos;
         at = stalled.find("query ", at + 1))
        ++written;
    EXPECT_LT(written, kBURST);
    Uat11__InitGetStatusAccPitch(&action);
    EXPECT_EQ(client.exchange(action).value, 5u);
    std::string notice = sim.read_line(kWAIT_MS);
    ASSERT_EQ(notice.rfind("dropped lines=", 0), 0u) << notice;
    EXPECT_GE(written + std::stoul(notice.substr(14)), kBURST + 1) << "every query line counted";
    std::string next = sim.read_line(kWAIT_MS);
    if (next.rfind("reply group=2003 array=7 ", 0) == 0) // traced after the drain, or dropped
        next = sim.read_line(kWAIT_MS);
    EXPECT_EQ(next.rfind("query group=2003 array=24 ", 0), 0u) << next;
    EXPECT_EQ(sim.read_line(kWAIT_MS), "reply group=2003 array=24 result=0 value=0x00000005");
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0);
}

TEST(sim_binary, every_stop_signal_removes_the_link_and_writes_the_flash)
{
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
    {
        std::string dir = temp_dir();
        std::string link = dir + "/sensor";
        std::string flash = dir + "/flash.txt";
        sim_process sim({"--link", link, "--flash", flash});
        ASSERT_EQ(sim.read_line(kWAIT_MS).rfind("/dev/pts/", 0), 0u) << strsignal(stop);
        ASSERT_TRUE(exists(link));
        unlink(flash.c_str());
        sim.signal(stop);
        EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0) << strsignal(stop);
        EXPECT_FALSE(exists(link)) << strsignal(stop);
        EXPECT_TRUE(exists(flash)) << strsignal(stop);
        unlink(flash.c_str());
        rmdir(dir.c_str());
    }
}

// A stop signal cuts a block short rather than wait for a slow line to finish it: at 30 baud a
// status block (36 bytes) takes 12 s; the signal comes once its first byte is out, and the block
// is not finished.
TEST(sim_binary, stop_does_not_wait_for_a_slow_paced_block)
{
    constexpr size_t kSTATUS_BLOCK_SIZE = 36;
    sim_process sim({"--baud", "30", "--period", "1"});
    const std::string path = sim.read_line(kWAIT_MS);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u);
    const int line = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(line, 0);
    // Every byte is read as it comes, until the line hangs up as the simulator exits.
    size_t got = 0;
    for (pollfd input{line, POLLIN, 0}; poll(&input, 1, 2 * kWAIT_MS) == 1;)
    {
        uint8_t bytes[kSTATUS_BLOCK_SIZE];
        const ssize_t n = read(line, bytes, sizeof bytes);
        if (n <= 0)
            break;
        if (got == 0)
            sim.signal(SIGTERM);
        got += static_cast<size_t>(n);
    }
    close(line);
    EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0);
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, kSTATUS_BLOCK_SIZE);
}

// A link left by a killed run is taken over; anything else in the way is left alone.
TEST(sim_binary, link_replaces_only_a_dangling_symlink)
{
    struct link_case
    {
        const char* what;
        std::function<void(const std::string&, const std::string&)> make; // (link, other file)
        bool starts;
    };
    const link_case cases[] = {
        {"dangling symlink",
         [](const std::string& aLink, const std::string&)
         { ASSERT_EQ(symlink("/dev/pts/no-such-pty", aLink.c_str()), 0); },
         true},
        {"symlink to a file",
         [](const std::string& aLink, const std::string& aOther)
         { ASSERT_EQ(symlink(aOther.c_str(), aLink.c_str()), 0); },
         false},
        {"regular file",
         [](const std::string& aLink, const std::string&) { std::ofstream(aLink) << "keep"; },
         false},
        {"directory",
         [](const std::string& aLink, const std::string&)
         { ASSERT_EQ(mkdir(aLink.c_str(), 0755), 0); },
         false},
    };
    for (const link_case& c : cases)
    {
        std::string dir = temp_dir();
        std::string link = dir + "/sensor";
        std::string other = dir + "/other";
        std::ofstream(other) << "other";
        c.make(link, other);
        struct stat before
        {
        };
        ASSERT_EQ(lstat(link.c_str(), &before), 0) << c.what;
        sim_process sim({"--link", link});
        if (c.starts)
        {
            std::string path = sim.read_line(kWAIT_MS);
            ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << c.what;
            char target[128] = {};
            ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0) << c.what;
            EXPECT_EQ(path, target) << c.what;
            sim.signal(SIGTERM);
            EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0) << c.what;
            EXPECT_FALSE(exists(link)) << c.what;
        }
        else
        {
            EXPECT_EQ(sim.wait_exit(kWAIT_MS), 1) << c.what;
            EXPECT_NE(sim.read_all_err().find(link), std::string::npos) << c.what;
            struct stat after
            {
            };
            ASSERT_EQ(lstat(link.c_str(), &after), 0) << c.what << ": removed";
            EXPECT_EQ(after.st_ino, before.st_ino) << c.what << ": replaced";
        }
        unlink(link.c_str());
        rmdir(link.c_str());
        unlink(other.c_str());
        rmdir(dir.c_str());
    }
}

TEST(sim_binary, help_and_version_go_to_stdout_with_status_0)
{
    sim_process sim({"--help"});
    EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0);
    std::string out = sim.read_all_out();
    EXPECT_EQ(out.rfind("Usage: vesk11-sim", 0), 0u) << out;
    EXPECT_NE(out.find("--hangup-after-query"), std::string::npos);
    EXPECT_EQ(sim.read_all_err(), "");
    sim_process version({"--version"});
    EXPECT_EQ(version.wait_exit(kWAIT_MS), 0);
    const std::string line = version.read_all_out();
    EXPECT_EQ(line.rfind("vesk11-sim 1.", 0), 0u) << line;
    EXPECT_EQ(version.read_all_err(), "");
}

TEST(sim_binary, bad_option_goes_to_stderr_with_status_64)
{
    sim_process sim({"--period", "fast"});
    EXPECT_EQ(sim.wait_exit(kWAIT_MS), 64);
    EXPECT_EQ(sim.read_all_out(), "");
    std::string err = sim.read_all_err();
    EXPECT_NE(err.find("--period"), std::string::npos) << err;
}

// Refused at once, without waiting on a FIFO's writer or touching a device.
TEST(sim_binary, unusable_flash_file_is_refused_with_status_1)
{
    struct flash_case
    {
        const char* what;
        std::function<void(const std::string&)> make;
        const char* reason;
    };
    const flash_case cases[] = {
        {"damaged text",
         [](const std::string& aPath)
         { std::ofstream(aPath) << "vesk11-sim flash 1\n2000 50 f32 0x3e8"; },
         "damaged flash file"},
        {"FIFO", [](const std::string& aPath) { ASSERT_EQ(mkfifo(aPath.c_str(), 0644), 0); },
         "is not a regular file"},
        {"symlink to a FIFO",
         [](const std::string& aPath)
         {
             ASSERT_EQ(mkfifo((aPath + ".fifo").c_str(), 0644), 0);
             ASSERT_EQ(symlink((aPath + ".fifo").c_str(), aPath.c_str()), 0);
         },
         "is not a regular file"},
        {"device",
         [](const std::string& aPath) { ASSERT_EQ(symlink("/dev/null", aPath.c_str()), 0); },
         "is not a regular file"},
        {"folder", [](const std::string& aPath) { ASSERT_EQ(mkdir(aPath.c_str(), 0755), 0); },
         "is not a regular file"},
        {"file over 1 MiB",
         [](const std::string& aPath)
         {
             std::ofstream(aPath) << "vesk11-sim flash 1\n";
             ASSERT_EQ(truncate(aPath.c_str(), 1024 * 1024 + 1), 0);
         },
         "is larger than 1 MiB"},
    };
    for (const flash_case& c : cases)
    {
        std::string dir = temp_dir();
        std::string flash = dir + "/flash.txt";
        c.make(flash);
        sim_process sim({"--flash", flash});
        EXPECT_EQ(sim.wait_exit(kWAIT_MS), 1) << c.what;
        EXPECT_EQ(sim.read_all_out(), "") << c.what;
        std::string err = sim.read_all_err();
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << ": " << err;
        EXPECT_FALSE(exists(flash + ".tmp")) << c.what;
        std::filesystem::remove_all(dir);
    }
}

TEST(sim_binary, failed_flash_write_gives_its_reason_on_stderr)
{
    std::string dir = temp_dir();
    std::string flash = dir + "/flash.txt";
    sim_process sim({"--flash", flash});
    std::string path = sim.read_line(kWAIT_MS);
    ASSERT_EQ(unlink(flash.c_str()), 0);
    ASSERT_EQ(mkdir(flash.c_str(), 0755), 0);
    {
        sim_client client(path);
        uat4_action_t action;
        Uat11__InitCommandUpdateFlashConf(&action, 0xFFFFFFFF);
        EXPECT_EQ(client.exchange(action).result, 10);
    }
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait_exit(kWAIT_MS), 0);
    std::string err = sim.read_all_err();
    EXPECT_NE(err.find("answered with result 10: cannot rename to " + flash + ": Is a directory"),
              std::string::npos)
        << err;
    std::filesystem::remove_all(dir);
}

} // namespace
