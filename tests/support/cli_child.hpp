// End-to-end harness: vesk11-cli (or another program of the project) as a child process with an
// environment of its own, and the simulated sensor on a pseudo-terminal whose settings are
// checked after every run. VESK11_TEST_WRAPPER ("valgrind -q --error-exitcode=1 ...") runs the
// program under that command, found on PATH; time limits then widen by wrapper_allowance_ms().
#ifndef VESK11_TESTS_TOOL_CLI_CHILD_HPP
#define VESK11_TESTS_TOOL_CLI_CHILD_HPP

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "log_capture.hpp"
#include "pty_pair.hpp"
#include "sensor_sim.hpp"
#include "time_allowance.hpp"

namespace vesk11_test
{

struct cli_result
{
    std::string out;
    std::string err;
    int status = -1; // exit status; -1 when the child did not exit by itself
    std::vector<log_record> log;
    long elapsed_ms = 0;
};

inline std::string temp_file()
{
    char pattern[] = "/tmp/vesk11-cli-test-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0)
        close(fd);
    return pattern;
}

inline std::string read_file(const std::string& aPath)
{
    std::ifstream in(aPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the program aBinary (the tool unless told). aEnv ("NAME=value" entries) is its whole
// environment, apart from the sanitizer options of the test process and LOG2_FILE, which is a
// temp file read back by wait() unless aEnv names one itself. Standard output goes to a temp file
// read back by wait(), or to aStdout when given ("" leaves it closed); standard error likewise to
// a temp file, or to the descriptor aStderrFd (a terminal, say).
class cli_child
{
  public:
    cli_child(const std::vector<std::string>& aArgs, std::vector<std::string> aEnv,
              const char* aStdout = nullptr, int aStderrFd = -1,
              const char* aBinary = VESK11_CLI_BINARY)
        : out_path_(temp_file()), err_path_(temp_file()), log_path_(temp_file())
    {
        std::vector<std::string> args = wrapper_words();
        args.push_back(aBinary);
        args.insert(args.end(), aArgs.begin(), aArgs.end());
        if (std::none_of(aEnv.begin(), aEnv.end(),
                         [](const std::string& aEntry)
                         { return aEntry.rfind("LOG2_FILE=", 0) == 0; }))
            aEnv.push_back("LOG2_FILE=" + log_path_);
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        {
            if (const char* value = getenv(name))
                aEnv.push_back(std::string(name) + "=" + value);
        }
        std::vector<char*> argv = _T_pointers(args);
        std::vector<char*> envp = _T_pointers(aEnv);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (aStdout == nullptr)
            posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_TRUNC, 0);
        else if (*aStdout == '\0')
            posix_spawn_file_actions_addclose(&actions, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, aStdout, O_WRONLY, 0);
        if (aStderrFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, aStderrFd, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_TRUNC, 0);
        start_ = std::chrono::steady_clock::now();
        if (posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_GT(pid_, 0) << "cannot start " << args[0];
    }

    ~cli_child()
    {
        if (pid_ > 0)
        {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (const std::string& path : {out_path_, err_path_, log_path_})
            unlink(path.c_str());
    }

    cli_child(const cli_child&) = delete;
    cli_child& operator=(const cli_child&) = delete;

    const std::string& log_path() const { return log_path_; }
    pid_t pid() const { return pid_; }

    // Waits for the exit; a run that outlives the watchdog is killed and fails the test.
    cli_result wait()
    {
        cli_result result;
        int status = 0;
        const auto watchdog = start_ + std::chrono::milliseconds(within_ms(60000));
        while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() > watchdog)
            {
                ADD_FAILURE() << "the child still running past its watchdog: killed";
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        result.elapsed_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - start_)
                                                  .count());
        const pid_t pid = pid_;
        pid_ = -1;
        if (WIFEXITED(status))
            result.status = WEXITSTATUS(status);
        result.out = read_file(out_path_);
        result.err = read_file(err_path_);
        // A wrapper (valgrind) reports on standard error, each line behind "==<pid>==".
        if (!wrapper_words().empty())
        {
            EXPECT_EQ(result.err.find("==" + std::to_string(pid) + "=="), std::string::npos)
                << "report of " << wrapper_words()[0] << ":\n" << result.err;
        }
        result.log = read_log_file(log_path_);
        return result;
    }

  private:
    static std::vector<char*> _T_pointers(std::vector<std::string>& aTexts)
    {
        std::vector<char*> pointers;
        for (std::string& text : aTexts)
            pointers.push_back(&text[0]);
        pointers.push_back(nullptr);
        return pointers;
    }

    pid_t pid_ = -1;
    std::string out_path_;
    std::string err_path_;
    std::string log_path_;
    std::chrono::steady_clock::time_point start_;
};

// Polls the child's log until it holds this record; false after aTimeoutMs (widened under a
// wrapper).
inline bool wait_for_record(const cli_child& aChild, int aLevel, const std::string& aFunc,
                            const std::string& aMessage, long aTimeoutMs)
{
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms(aTimeoutMs));
    while (!has_record(read_log_file(aChild.log_path()), aLevel, aFunc, aMessage))
    {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline cli_result run_cli(const std::vector<std::string>& aArgs,
                          const std::vector<std::string>& aEnv, const char* aStdout = nullptr,
                          const char* aBinary = VESK11_CLI_BINARY)
{
    cli_child child(aArgs, aEnv, aStdout, -1, aBinary);
    return child.wait();
}

// Messages of the records with this level and function, in log order.
inline std::vector<std::string> messages(const cli_result& aRun, int aLevel,
                                         const std::string& aFunc)
{
    std::vector<std::string> found;
    for (const log_record& record : aRun.log)
    {
        if (record.level == aLevel && record.func == aFunc)
            found.push_back(record.message);
    }
    return found;
}

// The failure records (level 1) as "func: message", in log order.
inline std::vector<std::string> failures(const std::vector<log_record>& aLog)
{
    std::vector<std::string> found;
    for (const log_record& record : aLog)
    {
        if (record.level == 1)
            found.push_back(record.func + ": " + record.message);
    }
    return found;
}

inline std::vector<std::string> failures(const cli_result& aRun)
{
    return failures(aRun.log);
}

// The simulated sensor on a fresh pty. Before the first run the line gets settings unlike the
// tool's own (9600 baud, two stop bits, VMIN 5, VTIME 3...), which every run must leave as found.
class sim_fixture : public ::testing::Test
{
  protected:
    using sim_options = Orvo::Support::Vesk11Sim::sim_options;

    static sim_options options(uint32_t aPeriodMs = 10)
    {
        sim_options opts;
        opts.period_ms = aPeriodMs;
        return opts;
    }

    void start_sim(const sim_options& aOptions)
    {
        sim_ = std::make_unique<Orvo::Support::Vesk11Sim::sensor_sim>(aOptions);
        ASSERT_TRUE(sim_->start()) << sim_->error();
        line_fd_ = open(sim_->path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(line_fd_, 0);
        ASSERT_EQ(tcgetattr(line_fd_, &settings_), 0);
        settings_.c_iflag |= IGNPAR;
        settings_.c_cflag |= CSTOPB | HUPCL;
        settings_.c_cc[VMIN] = 5;
        settings_.c_cc[VTIME] = 3;
        ASSERT_EQ(cfsetospeed(&settings_, B9600), 0);
        ASSERT_EQ(cfsetispeed(&settings_, B9600), 0);
        ASSERT_EQ(tcsetattr(line_fd_, TCSANOW, &settings_), 0);
        ASSERT_EQ(tcgetattr(line_fd_, &settings_), 0);
    }

    void stop_sim()
    {
        if (line_fd_ >= 0)
            close(line_fd_);
        line_fd_ = -1;
        sim_.reset();
    }

    void TearDown() override { stop_sim(); }

    std::vector<std::string> env(const std::string& aTout = "200") const
    {
        return {"VESK11_CLI_ENDPOINT=" + sim_->path(), "VESK11_CLI_TOUT=" + aTout};
    }

    // One run against the sensor, then the line's settings must be back as they were.
    cli_result run(const std::vector<std::string>& aArgs, const std::vector<std::string>& aEnv,
                   const char* aStdout = nullptr)
    {
        cli_result result = run_cli(aArgs, aEnv, aStdout);
        expect_line_restored();
        return result;
    }

    void expect_line_restored() const
    {
        termios now{};
        ASSERT_EQ(tcgetattr(line_fd_, &now), 0);
        expect_same_line_settings(now, settings_);
        EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&settings_));
        EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&settings_));
    }

    std::unique_ptr<Orvo::Support::Vesk11Sim::sensor_sim> sim_;
    int line_fd_ = -1;
    termios settings_{};
};

} // namespace vesk11_test

#endif
