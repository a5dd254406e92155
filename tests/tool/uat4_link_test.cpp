// vesk11-cli's sensor API and the exchange under it over a scripted link: the ends of a line that
// a pty shows only by chance (a hang-up or error without input, EIO, end of input), a reply
// arriving one byte per read, and an adapter echoing the query back.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api_call.hpp"
#include "fake_link.hpp"
#include "log_capture.hpp"
#include "pty_peer.hpp"

namespace
{

using vesk11_test::bytes_t;
using vesk11_test::fake_link;
using vesk11_test::link_fd_t;
using vesk11_test::link_read;

struct outcome
{
    std::string out;
    bool threw = false;
    std::vector<std::string> failures; // level 1, "func: message"
    std::vector<vesk11_test::log_record> log;
};

outcome _T_get_param(fake_link& aLink, uint16_t aGroup, int aToutMs = 1000)
{
    vesk11_test::log_capture log;
    outcome result;
    const Orvo::Support::Vesk11Cli::Uat4::api_sp_t api = aLink.api(aToutMs);
    result.out = vesk11_test::call_get_param_i32(api, aGroup, 5, &result.threw);
    result.log = log.records();
    result.failures = vesk11_test::failures(result.log);
    return result;
}

bool _T_has(const outcome& aRun, int aLevel, const std::string& aFunc, const std::string& aMessage)
{
    return vesk11_test::has_record(aRun.log, aLevel, aFunc, aMessage);
}

// Every byte of aBytes as a read of its own.
std::vector<link_read> _T_byte_reads(const bytes_t& aBytes)
{
    std::vector<link_read> reads;
    for (uint8_t byte : aBytes)
        reads.push_back({{byte}, 0});
    return reads;
}

TEST(uat4_link, line_ends_fail_the_exchange_and_release_the_link)
{
    struct end_case
    {
        const char* name;
        link_fd_t fd;
        std::vector<link_read> reads;
        std::string out;
        std::vector<std::string> failures;
        bool absent; // the "FAIL" record of a line without data
    };
    const bytes_t status = vesk11_test::status_block();
    // clang-format off
    const end_case cases[] = {
        {"end of input after the query", link_fd_t::kREADABLE, {{status, 0}, {{}, 0}}, "",
         {"exec: fail: read data <connection lost>"}, true},
        {"EIO after the query", link_fd_t::kREADABLE, {{status, 0}, {{}, EIO}}, "",
         {"exec: fail: read data <Input/output error>"}, false},
        {"POLLHUP without POLLIN", link_fd_t::kHUNG_UP, {}, "fail: poll\n",
         {"exec: fail: no input within 1000 ms"}, true},
        {"POLLERR without POLLIN", link_fd_t::kBROKEN, {}, "fail: poll\n",
         {"exec: fail: no input within 1000 ms"}, true},
    };
    // clang-format on
    for (const end_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        fake_link link(aCase.fd, aCase.reads);
        const outcome run = _T_get_param(link, 2000);
        EXPECT_EQ(run.out, aCase.out);
        EXPECT_TRUE(run.threw);
        EXPECT_EQ(run.failures, aCase.failures);
        EXPECT_EQ(_T_has(run, 3, "handleDataEvent", "FAIL"), aCase.absent);
        EXPECT_TRUE(link.closed());
        EXPECT_TRUE(link.released());
        EXPECT_EQ(link.sent().size(), aCase.reads.empty() ? 0u : 1u);
        // A line that reported no input was never read.
        EXPECT_EQ(link.receives(), static_cast<int>(aCase.reads.size()));
    }
}

TEST(uat4_link, reply_one_byte_per_read_is_found)
{
    bytes_t stream = vesk11_test::status_block();
    const bytes_t reply = vesk11_test::reply_block(0, 7);
    stream.insert(stream.end(), reply.begin(), reply.end());
    const bytes_t trailing = vesk11_test::reply_block(0, 9);
    stream.insert(stream.end(), trailing.begin(), trailing.end());
    fake_link link(link_fd_t::kREADABLE, _T_byte_reads(stream));
    const outcome run = _T_get_param(link, 2000);
    EXPECT_EQ(run.out, vesk11_test::reply_lines(7, "0x1.cp-147"));
    EXPECT_FALSE(run.threw);
    EXPECT_EQ(link.sent().size(), 1u);
    // The exchange stopped with the reply's last byte.
    EXPECT_EQ(link.receives(), static_cast<int>(stream.size() - trailing.size()));
    EXPECT_TRUE(link.closed());
}

// Group 17017 is 0x4279: every message of the echoed query begins with the reply's 0x79 0x42.
TEST(uat4_link, echoed_query_is_never_the_reply)
{
    const bytes_t status = vesk11_test::status_block();
    struct echo_case
    {
        const char* name;
        std::vector<link_read> reads; // the echo comes right after the status block
        std::string out;
        bool threw;
    };
    const echo_case cases[] = {
        {"echo, then the reply",
         {{status, 0}, {vesk11_test::reply_block(0, 42), 0}},
         vesk11_test::reply_lines(42, "0x1.5p-144"),
         false},
        {"echo only", {{status, 0}}, "", true},
    };
    for (const echo_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        fake_link link(link_fd_t::kREADABLE, aCase.reads, true);
        const outcome run = _T_get_param(link, 17017);
        EXPECT_EQ(run.out, aCase.out);
        EXPECT_EQ(run.threw, aCase.threw);
        ASSERT_EQ(link.sent().size(), 1u);
        EXPECT_EQ(link.sent()[0][15], 0x79);
        EXPECT_EQ(link.sent()[0][16], 0x42);
        EXPECT_TRUE(_T_has(run, 4, "endBlock", "data: echo of the query ignored"));
    }
}

} // namespace

