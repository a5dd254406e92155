#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "uat11.h"
#include "uat11_names.h"

namespace
{

constexpr float kFLOAT_ARG = 12.5f;
constexpr int32_t kINT_ARG = -123456;
constexpr uint32_t kGROUP_ARG = 0xFFFFFFFF;

struct catalogue_entry
{
    const char* name;
    std::function<void(uat4_action_t*)> init;
    uint8_t type;
    uint16_t group;
    uint16_t array;
    uint16_t value_type;
    uint32_t value_bits;
};

// A row named after its initialiser, called without or with its one argument.
#define CATALOGUE_ROW(aFn) #aFn, [](uat4_action_t * aSelf) { aFn(aSelf); }
#define CATALOGUE_ROW_ARG(aFn, aArg) #aFn, [](uat4_action_t * aSelf) { aFn(aSelf, aArg); }

std::vector<catalogue_entry> _T_catalogue()
{
    const uint32_t f = Uat4__F32ToBits(kFLOAT_ARG);
    const uint32_t i = static_cast<uint32_t>(kINT_ARG);
    return {
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamX, kFLOAT_ARG), 4, 2000, 50, 2, f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamY, kFLOAT_ARG), 4, 2000, 51, 2, f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamZ, kFLOAT_ARG), 4, 2000, 52, 2, f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamXY, kFLOAT_ARG), 4, 2000, 53, 2, f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamXZ, kFLOAT_ARG), 4, 2000, 54, 2, f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamYZ, kFLOAT_ARG), 4, 2000, 55, 2, f},
        {CATALOGUE_ROW(Uat11__InitGetStatusHwSerial), 1, 2003, 9, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusHwAntenna), 1, 2003, 7, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusFwVersionGen), 1, 2003, 2, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusFwVersionMajor), 1, 2003, 3, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusFwVersionMinor), 1, 2003, 4, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusFwVersionPatch), 1, 2003, 5, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAppType), 1, 2003, 32, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAppVariant), 1, 2003, 18, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAppVersionMajor), 1, 2003, 14, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAppVersionMinor), 1, 2003, 15, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAppVersionPatch), 1, 2003, 16, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAccRoll), 1, 2003, 23, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAccPitch), 1, 2003, 24, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetStatusAccCalib), 1, 2003, 25, 0, 0},
        {CATALOGUE_ROW(Uat11__InitGetParamTemp), 1, 2003, 26, 0, 0},
        {CATALOGUE_ROW(Uat11__InitCommandReboot), 0, 1000, 342, 0, 0},
        {CATALOGUE_ROW_ARG(Uat11__InitCommandResetRamConf, kGROUP_ARG), 0, 1000, 345, 0,
         kGROUP_ARG},
        {CATALOGUE_ROW_ARG(Uat11__InitCommandResetFlashConf, kGROUP_ARG), 0, 1000, 346, 0,
         kGROUP_ARG},
        {CATALOGUE_ROW_ARG(Uat11__InitCommandUpdateFlashConf, kGROUP_ARG), 0, 1000, 344, 0,
         kGROUP_ARG},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimitEnable, kINT_ARG), 4, 2000, 450, 0,
         i},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit1Min, kFLOAT_ARG), 4, 2000, 451, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit1Max, kFLOAT_ARG), 4, 2000, 452, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit2Min, kFLOAT_ARG), 4, 2000, 453, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit2Max, kFLOAT_ARG), 4, 2000, 454, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit3Min, kFLOAT_ARG), 4, 2000, 455, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit3Max, kFLOAT_ARG), 4, 2000, 456, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit4Min, kFLOAT_ARG), 4, 2000, 457, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit4Max, kFLOAT_ARG), 4, 2000, 458, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit5Min, kFLOAT_ARG), 4, 2000, 459, 2,
         f},
        {CATALOGUE_ROW_ARG(Uat11__InitSetGetParamRdfSpeedLimit5Max, kFLOAT_ARG), 4, 2000, 460, 2,
         f},
    };
}

#undef CATALOGUE_ROW
#undef CATALOGUE_ROW_ARG

