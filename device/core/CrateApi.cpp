#include "CrateApi.h"

namespace device {

CrateApi LibraryCrateApi() noexcept
{
    CrateApi api;
    api.Init = &KSN_Init;
    api.Open = &KSN_Open;
    api.GetCrates = &KSN_GetCrates;
    api.GetCrateInfo = &KSN_GetCrateInfo;
    api.GetCrateModules = &KSN_GetCrateModules;
    api.Close = &KSN_Close;
    api.ModuleInit = &KSN48_Init;
    api.ModuleOpen = &KSN48_Open;
    api.ModuleIsOpened = &KSN48_IsOpened;
    api.ModuleClose = &KSN48_Close;
    return api;
}

}  // namespace device
