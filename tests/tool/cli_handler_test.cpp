// The dispatcher against a mock sensor API: which command lines reach which call with which
// arguments, which give the usage text, and what each failure logs.
#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_handler.hpp"
#include "exceptions.hpp"
#include "log_capture.hpp"

namespace
{

using namespace Orvo::Support;
using namespace Orvo::Support::Vesk11Cli;
using ::testing::StrictMock;

class mock_api : public Uat4::api_like
{
  public:
    MOCK_METHOD(void, execCommand, (uint16_t, uint16_t, uint32_t), (override));
    MOCK_METHOD(void, getStatusI32, (uint16_t, uint16_t), (override));
    MOCK_METHOD(void, getStatusF32, (uint16_t, uint16_t), (override));
    MOCK_METHOD(void, getParamI32, (uint16_t, uint16_t), (override));
    MOCK_METHOD(void, getParamF32, (uint16_t, uint16_t), (override));
    MOCK_METHOD(void, setParamI32, (uint16_t, uint16_t, int32_t), (override));
    MOCK_METHOD(void, setParamF32, (uint16_t, uint16_t, float), (override));
    MOCK_METHOD(void, reboot, (), (override));
    MOCK_METHOD(void, resetRamConf, (uint32_t), (override));
    MOCK_METHOD(void, resetFlashConf, (uint32_t), (override));
    MOCK_METHOD(void, updateFlashConf, (uint32_t), (override));
};

const char* const kUSAGE =
    "export VESK11_CLI_ENDPOINT=</dev/ttyS0>\n"
    "export VESK11_CLI_TOUT=<200>\n"
    "\n"
    "\n"
    "vesk11-cli command --group=<section> --id=<param-array> --value=<value>\n"
    "\n"
    "vesk11-cli get-status-i32 --group=<section> --id=<param-array>\n"
    "\n"
    "vesk11-cli get-status-f32 --group=<section> --id=<param-array>\n"
    "\n"
    "vesk11-cli get-param-i32 --group=<section> --id=<param-array>\n"
    "\n"
    "vesk11-cli get-param-f32 --group=<section> --id=<param-array>\n"
    "\n"
    "vesk11-cli set-param-i32 --group=<section> --id=<param-array> --value=<i32>\n"
    "\n"
    "vesk11-cli set-param-f32 --group=<section> --id=<param-array> --value=<f32>\n"
    "\n"
    "vesk11-cli reboot\n"
    "\n"
    "vesk11-cli reset-ram-conf\n"
    "\n"
    "vesk11-cli reset-flash-conf\n"
    "\n"
    "vesk11-cli update-flash-conf\n"
    "\n"
    "vesk11-cli low-power on\n"
    "\n"
    "vesk11-cli low-power off\n";

struct outcome
{
    std::string out;
    std::string err;
    int status;
};

outcome _T_activate(const std::shared_ptr<mock_api>& aApi, const std::vector<std::string>& aArgs)
{
    cli_handler engine(service_pack{aApi});
    std::ostringstream out, err;
    const int status = engine.activate(cli_request("vesk11-cli", aArgs, {})).render(out, err);
    return {out.str(), err.str(), status};
}

// A command line and either the call it must make, or the usage text with the one level-1
// record (empty func: none at all) it must log.
struct line_case
{
    std::vector<std::string> args;
    std::function<void(mock_api&)> call;
    std::string func;
    std::string message;
};

const char* const kID = "_T_decode_action_param_array";
const char* const kGROUP = "_T_decode_action_param_group";
const char* const kVALUE = "_T_decode_action_param_value_i32";
const char* const kFLOAT = "_T_decode_action_param_value_f32";
const char* const kWORDS = "_T_assert_word_count";

std::vector<line_case> _T_line_cases()
{
    using ::testing::FloatEq;
    const auto usage = [](std::vector<std::string> aArgs, std::string aFunc = "",
                          std::string aMessage = "") {
        return line_case{std::move(aArgs), nullptr, std::move(aFunc), std::move(aMessage)};
    };
    const auto call = [](std::vector<std::string> aArgs, std::function<void(mock_api&)> aCall) {
        return line_case{std::move(aArgs), std::move(aCall), "", ""};
    };
    return {
        usage({}, "activate", "fail: no command"),
        usage({"unknown"}, "activate", "fail: unknown command <unknown>"),
        usage({"Reboot"}, "activate", "fail: unknown command <Reboot>"),
        usage({"reboot", "now"}, kWORDS, "fail: wrong number of words (actual:2, expected:1)"),
        usage({"get-param-i32", "--group=2"}, kWORDS,
              "fail: wrong number of words (actual:2, expected:3)"),
        usage({"low-power"}, kWORDS, "fail: wrong number of words (actual:1, expected:2)"),
        usage({"command", "--group=1", "--id=2"}, kWORDS,
              "fail: wrong number of words (actual:3, expected:4)"),
        // what changes the sensor must be wholly a number
        usage({"set-param-i32", "--group=1", "--id=2", "--value=0.5"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value=on"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value="}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value=1,5"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group = 1", "--id=2", "--value=0x10"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value=1.5e3"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2abc", "--value=1"}, kID,
              "fail: --id is bad value"),
        usage({"command", "--group=1000x", "--id=344", "--value=1"}, kGROUP,
              "fail: --group is bad value"),
        usage({"command", "--group=1000", "--id=344", "--value=-0"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-f32", "--group=2000", "--id=50", "--value=nan"}, kFLOAT,
              "fail: --value is bad value"),
        usage({"set-param-f32", "--group=2000", "--id=50", "--value=inf"}, kFLOAT,
              "fail: --value is bad value"),
        usage({"set-param-f32", "--group=2000", "--id=50", "--value=1e39"}, kFLOAT,
              "fail: --value is bad value"),
        usage({"set-param-f32", "--group=2000", "--id=50", "--value=abc"}, kFLOAT,
              "fail: --value is bad value"),
        usage({"set-param-f32", "--group=2000", "--id=50", "--value=1,5"}, kFLOAT,
              "fail: --value is bad value"),
        usage({"get-param-i32", "--group=2", "--group=3"}, kID, "fail: --id is absent"),
        usage({"get-param-i32", "--Group=1", "--id=3"}, kGROUP, "fail: --group is absent"),
        usage({"get-param-i32", "--id=1", "--id=1"}, kID, "fail: --id is multiple"),
        usage({"get-param-i32", "--group=65536", "--id=1"}, kGROUP, "fail: --group is bad value"),
        usage({"get-param-i32", "--group=1", "--id=-1"}, kID, "fail: --id is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value=-1"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value=2147483648"}, kVALUE,
              "fail: --value is bad value"),
        usage({"set-param-i32", "--group=1", "--id=2", "--value=99999999999999999999"}, kVALUE,
              "fail: --value is bad value"),
        // only the first failure in decoding order (id, group, value) is logged
        usage({"set-param-i32", "--value=-5", "--group=70000", "--id=70000"}, kID,
              "fail: --id is bad value"),
        usage({"command", "--id=2", "--group=1", "--group=1"}, kGROUP, "fail: --group is multiple"),
        usage({"set-param-f32", "--group=1", "--id=2", "--val=1"}, kFLOAT,
              "fail: --value is absent"),
        usage({"low-power", "ON"}, "_T_low_power", "fail: invalid params"),
        call({"get-param-i32", "--id=3", "--group=2"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, getParamI32(2, 3)); }),
        call({"get-param-i32", "--group=2", "--id=3"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, getParamI32(2, 3)); }),
        call({"get-param-f32", "--group=65535", "--id="},
             [](mock_api& aApi) { EXPECT_CALL(aApi, getParamF32(65535, 0)); }),
        call({"get-status-i32", "--group=7abc", "--id"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, getStatusI32(7, 0)); }),
        call({"get-status-f32", "--group=-0", "--id=abc"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, getStatusF32(0, 0)); }),
        call({"set-param-i32", "--group=2000", "--id=450", "--value=2147483647"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamI32(2000, 450, 2147483647)); }),
        call({"set-param-f32", "--value=1.5e3", "--id=50", "--group=2000"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamF32(2000, 50, FloatEq(1500.0f))); }),
        call({"set-param-i32", "--group= 1 ", "--id=+2", "--value= +7 "},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamI32(1, 2, 7)); }),
        call({"set-param-f32", "--group=2000", "--id=50", "--value=0x1.8p+0"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamF32(2000, 50, FloatEq(1.5f))); }),
        call({"set-param-f32", "--group=2000", "--id=50", "--value=-1"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamF32(2000, 50, FloatEq(-1.0f))); }),
        call({"command", "--group=1000", "--id=344", "--value=2000"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, execCommand(1000, 344, 2000u)); }),
        call({"reboot"}, [](mock_api& aApi) { EXPECT_CALL(aApi, reboot()); }),
        call({"reset-ram-conf"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, resetRamConf(0xFFFFFFFFu)); }),
        call({"reset-flash-conf"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, resetFlashConf(0xFFFFFFFFu)); }),
        call({"update-flash-conf"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, updateFlashConf(0xFFFFFFFFu)); }),
        call({"low-power", "on"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamI32(2000, 104, 0)); }),
        call({"low-power", "off"},
             [](mock_api& aApi) { EXPECT_CALL(aApi, setParamI32(2000, 104, 1)); }),
    };
}