TEST(uat11, every_initialiser_fills_its_catalogue_entry)
{
    const std::vector<catalogue_entry> catalogue = _T_catalogue();
    EXPECT_EQ(catalogue.size(), 36u);
    for (const catalogue_entry& entry : catalogue)
    {
        SCOPED_TRACE(entry.name);
        uat4_action_t action;
        std::memset(&action, 0xA5, sizeof action); // every field must be written
        entry.init(&action);
        EXPECT_EQ(action.type, entry.type);
        EXPECT_EQ(action.param.group, entry.group);
        EXPECT_EQ(action.param.array, entry.array);
        EXPECT_EQ(action.param.array_dim0, 0);
        EXPECT_EQ(action.param.array_dim1, 0);
        EXPECT_EQ(action.param.value_type, entry.value_type);
        EXPECT_EQ(Uat4__F32ToBits(action.param.value_f32), entry.value_bits);
    }
}

TEST(uat11, reboot_batch_is_the_worked_example)
{
    uat4_action_t action;
    Uat11__InitCommandReboot(&action);
    uat4_query_batch batch;
    UatAction4__EncodeQueryBatch(&batch, &action);
    const uint8_t expected[kUAT4_BATCH_SIZE] = {
        0x03, 0xFB, 0x08, 0xE8, 0x03, 0x00, 0x04, 0xFF, 0x01, 0x63, 0xA7,
        0x03, 0xFB, 0x08, 0xE8, 0x03, 0x01, 0x00, 0x56, 0x01, 0x00, 0x00,
        0x03, 0xFB, 0x08, 0xE8, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(&batch, expected, sizeof expected), 0);
}

TEST(uat11, named_edge_cases)
{
    uat4_action_t action;
    Uat11__InitSetGetParamRdfSpeedLimitEnable(&action, 1);
    EXPECT_EQ(action.type, kUAT4_ACTION_SET_GET_PARAM);
    EXPECT_EQ(action.param.array, 450);
    EXPECT_EQ(action.param.value_type, kUAT4_VALUE_I32);
    EXPECT_EQ(action.param.value_i32, 1);

    Uat11__InitSetGetParamRdfSpeedLimit3Max(&action, 12.5f);
    EXPECT_EQ(action.param.array, 456);
    EXPECT_EQ(action.param.value_type, kUAT4_VALUE_F32);
    EXPECT_EQ(action.param.value_f32, 12.5f);

    // Temperature is read as a status value despite its name.
    Uat11__InitGetParamTemp(&action);
    EXPECT_EQ(action.type, kUAT4_ACTION_GET_STATUS);
    EXPECT_EQ(action.param.group, kUAT11_GROUP_STATUS);

    Uat11__InitCommandResetRamConf(&action, 2000);
    EXPECT_EQ(action.param.value_i32, 2000);
}

bool _T_same_action(const uat4_action_t& aOne, const uat4_action_t& aOther)
{
    return aOne.type == aOther.type && aOne.param.group == aOther.param.group &&
           aOne.param.array == aOther.param.array && aOne.param.array_dim0 == aOther.param.array_dim0 &&
           aOne.param.array_dim1 == aOther.param.array_dim1 &&
           aOne.param.value_type == aOther.param.value_type &&
           Uat4__F32ToBits(aOne.param.value_f32) == Uat4__F32ToBits(aOther.param.value_f32);
}