namespace
{

using api_call_fn = std::function<void(Orvo::Support::Vesk11Cli::Uat4::api_like&)>;

struct judged_case
{
    const char* name;
    api_call_fn call;
    std::vector<link_read> reads; // after the status block that lets the query out
    std::string out;
    bool threw;
    std::vector<std::string> failures;
    const char* ignored; // the level-4 record of an ignored reply, if any
};

} // namespace

// A reply counts only when it answers this query: a late answer about another parameter is
// passed over, and a set-and-read-back must read back what was written.
TEST(uat4_link, replies_are_judged_against_the_query)
{
    const auto get5 = [](auto& aApi) { aApi.getParamI32(2000, 5); };
    const auto set5 = [](auto& aApi) { aApi.setParamI32(2000, 5, 7); };
    const auto setF = [](auto& aApi) { aApi.setParamF32(2000, 5, 1.5F); };
    const std::string lines8 = vesk11_test::reply_lines(8, "0x1p-146");
    // clang-format off
    const judged_case cases[] = {
        {"another parameter, then ours", get5,
         {{vesk11_test::full_reply_block(0, 9, 2000, 50), 0},
          {vesk11_test::full_reply_block(0, 7, 2000, 5), 0}},
         vesk11_test::reply_lines(7, "0x1.cp-147"), false, {},
         "data: reply for another parameter ignored (group:2000, array:50)"},
        {"another group", get5, {{vesk11_test::full_reply_block(0, 9, 2003, 5), 0}},
         "fail: poll\n", true, {"exec: fail: no input within 100 ms"},
         "data: reply for another parameter ignored (group:2003, array:5)"},
        {"other dimensions", get5, {{vesk11_test::full_reply_block(0, 9, 2000, 5, 1, 0), 0}},
         "fail: poll\n", true, {"exec: fail: no input within 100 ms"},
         "data: reply for another parameter ignored (group:2000, array:5)"},
        {"read back what was written", set5,
         {{vesk11_test::full_reply_block(0, 7, 2000, 5), 0}},
         vesk11_test::reply_lines(7, "0x1.cp-147"), false, {}, nullptr},
        {"read back another value", set5, {{vesk11_test::full_reply_block(0, 8, 2000, 5), 0}},
         lines8, true,
         {"UatAction4__AssertReplySetGetParamMsg2: fail: actual value != expected 8 != 7"},
         nullptr},
        {"read back another float", setF,
         {{vesk11_test::full_reply_block(0, 0x3FC00001, 2000, 5), 0}},
         "param_result     0 (0x0)\nparam_data_int   1069547521 (0x3fc00001)\n"
         "param_data_float 1.500000 (0x1.800002p+0)\n", true,
         {"UatAction4__AssertReplySetGetParamMsg2: fail: actual value != expected 1.500000 != "
          "1.500000"},
         nullptr},
    };
    // clang-format on
    for (const judged_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        std::vector<link_read> reads = {{vesk11_test::status_block(), 0}};
        reads.insert(reads.end(), aCase.reads.begin(), aCase.reads.end());
        fake_link link(link_fd_t::kREADABLE, reads, false, true);
        vesk11_test::log_capture log;
        bool threw = false;
        const std::string out = vesk11_test::call_api(link.api(100), aCase.call, &threw);
        EXPECT_EQ(out, aCase.out);
        EXPECT_EQ(threw, aCase.threw);
        EXPECT_EQ(vesk11_test::failures(log.records()), aCase.failures);
        if (aCase.ignored != nullptr)
        {
            EXPECT_TRUE(log.has(4, "endBlock", aCase.ignored)) << log.dump();
        }
        EXPECT_EQ(link.sent().size(), 1u);
    }
}

// Every operation is an exchange of its own, even on the same API object.
TEST(uat4_link, each_operation_on_one_object_talks_to_the_sensor)
{
    const bytes_t status = vesk11_test::status_block();
    fake_link link(link_fd_t::kREADABLE, {{status, 0},
                                          {vesk11_test::reply_block(0, 7), 0},
                                          {status, 0},
                                          {vesk11_test::reply_block(0, 9), 0}});
    const Orvo::Support::Vesk11Cli::Uat4::api_sp_t api = link.api(1000);
    bool threw = false;
    EXPECT_EQ(vesk11_test::call_get_param_i32(api, 2000, 5, &threw),
              vesk11_test::reply_lines(7, "0x1.cp-147"));
    EXPECT_FALSE(threw);
    EXPECT_EQ(vesk11_test::call_get_param_i32(api, 2000, 6, &threw),
              vesk11_test::reply_lines(9, "0x1.2p-146"));
    EXPECT_FALSE(threw);
    EXPECT_EQ(link.sent().size(), 2u);
}
