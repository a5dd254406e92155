// The exchange against a misbehaving sensor: silence, damaged and foreign blocks, a refusing or
// never answering sensor, a hang-up, and a second run on a line already in use.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_child.hpp"

namespace
{

using vesk11_test::cli_result;

const std::vector<std::string> kGET_450 = {"get-param-i32", "--group=2000", "--id=450"};
const std::string kREPLY_450 = "param_result     0 (0x0)\nparam_data_int   1 (0x1)\n"
                               "param_data_float 0.000000 (0x1p-149)\nDONE\n";
const char* const kFINI_FAIL = "data: kBLOCKDECODER11_STAT_FINI_FAIL";

// Position of the first record with this function and a message beginning with aPrefix.
size_t _T_find(const cli_result& aRun, const std::string& aFunc, const std::string& aPrefix)
{
    const auto it =
        std::find_if(aRun.log.begin(), aRun.log.end(),
                     [&](const auto& aRecord)
                     { return aRecord.func == aFunc && aRecord.message.rfind(aPrefix, 0) == 0; });
    return static_cast<size_t>(it - aRun.log.begin());
}

class cli_sensor : public vesk11_test::sim_fixture
{
};

TEST_F(cli_sensor, silent_sensor_fails_after_one_time_out)
{
    sim_options opts = options();
    opts.silent = true;
    start_sim(opts);
    const cli_result run = this->run(kGET_450, env("200"));
    EXPECT_EQ(run.out, "fail: poll\nFAIL\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(vesk11_test::messages(run, 3, "handleDataEvent"), std::vector<std::string>{"FAIL"});
    EXPECT_GE(run.elapsed_ms, 200);
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(1500));
    EXPECT_TRUE(sim_->queries().empty());
}

// Whatever precedes the answer, the answer is the one printed and the run succeeds.
TEST_F(cli_sensor, noisy_split_and_damaged_streams_still_get_the_answer)
{
    struct stream_case
    {
        const char* name;
        void (*set)(vesk11_test::sim_fixture::sim_options&);
    };
    const stream_case cases[] = {
        {"noise", [](sim_options& aOpts) { aOpts.noise = true; }},
        {"byte by byte", [](sim_options& aOpts) { aOpts.split = true; }},
        {"stray reply before the query", [](sim_options& aOpts) { aOpts.stray_reply = true; }},
        // (under a wrapper they must outlast a slow start, and end well before the deadline)
        {"bad checksums first", [](sim_options& aOpts)
         { aOpts.bad_crc = vesk11_test::wrapper_words().empty() ? 60 : 300; }},
    };
    const char* tout = vesk11_test::wrapper_words().empty() ? "500" : "1000";
    for (const stream_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        sim_options opts = options(20);
        aCase.set(opts);
        start_sim(opts);
        const cli_result run = this->run(kGET_450, env(tout));
        EXPECT_EQ(run.out, kREPLY_450);
        EXPECT_EQ(run.status, 0);
        ASSERT_EQ(sim_->queries().size(), 1u);
        EXPECT_EQ(sim_->queries()[0].array, 450);
        if (opts.bad_crc > 0)
        {
            // The damaged blocks reached the tool before the batch went out, and none after.
            const size_t tx = _T_find(run, "sendBatch", "data: tx <");
            ASSERT_LT(tx, run.log.size());
            EXPECT_LT(_T_find(run, "handleDataBlock", kFINI_FAIL), tx);
            EXPECT_EQ(std::find_if(run.log.begin() + static_cast<long>(tx), run.log.end(),
                                   [](const auto& aRecord)
                                   { return aRecord.message == kFINI_FAIL; }),
                      run.log.end());
        }
        stop_sim();
    }
}

TEST_F(cli_sensor, non_zero_result_prints_the_reply_then_fails)
{
    sim_options opts = options();
    opts.force_result = 5;
    start_sim(opts);
    const cli_result run = this->run(kGET_450, env());
    EXPECT_EQ(run.out, "param_result     5 (0x5)\nparam_data_int   1 (0x1)\n"
                       "param_data_float 0.000000 (0x1p-149)\nFAIL\n");
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(vesk11_test::failures(run),
              std::vector<std::string>{"UatAction4__AssertReplyMsg2: fail: bad result (5)"});
}

// A stream that never carries an intact answer ends by the deadline: 10 time-outs, at least 1 s.
TEST_F(cli_sensor, unanswered_runs_end_by_the_deadline)
{
    struct deadline_case
    {
        const char* name;
        bool corrupt;
        const char* tout;
        long deadline_ms;
    };
    const deadline_case cases[] = {
        {"no reply", false, "150", 1500},
        {"corrupted reply", true, "50", 1000},
    };
    for (const deadline_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        sim_options opts = options();
        opts.no_reply = !aCase.corrupt;
        opts.corrupt_reply = aCase.corrupt;
        start_sim(opts);
        const cli_result run = this->run(kGET_450, env(aCase.tout));
        EXPECT_EQ(run.out, "FAIL\n");
        EXPECT_EQ(run.status, 70);
        // (the decoder logs each damaged block as a failure of its own)
        const std::vector<std::string> failures = vesk11_test::failures(run);
        ASSERT_FALSE(failures.empty());
        EXPECT_EQ(failures.back(),
                  "exec: fail: no reply within " + std::to_string(aCase.deadline_ms) + " ms");
        EXPECT_EQ(failures.size(), aCase.corrupt ? 2u : 1u);
        EXPECT_EQ(vesk11_test::messages(run, 3, "handleDataEvent"),
                  std::vector<std::string>{"FAIL"});
        EXPECT_GE(run.elapsed_ms, aCase.deadline_ms);
        EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(aCase.deadline_ms + 1500));
        EXPECT_EQ(sim_->queries().size(), 1u);
        EXPECT_TRUE(vesk11_test::messages(run, 4, "acceptReply").empty());
        if (aCase.corrupt)
        {
            EXPECT_LT(_T_find(run, "handleDataBlock", kFINI_FAIL), run.log.size());
        }
        stop_sim();
    }
}