// Every initialiser of the catalogue has one name, of its kind and value type, and the name's
// read or write query is the very action the initialiser builds; power_mode is the one name
// beyond it.
TEST(uat11_names, every_catalogue_entry_has_a_name_of_its_kind)
{
    const std::vector<catalogue_entry> catalogue = _T_catalogue();
    EXPECT_EQ(Uat11Names__Count(), catalogue.size() + 1);
    for (const catalogue_entry& entry : catalogue)
    {
        SCOPED_TRACE(entry.name);
        const uat11_name* name = Uat11Names__FindId(entry.group, entry.array);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(Uat11Names__Find(name->name), name);
        EXPECT_EQ(name->value_type, entry.value_type);
        uat4_action_t expected{};
        entry.init(&expected);
        uat4_action_t action{};
        switch (entry.type)
        {
        case kUAT4_ACTION_GET_STATUS:
            EXPECT_EQ(name->kind, kUAT11_KIND_STATUS);
            Uat11Names__InitRead(&action, name->group, name->array, name->value_type);
            break;
        case kUAT4_ACTION_SET_GET_PARAM:
            EXPECT_EQ(name->kind, kUAT11_KIND_PARAM);
            Uat11Names__InitWrite(&action, name->group, name->array, name->value_type,
                                  entry.value_bits);
            break;
        default:
            EXPECT_EQ(name->kind, kUAT11_KIND_COMMAND);
            action = expected;
        }
        EXPECT_TRUE(_T_same_action(action, expected));
    }
    std::set<std::string> names;
    for (size_t i = 0; i < Uat11Names__Count(); ++i)
        EXPECT_TRUE(names.insert(Uat11Names__At(i)->name).second) << Uat11Names__At(i)->name;
    EXPECT_EQ(Uat11Names__At(Uat11Names__Count()), nullptr);
}

TEST(uat11_names, names_given_in_the_issue_and_reads_of_parameters)
{
    struct known_name
    {
        const char* name;
        uint16_t group;
        uint16_t array;
    };
    const known_name known[] = {
        {"speed_limit_3_max", 2000, 456}, {"hw_serial", 2003, 9}, {"temperature", 2003, 26},
        {"power_mode", 2000, 104},        {"param_x", 2000, 50},  {"param_yz", 2000, 55},
    };
    for (const known_name& entry : known)
    {
        SCOPED_TRACE(entry.name);
        const uat11_name* name = Uat11Names__Find(entry.name);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->group, entry.group);
        EXPECT_EQ(name->array, entry.array);
    }
    EXPECT_EQ(Uat11Names__Find(nullptr), nullptr);
    EXPECT_EQ(Uat11Names__Find("Param_X"), nullptr);
    EXPECT_EQ(Uat11Names__FindId(2000, 77), nullptr);
    uat4_action_t action{};
    Uat11Names__InitRead(&action, 2000, 456, kUAT4_VALUE_F32);
    EXPECT_EQ(action.type, kUAT4_ACTION_GET_PARAM);
    EXPECT_EQ(action.param.value_type, kUAT4_VALUE_F32);
    Uat11Names__InitRead(&action, 2000, 104, kUAT4_VALUE_I32);
    EXPECT_EQ(action.type, kUAT4_ACTION_GET_PARAM);
    EXPECT_EQ(action.param.value_type, kUAT4_VALUE_I32);
    Uat11Names__InitRead(&action, 2003, 77, kUAT4_VALUE_F32);
    EXPECT_EQ(action.type, kUAT4_ACTION_GET_STATUS);
    EXPECT_EQ(action.param.value_type, kUAT4_VALUE_F32);
}

TEST(uat11_names, nearest_name_is_suggested_only_when_near)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"temprature", "temperature"},            // a letter missing
        {"speed_limit_3_mxa", "speed_limit_3_max"}, // neighbours swapped
        {"speed_limit_6_max", "speed_limit_1_max"}, // a tie: the first in table order
        {"hwserial", "hw_serial"},
        {"param_x", "param_x"},
        {"PARAM_X", nullptr}, // every letter differs
        {"", nullptr},
        {"frobnicate", nullptr},
        {"speed_limit_3_max_speed_limit_3_max_speed_limit_3_max_speed_limit", nullptr}, // 65
    };
    for (const auto& entry : cases)
    {
        SCOPED_TRACE(entry.first);
        const uat11_name* nearest = Uat11Names__Nearest(entry.first);
        if (entry.second == nullptr)
            EXPECT_EQ(nearest, nullptr) << nearest->name;
        else
        {
            ASSERT_NE(nearest, nullptr);
            EXPECT_STREQ(nearest->name, entry.second);
        }
    }
    EXPECT_EQ(Uat11Names__Nearest(nullptr), nullptr);
}

} // namespace
