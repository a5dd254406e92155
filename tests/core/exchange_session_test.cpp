// The exchange engine over one open link: many queries in a row, each judged by its own reply;
// a late answer to an earlier query, a lost reply, a vanished device and a stop signal mid-session.
#include <csignal>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli_child.hpp"
#include "exchange.h"
#include "pty_peer.hpp"
#include "uat4/uat4.h"

namespace
{

using vesk11_test::bytes_t;

// An open session on aPath; closed (line restored) by the destructor.
class session
{
  public:
    session(const std::string& aPath, int aToutMs, volatile sig_atomic_t* aStop = nullptr)
    {
        com_transport_args args{};
        std::strncpy(args.endpoint_path, aPath.c_str(), sizeof args.endpoint_path - 1);
        exchange_config config{};
        config.tout_ms = aToutMs;
        config.stop_signal = aStop;
        EXPECT_EQ(Exchange__Open(&session_, &args, Transport__InitCom, &config),
                  kEXCHANGE_OPEN_DONE);
    }
    ~session() { Exchange__Close(session_); }
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    exchange_outcome get(uint16_t aGroup, uint16_t aArray, bool aFloat = false)
    {
        uat4_action action{};
        if (aFloat)
            UatAction4__InitGetParamF32(&action, aGroup, aArray, 0, 0);
        else
            UatAction4__InitGetParamI32(&action, aGroup, aArray, 0, 0);
        return query(action);
    }
    exchange_outcome query(const uat4_action& aAction)
    {
        exchange_outcome outcome{};
        Exchange__Query(session_, &aAction, &outcome);
        return outcome;
    }

  private:
    exchange_session* session_ = nullptr;
};

class exchange_session_sim : public vesk11_test::sim_fixture
{
};

// Every query of the session gets the answer to itself, and the next one goes out with the block
// that carried the previous reply: N queries take about N + 1 of the sensor's blocks.
TEST_F(exchange_session_sim, queries_in_a_row_each_get_their_own_reply)
{
    start_sim(options(10));
    session link(sim_->path(), 200);
    const uint64_t blocksBefore = sim_->blocks_sent();
    for (uint16_t array = 50; array <= 55; ++array)
    {
        SCOPED_TRACE(array);
        const exchange_outcome got = link.get(2000, array, true);
        uint32_t bits = 0;
        ASSERT_TRUE(sim_->ram_value(2000, array, &bits));
        EXPECT_EQ(got.status, kEXCHANGE_ACCEPTED);
        EXPECT_EQ(got.value_bits, bits);
    }
    uat4_action set{};
    UatAction4__InitSetGetParamI32(&set, 2000, 450, 7, 0, 0);
    EXPECT_EQ(link.query(set).status, kEXCHANGE_ACCEPTED);
    const exchange_outcome back = link.get(2000, 450);
    EXPECT_EQ(back.status, kEXCHANGE_ACCEPTED);
    EXPECT_EQ(back.value_bits, 7u);
    EXPECT_EQ(sim_->queries().size(), 8u);
    // (one block to start, one per reply, and slack for a slow machine)
    EXPECT_LE(sim_->blocks_sent() - blocksBefore, 8u + 4u);
}

// The sensor as the test plays it: a reply after the first query's silence comes too late and
// names the first parameter; the second query must wait for its own.
TEST(exchange_session, late_lost_and_vanished_replies_stay_with_their_query)
{
    vesk11_test::pty_peer peer;
    std::promise<void> firstEnded;
    std::thread sensor(
        [&peer, ended = firstEnded.get_future()]
        {
            peer.await_query(); // query 1: then silence until it has ended without input
            ended.wait();
            peer.await_query();                    // query 2 goes out after this status block
            peer.send(vesk11_test::full_reply_block(0, 111, 2000, 50)); // late answer to query 1
            peer.send(vesk11_test::full_reply_block(0, 222, 2000, 51));
            peer.await_query(); // query 3: its reply is lost; the sensor streams on
            peer.await_query(); // query 4 comes once query 3 has given up: answered
            peer.send(vesk11_test::full_reply_block(0, 444, 2000, 53));
            peer.receive(100);
            peer.close_master();                   // then the device vanishes
        });
    {
        session link(peer.path(), 200);
        EXPECT_EQ(link.get(2000, 50).status, kEXCHANGE_NO_INPUT);
        firstEnded.set_value();
        const exchange_outcome second = link.get(2000, 51);
        EXPECT_EQ(second.status, kEXCHANGE_ACCEPTED) << int{second.status};
        EXPECT_EQ(second.value_bits, 222u);
        const exchange_outcome third = link.get(2000, 52);
        EXPECT_EQ(third.status, kEXCHANGE_NO_REPLY);
        EXPECT_EQ(third.deadline_ms, 2000);
        const exchange_outcome fourth = link.get(2000, 53);
        EXPECT_EQ(fourth.status, kEXCHANGE_ACCEPTED);
        EXPECT_EQ(fourth.value_bits, 444u);
        sensor.join();
        const exchange_outcome lostLine = link.get(2000, 54);
        EXPECT_TRUE(lostLine.status == kEXCHANGE_LINK_LOST || lostLine.status == kEXCHANGE_HUNG_UP)
            << int{lostLine.status};
        // Once the device is gone the session answers at once, without touching it.
        const exchange_outcome after = link.get(2000, 55);
        EXPECT_EQ(after.status, lostLine.status);
        EXPECT_FALSE(after.sent);
    }
}

// A stop signal ends the query it meets without sending anything.
TEST(exchange_session, stop_signal_ends_the_query)
{
    vesk11_test::pty_peer peer;
    volatile sig_atomic_t stop = SIGTERM;
    session link(peer.path(), 1000, &stop);
    const exchange_outcome got = link.get(2000, 50);
    EXPECT_EQ(got.status, kEXCHANGE_STOPPED);
    EXPECT_EQ(got.signal, SIGTERM);
    EXPECT_FALSE(got.sent);
    EXPECT_TRUE(peer.receive(50).empty());
}

} // namespace
