// Signals during the waits for the sensor: SIGINT, SIGTERM, SIGHUP and every other signal that
// would kill the run end the real tool's run as a failure with the line's settings put back; any
// other interruption only repeats the wait, and the run still ends by its deadline.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <pthread.h>

#include "api_call.hpp"
#include "cli_child.hpp"
#include "fake_link.hpp"
#include "log_capture.hpp"

namespace
{

using vesk11_test::cli_result;

const std::vector<std::string> kGET_450 = {"get-param-i32", "--group=2000", "--id=450"};

class cli_signals : public vesk11_test::sim_fixture
{
};

enum class wait_t
{
    kREPLY,  // the sensor streams but never answers: the tool waits for a reply
    kSILENT, // the sensor sends nothing: the tool waits for a block
    kSTALLED // the line takes no output: the tool waits to send its query
};

// The tool would sit in its wait for 10 s; the signal comes once it is there.
TEST_F(cli_signals, stop_signals_end_the_wait_as_a_failure)
{
    struct signal_case
    {
        int signal;
        wait_t wait;
    };
    const signal_case cases[] = {
        {SIGINT, wait_t::kREPLY},   {SIGTERM, wait_t::kREPLY},   {SIGHUP, wait_t::kREPLY},
        {SIGQUIT, wait_t::kREPLY},  {SIGUSR1, wait_t::kREPLY},   {SIGALRM, wait_t::kREPLY},
        {SIGPROF, wait_t::kREPLY},  {SIGTERM, wait_t::kSILENT},  {SIGTERM, wait_t::kSTALLED},
        {SIGHUP, wait_t::kSTALLED},
    };
    for (const signal_case& aCase : cases)
    {
        SCOPED_TRACE(std::string(strsignal(aCase.signal)) + " in wait " +
                     std::to_string(static_cast<int>(aCase.wait)));
        sim_options opts = options();
        opts.no_reply = aCase.wait == wait_t::kREPLY;
        opts.silent = aCase.wait == wait_t::kSILENT;
        start_sim(opts);
        // Output stopped as by flow control: the query cannot leave.
        if (aCase.wait == wait_t::kSTALLED)
        {
            ASSERT_EQ(tcflow(line_fd_, TCOOFF), 0);
        }
        vesk11_test::cli_child child(kGET_450, env("1000"));
        ASSERT_TRUE(vesk11_test::wait_for_record(
            child, 3, "enter", "done: Transport__Open <" + sim_->path() + ">", 10000));
        if (aCase.wait == wait_t::kREPLY)
        {
            ASSERT_TRUE(sim_->wait_for_queries(1, static_cast<int>(vesk11_test::within_ms(5000))));
        }
        if (aCase.wait == wait_t::kSTALLED)
        {
            ASSERT_TRUE(vesk11_test::wait_for_record(
                child, 4, "_T_tx_block485", "data: writev (actual:0, expected:47)", 5000));
        }
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(child.pid(), aCase.signal), 0);
        const cli_result run = child.wait();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - sent);
        EXPECT_EQ(run.out, "FAIL\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 70);
        EXPECT_EQ(vesk11_test::failures(run),
                  std::vector<std::string>{"exec: fail: interrupted by signal " +
                                           std::to_string(aCase.signal)});
        EXPECT_LT(took.count(), vesk11_test::within_ms(2000)); // not the 10 s deadline
        EXPECT_EQ(sim_->queries().size(), aCase.wait == wait_t::kREPLY ? 1u : 0u);
        tcflow(line_fd_, TCOON);
        expect_line_restored();
        stop_sim();
    }
}

std::atomic<int> otherSignals{0};

void _T_count_signal(int /*aSignal*/)
{
    ++otherSignals;
}

