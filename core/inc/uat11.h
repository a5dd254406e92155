// The sensor's catalogue: ready-made actions for its named commands, status values and parameters.
// Each initialiser fills every field of the action at aSelf (not null) through the action
// initialisers, with dimensions 0 and 0; it returns nothing, owns nothing and cannot fail.
#ifndef VESK11_CORE_UAT11_H
#define VESK11_CORE_UAT11_H

#include <cstdint>

#include "uat4/uat4.h"

constexpr uint16_t kUAT11_GROUP_COMMAND = 1000;
constexpr uint16_t kUAT11_GROUP_CONFIG = 2000;
constexpr uint16_t kUAT11_GROUP_STATUS = 2003;
// The configuration commands' argument that stands for every parameter group.
constexpr uint32_t kUAT11_ALL_GROUPS = 0xFFFFFFFF;
// power_mode, an integer parameter of the configuration group: 0 low power, 1 full power.
constexpr uint16_t kUAT11_POWER_MODE_ARRAY = 104;
constexpr int32_t kUAT11_POWER_MODE_LOW = 0;
constexpr int32_t kUAT11_POWER_MODE_FULL = 1;

// Configuration parameters set and read back as floats, in the configuration group.
void Uat11__InitSetGetParamX(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamY(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamZ(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamXY(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamXZ(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamYZ(uat4_action_t* aSelf, float aValue);
// Status values read as integers, in the status group (the temperature too, despite its name).
void Uat11__InitGetStatusHwSerial(uat4_action_t* aSelf);
void Uat11__InitGetStatusHwAntenna(uat4_action_t* aSelf);
void Uat11__InitGetStatusFwVersionGen(uat4_action_t* aSelf);
void Uat11__InitGetStatusFwVersionMajor(uat4_action_t* aSelf);
void Uat11__InitGetStatusFwVersionMinor(uat4_action_t* aSelf);
void Uat11__InitGetStatusFwVersionPatch(uat4_action_t* aSelf);
void Uat11__InitGetStatusAppType(uat4_action_t* aSelf);
void Uat11__InitGetStatusAppVariant(uat4_action_t* aSelf);
void Uat11__InitGetStatusAppVersionMajor(uat4_action_t* aSelf);
void Uat11__InitGetStatusAppVersionMinor(uat4_action_t* aSelf);
void Uat11__InitGetStatusAppVersionPatch(uat4_action_t* aSelf);
void Uat11__InitGetStatusAccRoll(uat4_action_t* aSelf);
void Uat11__InitGetStatusAccPitch(uat4_action_t* aSelf);
void Uat11__InitGetStatusAccCalib(uat4_action_t* aSelf);
void Uat11__InitGetParamTemp(uat4_action_t* aSelf);
// Commands, in the command group, with the value 0 (reboot) or aParamGroup, its 32 bits kept.
void Uat11__InitCommandReboot(uat4_action_t* aSelf);
void Uat11__InitCommandResetRamConf(uat4_action_t* aSelf, uint32_t aParamGroup);
void Uat11__InitCommandResetFlashConf(uat4_action_t* aSelf, uint32_t aParamGroup);
void Uat11__InitCommandUpdateFlashConf(uat4_action_t* aSelf, uint32_t aParamGroup);
// Speed-limit parameters set and read back, in the configuration group: the switch as an
// integer, the limits as floats.
void Uat11__InitSetGetParamRdfSpeedLimitEnable(uat4_action_t* aSelf, int32_t aValue);
void Uat11__InitSetGetParamRdfSpeedLimit1Min(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit1Max(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit2Min(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit2Max(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit3Min(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit3Max(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit4Min(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit4Max(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit5Min(uat4_action_t* aSelf, float aValue);
void Uat11__InitSetGetParamRdfSpeedLimit5Max(uat4_action_t* aSelf, float aValue);

#endif
