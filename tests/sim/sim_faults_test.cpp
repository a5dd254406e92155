// Every fault the simulated sensor injects, seen from the client's side of the line, and the
// simulator driving a serial device instead of its own pseudo-terminal.
#include "sensor_sim.hpp"

#include <gtest/gtest.h>

#include "pty_pair.hpp"
#include "sim_client.hpp"
#include "uat11.h"

namespace
{

using namespace Orvo::Support::Vesk11Sim;
using namespace vesk11_sim_test;

constexpr int kWAIT_MS = 5000;

struct running_sim
{
    explicit running_sim(const sim_options& aOptions) : sim(aOptions)
    {
        started = sim.start();
        EXPECT_TRUE(started) << sim.error();
        if (started)
            client.reset(new sim_client(sim.path()));
    }
    sensor_sim sim;
    bool started = false;
    std::unique_ptr<sim_client> client;
};

sim_options fast(void (*aSet)(sim_options&))
{
    sim_options options;
    options.period_ms = 20;
    aSet(options);
    return options;
}

uat4_action_t antenna()
{
    uat4_action_t action;
    Uat11__InitGetStatusHwAntenna(&action);
    return action;
}

TEST(sim_faults, silent_sends_nothing_but_still_hears_queries)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.silent = true; }));
    ASSERT_TRUE(run.started);
    run.client->send_action(antenna());
    ASSERT_TRUE(run.sim.wait_for_queries(1, kWAIT_MS));
    run.client->read_for(300);
    EXPECT_TRUE(run.client->raw.empty());
    EXPECT_EQ(run.sim.blocks_sent(), 0u);
}

TEST(sim_faults, no_reply_streams_but_never_answers)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.no_reply = true; }));
    ASSERT_TRUE(run.started);
    run.client->send_action(antenna());
    ASSERT_TRUE(run.sim.wait_for_queries(1, kWAIT_MS));
    size_t from = run.client->blocks.size();
    ASSERT_TRUE(run.client->wait_blocks(from + 10, kWAIT_MS));
    EXPECT_EQ(run.client->reply_index(), -1);
}

TEST(sim_faults, bad_crc_spoils_the_first_blocks_only)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.bad_crc = 3; }));
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.client->wait_blocks(6, kWAIT_MS));
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(run.client->blocks[i].crc_ok, i >= 3) << i;
    EXPECT_EQ(run.client->blocks[0].messages.size(), 2u) << "messages still delivered";
}

TEST(sim_faults, noise_between_blocks_leaves_every_block_intact)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.noise = true; }));
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.client->wait_blocks(10, kWAIT_MS));
    size_t frameBytes = 0;
    for (const rx_block& block : run.client->blocks)
    {
        EXPECT_TRUE(block.crc_ok);
        frameBytes += kHEAD485_SIZE + 11 * block.messages.size() + kTRAILER485_SIZE;
    }
    EXPECT_GT(run.client->raw.size(), frameBytes + run.client->blocks.size() - 1)
        << "at least one garbage byte before every block";
    EXPECT_EQ(run.client->exchange(antenna()).value, 2u);
}

TEST(sim_faults, split_writes_arrive_in_pieces_and_still_decode)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.split = true; }));
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.client->wait_blocks(20, kWAIT_MS));
    for (const rx_block& block : run.client->blocks)
        EXPECT_TRUE(block.crc_ok);
    EXPECT_GT(run.client->reads, run.client->blocks.size()) << "some block came in pieces";
    EXPECT_EQ(run.client->exchange(antenna()).value, 2u);
}

TEST(sim_faults, forced_result_replaces_the_code_and_the_set_still_happens)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.force_result = 7; }));
    ASSERT_TRUE(run.started);
    uat4_action_t action;
    Uat11__InitSetGetParamRdfSpeedLimit1Max(&action, 20.0f);
    rx_reply reply = run.client->exchange(action);
    EXPECT_EQ(reply.result, 7);
    EXPECT_EQ(reply.value, Uat4__F32ToBits(20.0f));
    uint32_t bits = 0;
    ASSERT_TRUE(run.sim.ram_value(2000, 452, &bits));
    EXPECT_EQ(bits, Uat4__F32ToBits(20.0f));
}

uint32_t ram(const sensor_sim& aSim, uint16_t aGroup, uint16_t aArray)
{
    uint32_t bits = 0;
    EXPECT_TRUE(aSim.ram_value(aGroup, aArray, &bits));
    return bits;
}

// Only the K-th set (plain or with read-back) is refused, and it changes nothing; it answers the
// value the sensor still holds, so that with code 0 the read-back differs from what was written.
TEST(sim_faults, refuse_set_refuses_the_kth_set_only)
{
    struct refuse_case
    {
        const char* what;
        int code; // -1: left at its default
        uint8_t expected;
    };
    const refuse_case cases[] = {
        {"default code", -1, 8},
        {"code 0", 0, 0},
        {"code 200", 200, 200},
    };
    for (const refuse_case& c : cases)
    {
        sim_options options;
        options.period_ms = 20;
        options.refuse_set = 2;
        if (c.code >= 0)
            options.refuse_set_result = static_cast<uint8_t>(c.code);
        running_sim run(options);
        ASSERT_TRUE(run.started);
        uat4_action_t action;
        UatAction4__InitGetParamI32(&action, 2000, 450, 0, 0);
        EXPECT_EQ(run.client->exchange(action).result, kRESULT_OK) << c.what << ": a get";
        Uat11__InitSetGetParamRdfSpeedLimit1Max(&action, 20.0f);
        EXPECT_EQ(run.client->exchange(action).result, kRESULT_OK) << c.what << ": set 1";
        Uat11__InitSetGetParamRdfSpeedLimit2Max(&action, 33.0f);
        rx_reply refused = run.client->exchange(action);
        EXPECT_EQ(refused.result, c.expected) << c.what << ": set 2";
        EXPECT_EQ(refused.value, Uat4__F32ToBits(30.0f)) << c.what << ": the value still held";
        EXPECT_EQ(refused.value_type, 2) << c.what;
        UatAction4__InitSetParamI32(&action, 2000, 104, 0, 0, 0);
        EXPECT_EQ(run.client->exchange(action).result, kRESULT_OK) << c.what << ": set 3";
        EXPECT_EQ(ram(run.sim, 2000, 452), Uat4__F32ToBits(20.0f)) << c.what;
        EXPECT_EQ(ram(run.sim, 2000, 454), Uat4__F32ToBits(30.0f)) << c.what << ": not applied";
        EXPECT_EQ(ram(run.sim, 2000, 104), 0u) << c.what;
    }
}

