// The real vesk11-cli against a hostile line, played byte by byte by the test: a device that
// vanishes mid-block, a header announcing 65535 body bytes, message sizes of 255, floods of
// 0x7E, a megabyte of noise, a reply trickling in one byte at a time, a half-duplex adapter
// echoing the query; and a log file that cannot be written or a log that nobody reads.
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cli_child.hpp"
#include "hex_text.hpp"
#include "pty_peer.hpp"

namespace
{

using vesk11_test::bytes_t;
using vesk11_test::cli_result;
using vesk11_test::pty_peer;

const std::vector<std::string> kGET_450 = {"get-param-i32", "--group=2000", "--id=450"};
// 7 prints as a subnormal float of 0x1.cp-147.
const std::string kREPLY_7 = vesk11_test::reply_lines(7, "0x1.cp-147");

bytes_t _T_cat(std::initializer_list<bytes_t> aParts)
{
    bytes_t all;
    for (const bytes_t& part : aParts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The reply message the exchange waits for, outside a block.
// The tool is started, the peer plays aScript once the query has arrived; then the run ends and
// nothing beyond the one query frame may have come from the tool.
cli_result _T_run(pty_peer& aPeer, const std::vector<std::string>& aArgs, const char* aTout,
                  void (*aScript)(pty_peer&))
{
    vesk11_test::cli_child child(aArgs, aPeer.env(aTout));
    const bytes_t query = aPeer.await_query();
    if (query.size() == vesk11_test::kQUERY_FRAME_SIZE)
        aScript(aPeer);
    cli_result run = child.wait();
    EXPECT_TRUE(aPeer.receive(0).empty()) << "the tool sent more than one frame";
    return run;
}

TEST(cli_faults, replies_after_hostile_bytes_are_found)
{
    struct hostile_case
    {
        const char* name;
        void (*script)(pty_peer&);
    };
    const hostile_case cases[] = {
        {"a message size of 255, cut by its block's end and whole in a 258-byte body",
         [](pty_peer& aPeer)
         {
             bytes_t whole = {0x03, 0xFC, 0xFF};
             for (int i = 0; i < 255; ++i)
                 whole.push_back(i < 2 ? (i == 0 ? 0x79 : 0x42) : 0);
             bytes_t cut = vesk11_test::reply_msg(0, 5); // announces 255 data bytes, holds 8
             cut[2] = 0xFF;
             aPeer.send(_T_cat(
                 {vesk11_test::block_of(cut),
                  vesk11_test::block_of(whole), vesk11_test::reply_block(0, 7)}));
         }},
        {"a flood of 0x7E (odd count) before a status block and the reply",
         [](pty_peer& aPeer)
         {
             aPeer.send(_T_cat({bytes_t(100001, 0x7E), vesk11_test::status_block(),
                                vesk11_test::reply_block(0, 7)}));
         }},
        {"a megabyte of random bytes, then the reply",
         [](pty_peer& aPeer)
         {
             // Raw engine output: the same bytes with every standard library.
             std::mt19937 engine(11);
             bytes_t noise(1 << 20);
             for (uint8_t& byte : noise)
                 byte = static_cast<uint8_t>(engine() >> 24);
             aPeer.send(_T_cat({noise, vesk11_test::reply_block(0, 7)}));
         }},
        {"the reply one byte per write, 2 ms apart",
         [](pty_peer& aPeer) { aPeer.send(vesk11_test::reply_block(0, 7), 1, 2000); }},
    };
    for (const hostile_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        pty_peer peer;
        const cli_result run = _T_run(peer, kGET_450, "1000", aCase.script);
        EXPECT_EQ(run.out, kREPLY_7 + "DONE\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(
            vesk11_test::messages(run, 4, "acceptReply"),
            std::vector<std::string>{"data: rx <" + vesk11_test::hex_text(vesk11_test::reply_msg(0, 7)) + ">"});
        peer.expect_line_restored();
    }
}

// Before the first intact block nothing goes out, however many start bytes arrive.
TEST(cli_faults, flood_of_start_bytes_before_the_first_block_sends_nothing)
{
    pty_peer peer;
    vesk11_test::cli_child child(kGET_450, peer.env("1000"));
    ASSERT_TRUE(vesk11_test::wait_for_record(child, 3, "enter",
                                             "done: Transport__Open <" + peer.path() + ">", 10000));
    ASSERT_TRUE(peer.send(bytes_t(100001, 0x7E)));
    EXPECT_TRUE(peer.receive(50).empty());
    ASSERT_EQ(peer.await_query().size(), vesk11_test::kQUERY_FRAME_SIZE);
    peer.send(vesk11_test::reply_block(0, 7));
    const cli_result run = child.wait();
    EXPECT_EQ(run.out, kREPLY_7 + "DONE\n");
    EXPECT_EQ(run.status, 0);
}

// A block that never ends delivers its messages but is never a verified one: replies inside a
// body announced as 65535 bytes long are not taken, and the silence after them ends the run.
TEST(cli_faults, endless_block_then_silence_fails_after_one_time_out)
{
    pty_peer peer;
    const cli_result run = _T_run(peer, kGET_450, "300",
                                  [](pty_peer& aPeer)
                                  {
                                      vesk11_head485 head{};
                                      Block485__EncodeHead(&head, 0xFFFF);
                                      const uint8_t* headBytes =
                                          reinterpret_cast<const uint8_t*>(&head);
                                      bytes_t bytes(headBytes, headBytes + sizeof head);
                                      for (int i = 0; i < 5; ++i)
                                      {
                                          const bytes_t msg = vesk11_test::reply_msg(0, 7);
                                          bytes.insert(bytes.end(), msg.begin(), msg.end());
                                      }
                                      aPeer.send(bytes);
                                  });
    EXPECT_EQ(run.out, "fail: poll\nFAIL\n");
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(vesk11_test::messages(run, 3, "handleDataEvent"), std::vector<std::string>{"FAIL"});
    EXPECT_EQ(vesk11_test::failures(run),
              std::vector<std::string>{"exec: fail: no input within 300 ms"});
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(3000)); // well before the deadline
    peer.expect_line_restored();
}

// The device vanishes in the middle of the reply block: the run fails at once (long before its
// 5 s time-out), by end of input, a read error or a hang-up without input, whichever the kernel
// shows first.
TEST(cli_faults, device_vanishing_mid_block_fails_at_once)
{
    pty_peer peer;
    const cli_result run = _T_run(peer, kGET_450, "5000",
                                  [](pty_peer& aPeer)
                                  {
                                      const bytes_t reply = vesk11_test::reply_block(0, 7);
                                      aPeer.send(bytes_t(reply.begin(), reply.begin() + 20));
                                      std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                      aPeer.close_master();
                                  });
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> failures = vesk11_test::failures(run);
    if (failures.empty())
    {
        EXPECT_EQ(run.out, "fail: poll\nFAIL\n");
    }
    else
    {
        EXPECT_EQ(run.out, "FAIL\n");
        EXPECT_TRUE(
            failures == std::vector<std::string>{"exec: fail: read data <connection lost>"} ||
            failures == std::vector<std::string>{"exec: fail: read data <Input/output error>"})
            << vesk11_test::dump_records(run.log);
    }
    EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(3000));
}

// A half-duplex adapter hands the query back before the sensor answers. With group 17017
// (0x4279) every message of that echo begins with the reply's bytes 0x79 0x42.
TEST(cli_faults, echo_of_the_query_is_never_the_reply)
{
    const std::vector<std::string> args = {"get-param-i32", "--group=17017", "--id=5"};
    struct echo_case
    {
        bool answered;
        std::string out;
        int status;
    };
    const echo_case cases[] = {
        {true, vesk11_test::reply_lines(42, "0x1.5p-144") + "DONE\n", 0},
        {false, "fail: poll\nFAIL\n", 70},
    };
    for (const echo_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.answered ? "echo, then the reply" : "echo only");
        pty_peer peer;
        vesk11_test::cli_child child(args, peer.env("300"));
        const bytes_t query = peer.await_query();
        ASSERT_EQ(query.size(), vesk11_test::kQUERY_FRAME_SIZE);
        EXPECT_EQ(query[15], 0x79);
        EXPECT_EQ(query[16], 0x42);
        peer.send(query);
        if (aCase.answered)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            peer.send(vesk11_test::reply_block(0, 42));
        }
        const cli_result run = child.wait();
        EXPECT_EQ(run.out, aCase.out);
        EXPECT_EQ(run.status, aCase.status);
        EXPECT_EQ(vesk11_test::messages(run, 4, "endBlock"),
                  std::vector<std::string>{"data: echo of the query ignored"});
        EXPECT_TRUE(peer.receive(0).empty());
        peer.expect_line_restored();
    }
}

