#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "uat11.h"

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

} // namespace
