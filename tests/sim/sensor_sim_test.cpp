// The simulated sensor over its pseudo-terminal: status stream, queries and replies, the
// parameter model and its commands, reboot, garbage on the line.
#include "sensor_sim.hpp"

#include <chrono>
#include <random>

#include <gtest/gtest.h>

#include "hex_text.hpp"
#include "sim_client.hpp"
#include "uat11.h"

namespace
{

using namespace Orvo::Support::Vesk11Sim;
using namespace vesk11_sim_test;

constexpr int kWAIT_MS = 5000;

uint32_t f32_bits(float aValue)
{
    return Uat4__F32ToBits(aValue);
}

using vesk11_test::hex_bytes;

class sim_sensor : public ::testing::Test
{
  protected:
    void start(const sim_options& aOptions = sim_options{})
    {
        sim_.reset(new sensor_sim(aOptions));
        ASSERT_TRUE(sim_->start()) << sim_->error();
        client_.reset(new sim_client(sim_->path()));
    }
    uint32_t ram(uint16_t aGroup, uint16_t aArray) const
    {
        uint32_t bits = 0;
        EXPECT_TRUE(sim_->ram_value(aGroup, aArray, &bits));
        return bits;
    }
    uint32_t flash(uint16_t aGroup, uint16_t aArray) const
    {
        uint32_t bits = 0;
        EXPECT_TRUE(sim_->flash_value(aGroup, aArray, &bits));
        return bits;
    }

