// The exchange in-process against a scripted sensor on a pty: replies the simulated sensor never
// sends (a short reply message, two replies in one block) and the outcome of the operation.
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "api_call.hpp"
#include "block_frame.hpp"
#include "log_capture.hpp"
#include "pty_pair.hpp"

namespace
{

using bytes_t = std::vector<uint8_t>;

// A sensor that sends status blocks until the batch arrives, then the scripted blocks.
class scripted_sensor
{
  public:
    explicit scripted_sensor(std::vector<bytes_t> aAfterBatch)
        : after_(std::move(aAfterBatch)), pty_(vesk11_test::pty_mode_t::kRAW)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~scripted_sensor() { thread_.join(); }
    scripted_sensor(const scripted_sensor&) = delete;
    scripted_sensor& operator=(const scripted_sensor&) = delete;

    const std::string& path() const { return pty_.path(); }

  private:
    void run()
    {
        const bytes_t status = vesk11_test::block_of_messages({{0x02, 0x00, 2, 0x53, 0x54}});
        size_t received = 0;
        for (int slot = 0; slot < 200 && received < vesk11_test::kQUERY_FRAME_SIZE; ++slot)
        {
            EXPECT_EQ(write(pty_.master(), status.data(), status.size()),
                      static_cast<ssize_t>(status.size()));
            pollfd input{pty_.master(), POLLIN, 0};
            uint8_t buffer[64];
            if (poll(&input, 1, 10) == 1)
                received += static_cast<size_t>(
                    std::max<ssize_t>(read(pty_.master(), buffer, sizeof buffer), 0));
        }
        ASSERT_EQ(received, vesk11_test::kQUERY_FRAME_SIZE);
        for (const bytes_t& block : after_)
            EXPECT_EQ(write(pty_.master(), block.data(), block.size()),
                      static_cast<ssize_t>(block.size()));
    }

    std::vector<bytes_t> after_;
    vesk11_test::pty_pair pty_;
    std::thread thread_;
};

// Runs getParamI32 against the script; the standard output it printed, and whether it threw.
std::string _T_exchange(const std::vector<bytes_t>& aAfterBatch, bool* aThrew)
{
    scripted_sensor sensor(aAfterBatch);
    setenv("VESK11_CLI_ENDPOINT", sensor.path().c_str(), 1);
    setenv("VESK11_CLI_TOUT", "100", 1);
    return vesk11_test::call_get_param_i32(Orvo::Support::Vesk11Cli::Uat4::Api__Create(), 2000, 450,
                                           aThrew);
}

TEST(uat4_api, short_reply_message_is_ignored)
{
    vesk11_test::log_capture log;
    bool threw = false;
    const std::string out = _T_exchange({vesk11_test::block_of_messages({vesk11_test::reply_msg(0, 5, 7)})}, &threw);
    EXPECT_EQ(out, "fail: poll\n");
    EXPECT_TRUE(threw);
    EXPECT_TRUE(log.has(3, "handleDataEvent", "FAIL")) << log.dump();
}

TEST(uat4_api, first_whole_reply_of_a_good_block_is_the_answer)
{
    vesk11_test::log_capture log;
    bool threw = true;
    const std::string out =
        _T_exchange({vesk11_test::block_of_messages({vesk11_test::reply_msg(0, 6, 7), vesk11_test::reply_msg(0, 7), vesk11_test::reply_msg(0, 8)}),
                     vesk11_test::block_of_messages({vesk11_test::reply_msg(0, 9)})},
                    &threw);
    EXPECT_EQ(out, "param_result     0 (0x0)\nparam_data_int   7 (0x7)\n"
                   "param_data_float 0.000000 (0x1.cp-147)\n");
    EXPECT_FALSE(threw);
    // The rx record holds the accepted block's messages as decoded: ident, size, data.
    EXPECT_TRUE(log.has(4, "acceptReply",
                        "data: rx <03 fc 07 79 42 01 00 06 00 00 03 fc 08 79 42 01 00 07 00 00 "
                        "00 03 fc 08 79 42 01 00 08 00 00 00>"))
        << log.dump();
}

} // namespace
