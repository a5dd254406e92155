#include "uat11.h"

namespace
{

// Every parameter of the catalogue is a plain value: both dimension selectors are 0.
void _T_init_config_f32(uat4_action_t* aSelf, uint16_t aParamArray, float aValue)
{
    UatAction4__InitSetGetParamF32(aSelf, kUAT11_GROUP_CONFIG, aParamArray, aValue, 0, 0);
}

void _T_init_status(uat4_action_t* aSelf, uint16_t aParamArray)
{
    UatAction4__InitGetStatusI32(aSelf, kUAT11_GROUP_STATUS, aParamArray);
}

} // namespace

void Uat11__InitSetGetParamX(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 50, aValue);
}

void Uat11__InitSetGetParamY(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 51, aValue);
}

void Uat11__InitSetGetParamZ(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 52, aValue);
}

void Uat11__InitSetGetParamXY(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 53, aValue);
}

void Uat11__InitSetGetParamXZ(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 54, aValue);
}

void Uat11__InitSetGetParamYZ(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 55, aValue);
}

void Uat11__InitGetStatusHwSerial(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 9);
}

void Uat11__InitGetStatusHwAntenna(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 7);
}

void Uat11__InitGetStatusFwVersionGen(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 2);
}

void Uat11__InitGetStatusFwVersionMajor(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 3);
}

void Uat11__InitGetStatusFwVersionMinor(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 4);
}

void Uat11__InitGetStatusFwVersionPatch(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 5);
}

void Uat11__InitGetStatusAppType(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 32);
}

void Uat11__InitGetStatusAppVariant(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 18);
}

void Uat11__InitGetStatusAppVersionMajor(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 14);
}

void Uat11__InitGetStatusAppVersionMinor(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 15);
}

void Uat11__InitGetStatusAppVersionPatch(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 16);
}

void Uat11__InitGetStatusAccRoll(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 23);
}

void Uat11__InitGetStatusAccPitch(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 24);
}

void Uat11__InitGetStatusAccCalib(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 25);
}

// A status value, read in the status group although the name says parameter.
void Uat11__InitGetParamTemp(uat4_action_t* aSelf)
{
    _T_init_status(aSelf, 26);
}

void Uat11__InitCommandReboot(uat4_action_t* aSelf)
{
    UatAction4__InitCommandU32(aSelf, kUAT11_GROUP_COMMAND, 342, 0);
}

void Uat11__InitCommandResetRamConf(uat4_action_t* aSelf, uint32_t aParamGroup)
{
    UatAction4__InitCommandU32(aSelf, kUAT11_GROUP_COMMAND, 345, aParamGroup);
}

void Uat11__InitCommandResetFlashConf(uat4_action_t* aSelf, uint32_t aParamGroup)
{
    UatAction4__InitCommandU32(aSelf, kUAT11_GROUP_COMMAND, 346, aParamGroup);
}

void Uat11__InitCommandUpdateFlashConf(uat4_action_t* aSelf, uint32_t aParamGroup)
{
    UatAction4__InitCommandU32(aSelf, kUAT11_GROUP_COMMAND, 344, aParamGroup);
}

void Uat11__InitSetGetParamRdfSpeedLimitEnable(uat4_action_t* aSelf, int32_t aValue)
{
    UatAction4__InitSetGetParamI32(aSelf, kUAT11_GROUP_CONFIG, 450, aValue, 0, 0);
}

void Uat11__InitSetGetParamRdfSpeedLimit1Min(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 451, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit1Max(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 452, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit2Min(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 453, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit2Max(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 454, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit3Min(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 455, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit3Max(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 456, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit4Min(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 457, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit4Max(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 458, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit5Min(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 459, aValue);
}

void Uat11__InitSetGetParamRdfSpeedLimit5Max(uat4_action_t* aSelf, float aValue)
{
    _T_init_config_f32(aSelf, 460, aValue);
}