TEST(cli_handler, command_lines_give_the_call_or_the_usage_text)
{
    for (const line_case& aCase : _T_line_cases())
    {
        std::string line;
        for (const std::string& word : aCase.args)
            line += word + " ";
        SCOPED_TRACE("command line: " + line);
        vesk11_test::log_capture log;
        auto api = std::make_shared<StrictMock<mock_api>>();
        if (aCase.call)
            aCase.call(*api);
        const outcome result = _T_activate(api, aCase.args);
        EXPECT_EQ(result.out, aCase.call ? "DONE\n" : kUSAGE);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, aCase.call ? 0 : 70);
        std::vector<vesk11_test::log_record> failures;
        for (const vesk11_test::log_record& record : log.records())
        {
            if (record.level == 1)
                failures.push_back(record);
        }
        if (aCase.func.empty())
            EXPECT_TRUE(failures.empty()) << log.dump();
        else
        {
            ASSERT_EQ(failures.size(), 1u) << log.dump();
            EXPECT_EQ(failures[0].func, aCase.func);
            EXPECT_EQ(failures[0].message, aCase.message);
        }
    }
}

TEST(cli_handler, usage_text_has_29_lines)
{
    cli_handler engine(service_pack{});
    const std::string text = engine.usage();
    EXPECT_EQ(text, kUSAGE);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 29);
}

// What the sensor API throws decides between "FAIL\n" and the usage text.
TEST(cli_handler, errors_from_the_sensor_api)
{
    struct error_case
    {
        std::function<void()> thrower;
        std::string out;
        std::string record; // level-1 record from activate, or empty
    };
    const std::vector<error_case> cases = {
        {[] { throw Orvo::internal_error(); }, "FAIL\n", ""},
        {[] { throw Orvo::params_error(); }, kUSAGE, ""},
        {[] { throw std::runtime_error("boom"); }, "FAIL\n", "fail: exception <boom>"},
    };
    for (const error_case& aCase : cases)
    {
        vesk11_test::log_capture log;
        auto api = std::make_shared<StrictMock<mock_api>>();
        EXPECT_CALL(*api, reboot()).WillOnce(aCase.thrower);
        const outcome result = _T_activate(api, {"reboot"});
        EXPECT_EQ(result.out, aCase.out);
        EXPECT_EQ(result.status, 70);
        if (!aCase.record.empty())
        {
            EXPECT_TRUE(log.has(1, "activate", aCase.record)) << log.dump();
        }
    }
}

} // namespace