// The K-th reply is lost though its query was carried out.
TEST(sim_faults, drop_reply_loses_the_kth_reply_only)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.drop_reply = 2; }));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.client->exchange(antenna()).value, 2u);
    uat4_action_t action;
    Uat11__InitSetGetParamRdfSpeedLimitEnable(&action, 0);
    size_t from = run.client->blocks.size();
    run.client->send_action(action);
    ASSERT_TRUE(run.sim.wait_for_queries(2, kWAIT_MS));
    ASSERT_TRUE(run.client->wait_blocks(from + 5, kWAIT_MS));
    EXPECT_EQ(run.client->reply_index(from), -1);
    EXPECT_EQ(ram(run.sim, 2000, 450), 0u) << "carried out";
    EXPECT_EQ(run.client->exchange(antenna()).value, 2u) << "later replies are sent";
}

// After its N-th reply the sensor sends nothing more, as if it died mid-session.
TEST(sim_faults, silent_after_stops_all_sending_after_n_replies)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.silent_after = 2; }));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.client->exchange(antenna()).value, 2u);
    size_t from = run.client->blocks.size();
    EXPECT_EQ(run.client->exchange(antenna()).value, 2u);
    size_t last = static_cast<size_t>(run.client->reply_index(from));
    run.client->send_action(antenna());
    ASSERT_TRUE(run.sim.wait_for_queries(3, kWAIT_MS)) << "it still hears";
    run.client->read_for(300);
    EXPECT_EQ(run.client->blocks.size(), last + 1) << "nothing after the second reply";
    size_t raw = run.client->raw.size();
    run.client->read_for(100);
    EXPECT_EQ(run.client->raw.size(), raw);
}

TEST(sim_faults, hangup_after_query_closes_the_line_unanswered)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.hangup_after_query = true; }));
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.client->wait_blocks(1, kWAIT_MS));
    run.client->send_action(antenna());
    ASSERT_TRUE(run.sim.wait_for_queries(1, kWAIT_MS));
    EXPECT_TRUE(run.client->read_until([&] { return run.client->hung_up; }, kWAIT_MS));
    EXPECT_EQ(run.client->reply_index(), -1);
}

TEST(sim_faults, stray_reply_comes_before_any_query_and_stops_after_one)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.stray_reply = true; }));
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.client->wait_blocks(3, kWAIT_MS));
    for (size_t i = 0; i < 3; ++i)
    {
        ASSERT_TRUE(has_reply(run.client->blocks[i]));
        EXPECT_EQ(parse_reply(run.client->blocks[i]).value, kSIM_STRAY_VALUE);
    }
    run.client->send_action(antenna());
    ASSERT_TRUE(run.sim.wait_for_queries(1, kWAIT_MS));
    // Strays still in flight, then the real reply, then status blocks only.
    ASSERT_TRUE(run.client->read_until(
        [&]
        {
            for (const rx_block& block : run.client->blocks)
            {
                if (has_reply(block) && parse_reply(block).value == 2u)
                    return true;
            }
            return false;
        },
        kWAIT_MS));
    size_t from = run.client->blocks.size();
    ASSERT_TRUE(run.client->wait_blocks(from + 5, kWAIT_MS));
    EXPECT_EQ(run.client->reply_index(from), -1);
}

TEST(sim_faults, corrupt_reply_spoils_the_reply_block_only)
{
    running_sim run(fast([](sim_options& aOptions) { aOptions.corrupt_reply = true; }));
    ASSERT_TRUE(run.started);
    size_t from = run.client->blocks.size();
    run.client->send_action(antenna());
    ASSERT_TRUE(run.client->wait_reply(from, kWAIT_MS));
    size_t at = static_cast<size_t>(run.client->reply_index(from));
    EXPECT_FALSE(run.client->blocks[at].crc_ok);
    ASSERT_TRUE(run.client->wait_blocks(at + 2, kWAIT_MS));
    EXPECT_TRUE(run.client->blocks[at + 1].crc_ok);
}

TEST(sim_device, drives_a_serial_device_given_by_path)
{
    vesk11_test::pty_pair cable;
    ASSERT_TRUE(cable.is_open());
    sim_options options;
    options.period_ms = 20;
    options.device_path = cable.path();
    sensor_sim sim(options);
    ASSERT_TRUE(sim.start()) << sim.error();
    EXPECT_EQ(sim.path(), cable.path());
    sim_client client(cable.release_master()); // the far end of the "cable"
    EXPECT_EQ(client.exchange(antenna()).value, 2u);
    sim.stop(); // before the cable is cut
}

} // namespace