    std::unique_ptr<sensor_sim> sim_;
    std::unique_ptr<sim_client> client_;
};

TEST_F(sim_sensor, streams_one_status_block_per_period_with_a_counter)
{
    sim_options options;
    options.period_ms = 20;
    uint64_t startedAt = get_time_us();
    start(options);
    ASSERT_TRUE(client_->wait_blocks(10, kWAIT_MS));
    for (size_t i = 0; i < 10; ++i)
    {
        const rx_block& block = client_->blocks[i];
        EXPECT_TRUE(block.crc_ok);
        ASSERT_EQ(block.messages.size(), 2u);
        EXPECT_EQ(block.messages[0].ident, kSIM_STATUS_IDENT);
        ASSERT_EQ(block.messages[0].data.size(), 8u);
        EXPECT_FALSE(is_reply_msg2(block.messages[0]));
        EXPECT_EQ(Uat4__GetU32le(&block.messages[0].data[2]), i) << "cycle counter";
        EXPECT_EQ(block.messages[1].ident, kSIM_STATUS_IDENT);
        EXPECT_EQ(block.messages[1].data, hex_bytes("53 51 00 00 00 00 00 00")) << "no queries";
    }
    // The tenth block is not sent before the tenth period has passed (arrival only adds to it).
    EXPECT_GE(client_->blocks[9].end_us, startedAt + 10u * 20000u);
    EXPECT_TRUE(client_->read_until([&] { return sim_->blocks_sent() >= 10u; }, kWAIT_MS));
}

// A paced line never carries more than baud / 10 bytes a second, and a sensor whose blocks
// take longer than its period sends them back to back, so it carries not much less either.
TEST_F(sim_sensor, baud_paces_every_byte_like_a_uart)
{
    for (uint32_t baud : {9600u, 115200u})
    {
        sim_options options;
        options.period_ms = 1;
        options.baud = baud;
        // A reader can only be late, so what it has received never exceeds what the line could
        // carry since the start (plus the block under way), however loaded the machine.
        const auto started = std::chrono::steady_clock::now();
        start(options);
        ASSERT_TRUE(client_->wait_blocks(1, kWAIT_MS)) << baud;
        client_->read_for(500);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const size_t bytes = client_->raw.size();
        EXPECT_LE(static_cast<double>(bytes), seconds * baud / 10 + 36) << baud << " baud";
        EXPECT_GE(bytes, 36u) << baud;
        uat4_action_t action;
        Uat11__InitGetStatusHwAntenna(&action);
        EXPECT_EQ(client_->exchange(action).value, 2u) << baud;
        client_.reset();
        sim_.reset();
    }
}

TEST_F(sim_sensor, records_the_worked_reboot_frame_byte_for_byte)
{
    start();
    ASSERT_TRUE(client_->wait_blocks(1, kWAIT_MS));
    bytes_t frame = hex_bytes("7E 01 0C 00 21 04 00 00 00 00 04 76"
                              "03 FB 08 E8 03 00 04 FF 01 63 A7 03 FB 08 E8 03 01 00 56 01 00 00"
                              "03 FB 08 E8 03 02 00 00 00 00 00 55 7B");
    client_->send(frame);
    ASSERT_TRUE(sim_->wait_for_queries(1, kWAIT_MS));
    sim_query query = sim_->queries().at(0);
    EXPECT_EQ(query.frame, frame);
    EXPECT_EQ(query.group, 1000);
    EXPECT_EQ(query.array, 342);
    EXPECT_EQ(query.action_type, 0);
    EXPECT_EQ(query.value, 0u);
    EXPECT_TRUE(query.batch_crc_ok);
    EXPECT_GT(query.last_block_end_us, 0u);
    EXPECT_GE(query.rx_ts_us, query.last_block_end_us);
}

TEST_F(sim_sensor, decodes_the_worked_float_set_batch)
{
    start();
    bytes_t body = hex_bytes("03 FB 08 D0 07 00 04 FF 01 C2 C9 03 FB 08 D0 07 01 04 32 00 00 00"
                             "03 FB 08 D0 07 02 02 00 00 C0 3F");
    client_->send(frame_of(body.data(), static_cast<uint8_t>(body.size())));
    ASSERT_TRUE(sim_->wait_for_queries(1, kWAIT_MS));
    sim_query query = sim_->queries().at(0);
    EXPECT_EQ(query.group, 2000);
    EXPECT_EQ(query.array, 50);
    EXPECT_EQ(query.action_type, 4);
    EXPECT_EQ(query.value_type, 2);
    EXPECT_EQ(query.value, 0x3FC00000u);
    EXPECT_TRUE(query.batch_crc_ok);
    ASSERT_TRUE(client_->wait_reply(0, kWAIT_MS));
    EXPECT_EQ(parse_reply(client_->blocks[static_cast<size_t>(client_->reply_index())]).value,
              0x3FC00000u);
}

TEST_F(sim_sensor, reply_layout_echoes_the_query)
{
    start();
    uat4_action_t action;
    UatAction4__InitGetParamF32(&action, 2000, 52, 0, 0);
    rx_reply reply = client_->exchange(action);
    EXPECT_EQ(reply.ident, kSIM_REPLY_IDENT);
    EXPECT_EQ(reply.msg1_udt, kUAT4_REPLY_MSG1_UDT_INDEX);
    EXPECT_EQ(reply.msg3_udt, kUAT4_REPLY_MSG3_UDT_INDEX);
    EXPECT_EQ(reply.group, 2000);
    EXPECT_EQ(reply.array, 52);
    EXPECT_EQ(reply.value_type, 2);
    EXPECT_EQ(reply.result, kRESULT_OK);
    EXPECT_EQ(reply.value, f32_bits(1.5f));
    EXPECT_EQ(reply.dim0, 0);
    EXPECT_EQ(reply.dim1, 0);
    const rx_block& block = client_->blocks[static_cast<size_t>(client_->reply_index())];
    EXPECT_TRUE(block.crc_ok);
    // Only message 2 may start with 0x79 0x42.
    EXPECT_FALSE(is_reply_msg2(block.messages[0]));
    EXPECT_TRUE(is_reply_msg2(block.messages[1]));
    EXPECT_FALSE(is_reply_msg2(block.messages[2]));
}

struct get_case
{
    void (*init)(uat4_action_t*);
    uint16_t group;
    uint16_t array;
    uint32_t expected;
    uint32_t given; // with --serial 42 --firmware 1.2.3.4
};

TEST_F(sim_sensor, gets_of_every_catalogue_status_value)
{
    const get_case cases[] = {
        {Uat11__InitGetStatusHwSerial, 2003, 9, 10597059, 42},
        {Uat11__InitGetStatusHwAntenna, 2003, 7, 2, 2},
        {Uat11__InitGetStatusFwVersionGen, 2003, 2, 11, 1},
        {Uat11__InitGetStatusFwVersionMajor, 2003, 3, 4, 2},
        {Uat11__InitGetStatusFwVersionMinor, 2003, 4, 2, 3},
        {Uat11__InitGetStatusFwVersionPatch, 2003, 5, 7, 4},
        {Uat11__InitGetStatusAppType, 2003, 32, 3, 3},
        {Uat11__InitGetStatusAppVariant, 2003, 18, 1, 1},
        {Uat11__InitGetStatusAppVersionMajor, 2003, 14, 1, 1},
        {Uat11__InitGetStatusAppVersionMinor, 2003, 15, 6, 6},
        {Uat11__InitGetStatusAppVersionPatch, 2003, 16, 0, 0},
        {Uat11__InitGetStatusAccRoll, 2003, 23, static_cast<uint32_t>(-2),
         static_cast<uint32_t>(-2)},
        {Uat11__InitGetStatusAccPitch, 2003, 24, 5, 5},
        {Uat11__InitGetStatusAccCalib, 2003, 25, 1, 1},
        {Uat11__InitGetParamTemp, 2003, 26, 38, 38},
    };
    sim_options given;
    given.identity = {42, {1, 2, 3, 4}};
    for (const sim_options& options : {sim_options{}, given})
    {
        start(options);
        for (const get_case& c : cases)
        {
            const uint32_t expected = options.identity.serial == 42 ? c.given : c.expected;
            uat4_action_t action;
            c.init(&action);
            rx_reply reply = client_->exchange(action);
            EXPECT_EQ(reply.result, kRESULT_OK) << c.array;
            EXPECT_EQ(reply.group, c.group);
            EXPECT_EQ(reply.array, c.array);
            EXPECT_EQ(reply.value_type, 0) << c.array;
            EXPECT_EQ(reply.value, expected) << c.array;
            EXPECT_EQ(ram(c.group, c.array), expected);
        }
    }
}

TEST_F(sim_sensor, get_param_answers_the_ram_copy_typed_as_the_catalogue)
{
    struct param_case
    {
        uint16_t array;
        uint8_t value_type;
        uint32_t expected;
    };
    const param_case cases[] = {
        {50, 2, f32_bits(0.25f)},
        {51, 2, f32_bits(-0.5f)},
        {55, 2, f32_bits(10.0f)},
        {104, 0, 1},
        {450, 0, 1},
        {451, 2, f32_bits(0.0f)},
        {456, 2, f32_bits(50.0f)},
        {460, 2, f32_bits(250.0f)},
    };
    start();
    for (const param_case& c : cases)
    {
        uat4_action_t action;
        UatAction4__InitGetParamI32(&action, 2000, c.array, 0, 0);
        rx_reply reply = client_->exchange(action);
        EXPECT_EQ(reply.result, kRESULT_OK) << c.array;
        EXPECT_EQ(reply.value_type, c.value_type) << c.array;
        EXPECT_EQ(reply.value, c.expected) << c.array;
    }
}

TEST_F(sim_sensor, set_stores_in_ram_only_and_reads_back)
{
    start();
    uat4_action_t action;
    Uat11__InitSetGetParamRdfSpeedLimit3Max(&action, 12.5f);
    rx_reply reply = client_->exchange(action);
    EXPECT_EQ(reply.result, kRESULT_OK);
    EXPECT_EQ(reply.value, f32_bits(12.5f));
    EXPECT_EQ(ram(2000, 456), f32_bits(12.5f));
    EXPECT_EQ(flash(2000, 456), f32_bits(50.0f));

    UatAction4__InitSetParamI32(&action, 2000, 104, 0, 0, 0); // plain set, type 2
    reply = client_->exchange(action);
    EXPECT_EQ(reply.result, kRESULT_OK);
    EXPECT_EQ(reply.value, 0u);

    UatAction4__InitGetParamF32(&action, 2000, 456, 0, 0);
    EXPECT_EQ(client_->exchange(action).value, f32_bits(12.5f));
    UatAction4__InitGetParamI32(&action, 2000, 104, 0, 0);
    EXPECT_EQ(client_->exchange(action).value, 0u);
}

TEST_F(sim_sensor, commands_move_the_configuration_between_ram_and_flash)
{
    start();
    uat4_action_t action;
    Uat11__InitSetGetParamX(&action, 7.0f);
    client_->exchange(action);

    Uat11__InitCommandUpdateFlashConf(&action, 0xFFFFFFFF);
    rx_reply reply = client_->exchange(action);
    EXPECT_EQ(reply.result, kRESULT_OK);
    EXPECT_EQ(reply.value, 0xFFFFFFFFu) << "a command answers its argument";
    EXPECT_EQ(flash(2000, 50), f32_bits(7.0f));

    Uat11__InitSetGetParamX(&action, 8.0f);
    client_->exchange(action);
    Uat11__InitCommandResetRamConf(&action, 2000);
    EXPECT_EQ(client_->exchange(action).result, kRESULT_OK);
    EXPECT_EQ(ram(2000, 50), f32_bits(7.0f));

    Uat11__InitCommandResetFlashConf(&action, 0xFFFFFFFF);
    EXPECT_EQ(client_->exchange(action).result, kRESULT_OK);
    EXPECT_EQ(flash(2000, 50), f32_bits(0.25f));
    EXPECT_EQ(ram(2000, 50), f32_bits(7.0f)) << "RAM untouched by a flash reset";
}

// Action with its type patched and the batch checksum computed again.
bytes_t patched_frame(const uat4_action_t& aAction, uint8_t aType, bool aBreakBatchCrc)
{
    uat4_query_batch batch{};
    UatAction4__EncodeQueryBatch(&batch, &aAction);
    batch.msg1.data.query_action_type = aType;
    uint16_t crc = UatAction4__BatchCrc16(&batch);
    Uat4__PutU16le(batch.header.data.batch_crc16,
                   aBreakBatchCrc ? static_cast<uint16_t>(crc ^ 0x0100) : crc);
    return frame_of(&batch, sizeof batch);
}

TEST_F(sim_sensor, refusals_carry_their_result_codes)
{
    struct refusal_case
    {
        const char* what;
        uat4_action_t action;
        uint8_t type;
        bool break_crc;
        uint8_t expected;
    };
    std::vector<refusal_case> cases;
    uat4_action_t action;
    UatAction4__InitGetParamI32(&action, 2000, 50, 0, 0);
    cases.push_back({"bad batch checksum", action, 3, true, kRESULT_BAD_BATCH_CRC});
    UatAction4__InitGetParamI32(&action, 1234, 50, 0, 0);
    cases.push_back({"unknown group", action, 3, false, kRESULT_UNKNOWN_GROUP});
    UatAction4__InitGetParamI32(&action, 2000, 999, 0, 0);
    cases.push_back({"unknown identifier", action, 3, false, kRESULT_UNKNOWN_ID});
    UatAction4__InitCommandU32(&action, 1000, 343, 0);
    cases.push_back({"unknown command", action, 0, false, kRESULT_UNKNOWN_ID});
    UatAction4__InitSetGetParamI32(&action, 2003, 9, 5, 0, 0);
    cases.push_back({"set of a status value", action, 4, false, kRESULT_READ_ONLY});
    UatAction4__InitGetParamI32(&action, 2000, 50, 0, 0);
    cases.push_back({"action type 5", action, 5, false, kRESULT_UNKNOWN_ACTION});
    UatAction4__InitCommandU32(&action, 1000, 344, 5);
    cases.push_back({"command argument", action, 0, false, kRESULT_BAD_ARGUMENT});
    UatAction4__InitCommandU32(&action, 2000, 50, 0);
    cases.push_back({"command on a parameter", action, 0, false, kRESULT_WRONG_ACTION});
    UatAction4__InitGetParamI32(&action, 1000, 344, 0, 0);
    cases.push_back({"get of a command", action, 3, false, kRESULT_WRONG_ACTION});
    UatAction4__InitSetGetParamI32(&action, 2000, 50, 3, 0, 0);
    cases.push_back({"integer set of a float", action, 4, false, kRESULT_WRONG_TYPE});
    UatAction4__InitGetParamF32(&action, 2000, 50, 1, 0);
    cases.push_back({"array dimension", action, 3, false, kRESULT_BAD_INDEX});

    start();
    for (const refusal_case& c : cases)
    {
        size_t from = client_->blocks.size();
        client_->send(patched_frame(c.action, c.type, c.break_crc));
        ASSERT_TRUE(client_->wait_reply(from, kWAIT_MS)) << c.what;
        rx_reply reply =
            parse_reply(client_->blocks[static_cast<size_t>(client_->reply_index(from))]);
        EXPECT_EQ(reply.result, c.expected) << c.what;
    }
    EXPECT_EQ(ram(2000, 50), f32_bits(0.25f)) << "no refused set was stored";
    EXPECT_FALSE(sim_->queries().at(0).batch_crc_ok);
    EXPECT_TRUE(sim_->queries().at(1).batch_crc_ok);
}

TEST_F(sim_sensor, reboot_replies_then_stays_silent_then_reloads_ram_from_flash)
{
    sim_options options;
    options.period_ms = 20;
    options.reboot_ms = 1000;
    start(options);
    uat4_action_t action;
    Uat11__InitSetGetParamRdfSpeedLimitEnable(&action, 0);
    client_->exchange(action);
    ASSERT_EQ(ram(2000, 450), 0u);

    Uat11__InitCommandReboot(&action);
    size_t from = client_->blocks.size();
    rx_reply reply = client_->exchange(action);
    EXPECT_EQ(reply.result, kRESULT_OK);
    size_t replyAt = static_cast<size_t>(client_->reply_index(from));
    // A query sent during the silence is not heard.
    client_->send_action(action);
    ASSERT_TRUE(client_->wait_blocks(replyAt + 2, kWAIT_MS));
    const rx_block& next = client_->blocks[replyAt + 1];
    // The reply went out after the reboot query arrived; silence follows it.
    EXPECT_GE(next.end_us, sim_->queries().at(1).rx_ts_us + 1000000u);
    EXPECT_EQ(Uat4__GetU32le(&next.messages.at(0).data[2]), 0u) << "counter restarts";
    EXPECT_EQ(next.messages.at(0).data[7], 1) << "one reboot";
    EXPECT_EQ(ram(2000, 450), 1u);
    EXPECT_EQ(sim_->queries().size(), 2u);
}

TEST_F(sim_sensor, reply_delay_sends_that_many_status_blocks_first)
{
    sim_options options;
    options.period_ms = 150; // the query surely arrives before the slot after the trigger
    options.reply_delay = 3;
    start(options);
    ASSERT_TRUE(client_->wait_blocks(1, kWAIT_MS));
    size_t trigger = client_->blocks.size();
    ASSERT_TRUE(client_->wait_blocks(trigger + 1, kWAIT_MS)); // a fresh block
    uat4_action_t action;
    Uat11__InitGetStatusHwAntenna(&action);
    client_->send_action(action);
    ASSERT_TRUE(client_->wait_reply(trigger, kWAIT_MS));
    size_t replyAt = static_cast<size_t>(client_->reply_index(trigger));
    EXPECT_EQ(replyAt - trigger - 1, 3u) << "status blocks between the trigger and the reply";
}

// Like a real sensor it holds one query: a newer one replaces it unanswered and never carried
// out, and the status block counts the replaced ones. Memory stays flat however many come.
TEST_F(sim_sensor, a_burst_of_queries_gets_one_reply_for_the_newest)
{
    constexpr size_t kBURST = kSIM_QUERIES_KEPT + 76;
    sim_options options;
    options.period_ms = 150; // the whole burst is read between two slots
    start(options);
    ASSERT_TRUE(client_->wait_blocks(1, kWAIT_MS));
    uat4_action_t action;
    Uat11__InitSetGetParamRdfSpeedLimitEnable(&action, 0); // replaced: never carried out
    bytes_t burst = query_frame(action);
    for (size_t i = 1; i < kBURST; ++i)
    {
        UatAction4__InitGetParamF32(&action, 2000, static_cast<uint16_t>(50 + i % 6), 0, 0);
        bytes_t frame = query_frame(action);
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    size_t from = client_->blocks.size();
    client_->send(burst);
    ASSERT_TRUE(sim_->wait_for_queries(kBURST, kWAIT_MS));
    EXPECT_EQ(sim_->queries().size(), kSIM_QUERIES_KEPT) << "the first ones are kept";
    EXPECT_EQ(sim_->queries().back().array, 50 + (kSIM_QUERIES_KEPT - 1) % 6);
    ASSERT_TRUE(client_->wait_reply(from, kWAIT_MS));
    size_t at = static_cast<size_t>(client_->reply_index(from));
    EXPECT_EQ(parse_reply(client_->blocks[at]).array, 50 + (kBURST - 1) % 6) << "the newest";
    ASSERT_TRUE(client_->wait_blocks(at + 4, kWAIT_MS));
    EXPECT_EQ(client_->reply_index(at + 1), -1) << "no backlog of stale replies";
    const bytes_t& counters = client_->blocks[at + 1].messages.at(1).data;
    EXPECT_EQ(Uat4__GetU32le(&counters[2]), kBURST - 1) << "queries replaced";
    EXPECT_EQ(Uat4__GetU16le(&counters[6]), kBURST) << "queries received";
    EXPECT_EQ(ram(2000, 450), 1u) << "the replaced set was not carried out";
}

TEST_F(sim_sensor, garbage_on_the_line_is_survived)
{
    start();
    std::mt19937 random(4);
    bytes_t garbage(2000);
    for (uint8_t& byte : garbage)
        byte = static_cast<uint8_t>(random());
    garbage[100] = 0x7E; // a start byte followed by a plausible header start
    garbage[101] = 0x01;
    garbage[102] = 0x0C;
    client_->send(garbage);
    // A header that never ends would swallow the query: a second one is always heard.
    uat4_action_t action;
    Uat11__InitGetStatusHwSerial(&action);
    bool answered = false;
    for (int attempt = 0; attempt < 5 && !answered; ++attempt)
    {
        size_t from = client_->blocks.size();
        client_->send_action(action);
        answered = client_->wait_reply(from, 1000);
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(parse_reply(client_->blocks[static_cast<size_t>(client_->reply_index())]).value,
              10597059u);
}

TEST_F(sim_sensor, a_client_closing_the_line_does_not_hang_it_up)
{
    start();
    uat4_action_t action;
    Uat11__InitGetStatusHwAntenna(&action);
    client_->exchange(action);
    client_.reset(new sim_client(sim_->path())); // the first one closed
    EXPECT_EQ(client_->exchange(action).value, 2u);
    EXPECT_FALSE(client_->hung_up);
}

TEST(sensor_sim_api, model_lookups_refuse_unknown_identifiers_and_stop_is_idempotent)
{
    sensor_sim sim{sim_options{}};
    uint32_t bits = 0;
    EXPECT_FALSE(sim.ram_value(2000, 999, &bits));
    EXPECT_FALSE(sim.flash_value(1000, 342, &bits)) << "a command has no value";
    EXPECT_TRUE(sim.flash_value(2003, 9, &bits));
    EXPECT_EQ(bits, 10597059u);
    ASSERT_TRUE(sim.start()) << sim.error();
    EXPECT_EQ(sim.path().rfind("/dev/pts/", 0), 0u) << sim.path();
    EXPECT_FALSE(sim.start()) << "one lifetime per object";
    sim.stop();
    sim.stop();
}

} // namespace