TEST_F(cli_sensor, hang_up_after_the_query_fails)
{
    sim_options opts = options();
    opts.hangup_after_query = true;
    start_sim(opts);
    // The line is gone afterwards: its settings cannot be read back. The hang-up shows either
    // as end of input or as a wake-up without input, depending on how far the kernel got.
    const cli_result run = vesk11_test::run_cli(kGET_450, env());
    if (run.out == "fail: poll\nFAIL\n")
    {
        EXPECT_EQ(vesk11_test::failures(run),
                  std::vector<std::string>{"exec: fail: no input within 200 ms"});
    }
    else
    {
        EXPECT_EQ(run.out, "FAIL\n");
        EXPECT_EQ(vesk11_test::failures(run),
                  std::vector<std::string>{"exec: fail: read data <connection lost>"});
    }
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(vesk11_test::messages(run, 3, "handleDataEvent"), std::vector<std::string>{"FAIL"});
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(1000));
    EXPECT_EQ(sim_->queries().size(), 1u);
}

// The first run holds the line until its late answer; a second run meanwhile is turned away
// without touching the line, and the first still gets its answer.
TEST_F(cli_sensor, second_run_on_a_line_in_use_is_refused)
{
    sim_options opts = options();
    // (under a wrapper: long enough for a second, slowed-down start, within the deadline)
    const bool wrapped = !vesk11_test::wrapper_words().empty();
    opts.reply_delay = wrapped ? 500 : 30;
    start_sim(opts);
    vesk11_test::cli_child first(kGET_450, env(wrapped ? "1000" : "500"));
    ASSERT_TRUE(vesk11_test::wait_for_record(
        first, 3, "enter", "done: Transport__Open <" + sim_->path() + ">", 10000));

    const cli_result second = vesk11_test::run_cli(kGET_450, env("500"));
    EXPECT_EQ(second.out, "FAIL\n");
    EXPECT_EQ(second.status, 70);
    EXPECT_EQ(vesk11_test::failures(second),
              (std::vector<std::string>{"ComTransport__Open: failed to lock " + sim_->path() +
                                            " (Resource temporarily unavailable)",
                                        "enter: fail: Transport__Open", "exec: fail"}));

    const cli_result run = first.wait();
    EXPECT_EQ(run.out, kREPLY_450);
    EXPECT_EQ(run.status, 0);
    expect_line_restored();
    EXPECT_EQ(sim_->queries().size(), 1u);
}

} // namespace