// Sends aSignal to the calling thread every 5 ms while alive.
class signal_rain
{
  public:
    explicit signal_rain(int aSignal)
        : target_(pthread_self()),
          thread_(
              [this, aSignal]
              {
                  while (!stop_)
                  {
                      pthread_kill(target_, aSignal);
                      std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  }
              })
    {
    }
    ~signal_rain()
    {
        stop_ = true;
        thread_.join();
    }
    signal_rain(const signal_rain&) = delete;
    signal_rain& operator=(const signal_rain&) = delete;

  private:
    pthread_t target_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct sigaction _T_set_handler(int aSignal, void (*aHandler)(int))
{
    struct sigaction action = {};
    action.sa_handler = aHandler; // no SA_RESTART: every wait it hits fails with EINTR
    sigemptyset(&action.sa_mask);
    struct sigaction old = {};
    sigaction(aSignal, &action, &old);
    return old;
}

// Runs getParamI32 over aLink while aSignal rains on this thread; its standard output, and
// whether it threw internal_error.
std::string _T_get_param_in_rain(vesk11_test::fake_link& aLink, int aSignal, int aToutMs,
                                 bool* aThrew)
{
    const signal_rain rain(aSignal);
    return vesk11_test::call_get_param_i32(aLink.api(aToutMs), 2000, 450, aThrew);
}

// Interrupted every 5 ms, no wait ever lasts its 500 ms: the deadline, 10 time-outs from the
// open, ends the run all the same.
TEST(exchange_signals, other_interruptions_repeat_the_wait_until_the_deadline)
{
    vesk11_test::log_capture log;
    const struct sigaction old = _T_set_handler(SIGWINCH, _T_count_signal);
    vesk11_test::fake_link link(vesk11_test::link_fd_t::kSILENT, {});
    bool threw = false;
    const auto start = std::chrono::steady_clock::now();
    const std::string out = _T_get_param_in_rain(link, SIGWINCH, 500, &threw);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    sigaction(SIGWINCH, &old, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(threw);
    EXPECT_GE(took.count(), 5000);
    EXPECT_GT(otherSignals.load(), 100);
    EXPECT_TRUE(log.has(1, "exec", "fail: no reply within 5000 ms")) << log.dump();
    EXPECT_FALSE(log.has(1, "exec", "fail: interrupted by signal 28")) << log.dump();
    EXPECT_TRUE(link.closed());
}

// nohup's SIGHUP stays ignored during the exchange, and a caller's own handlers are back after.
TEST(exchange_signals, ignored_signals_stay_ignored_and_handlers_come_back)
{
    vesk11_test::log_capture log;
    const struct sigaction oldHup = _T_set_handler(SIGHUP, SIG_IGN);
    const struct sigaction oldInt = _T_set_handler(SIGINT, _T_count_signal);
    vesk11_test::fake_link link(vesk11_test::link_fd_t::kSILENT, {});
    bool threw = false;
    const std::string out = _T_get_param_in_rain(link, SIGHUP, 200, &threw);
    EXPECT_EQ(out, "fail: poll\n");
    EXPECT_TRUE(threw);
    EXPECT_TRUE(log.has(3, "handleDataEvent", "FAIL")) << log.dump();
    struct sigaction now = {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, _T_count_signal);
    sigaction(SIGHUP, &oldHup, nullptr);
    sigaction(SIGINT, &oldInt, nullptr);
}

// In-process, the same stop signal ends the exchange: the operation throws after closing.
TEST(exchange_signals, stop_signal_ends_the_exchange_after_closing_the_link)
{
    vesk11_test::log_capture log;
    // (the handler takes the signals that still come after the exchange)
    const struct sigaction old = _T_set_handler(SIGINT, _T_count_signal);
    vesk11_test::fake_link link(vesk11_test::link_fd_t::kSILENT, {});
    bool threw = false;
    const std::string out = _T_get_param_in_rain(link, SIGINT, 5000, &threw);
    sigaction(SIGINT, &old, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(threw);
    EXPECT_TRUE(log.has(1, "exec", "fail: interrupted by signal 2")) << log.dump();
    EXPECT_TRUE(link.closed());
    EXPECT_TRUE(link.released());
}

} // namespace