class cli_log_unwritable : public vesk11_test::sim_fixture
{
};

// The log is a diagnostic aid: when its file cannot be written, every run says and returns
// exactly what it would with a working log.
TEST_F(cli_log_unwritable, output_and_status_do_not_depend_on_the_log)
{
    char pattern[] = "/tmp/vesk11-log-dir-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string notDir = vesk11_test::temp_file();
    const std::vector<std::string> unwritable = {
        "LOG2_FILE=" + dir + "/missing/cli.log", // a directory that does not exist
        "LOG2_FILE=" + notDir + "/cli.log",      // a path through a regular file
        "LOG2_FILE=" + dir,                      // a directory
        "LOG2_FILE=/proc/vesk11-cli.log",        // a file system nobody may create files on
    };
    for (bool silent : {false, true})
    {
        sim_options opts = options();
        opts.silent = silent;
        start_sim(opts);
        const cli_result reference = run(kGET_450, env());
        EXPECT_EQ(reference.out, silent ? "fail: poll\nFAIL\n"
                                        : "param_result     0 (0x0)\nparam_data_int   1 (0x1)\n"
                                          "param_data_float 0.000000 (0x1p-149)\nDONE\n");
        for (const std::string& logFile : unwritable)
        {
            SCOPED_TRACE(logFile + (silent ? ", silent sensor" : ""));
            std::vector<std::string> environment = env();
            environment.push_back(logFile);
            const cli_result run = this->run(kGET_450, environment);
            EXPECT_EQ(run.out, reference.out);
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.status, reference.status);
        }
        stop_sim();
    }
    rmdir(dir.c_str());
    unlink(notDir.c_str());
}

// A log that takes nothing costs records, never time: a FIFO without a reader (its records then
// go to a syslog whose queue is full), a FIFO whose reader never reads, a full syslog queue.
TEST_F(cli_log_unwritable, a_stalled_log_never_holds_up_the_run)
{
    start_sim(options());
    const cli_result reference = run(kGET_450, env());
    vesk11_test::stalled_fifo unread;
    vesk11_test::stalled_fifo stalled;
    stalled.open_reader();
    stalled.fill();
    vesk11_test::syslog_listener daemon;
    daemon.fill();
    for (const std::string& logFile :
         {"LOG2_FILE=" + unread.path(), "LOG2_FILE=" + stalled.path(), std::string("LOG2_FILE=")})
    {
        SCOPED_TRACE(logFile);
        std::vector<std::string> environment = env();
        environment.push_back(logFile);
        environment.push_back("LOG2_SYSLOG_SOCKET=" + daemon.path());
        const cli_result run = this->run(kGET_450, environment);
        EXPECT_EQ(run.out, reference.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, reference.status);
        EXPECT_LT(run.elapsed_ms, vesk11_test::within_ms(2000));
    }
}

} // namespace
