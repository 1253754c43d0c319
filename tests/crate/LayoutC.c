/* The headers compiled as C: the offsets a C caller sees. */
#include <stddef.h>

#include "ksn48api.h"
#include "ksnapi.h"

const size_t ksn_c_layout[] = {
    sizeof(KsnCrateLink),
    offsetof(KsnCrateLink, CrateSerial),
    offsetof(KsnCrateLink, Channel),
    sizeof(KsnCrateInfo),
    offsetof(KsnCrateInfo, CrateType),
    offsetof(Ksn48Handle, Channel[0].ChannelEnabled),
    offsetof(Ksn48Handle, Channel[7].ChannelEnabled),
    offsetof(Ksn48Handle, RateCode),
    offsetof(Ksn48Handle, DataFormat),
    offsetof(Ksn48Handle, CurrentSource),
    offsetof(Ksn48Handle, AcquisitionRunning),
    offsetof(Ksn48Handle, ModuleName),
    offsetof(Ksn48Handle, ModuleSerial),
    offsetof(Ksn48Handle, FirmwareVersion),
};
const size_t ksn_c_layout_count = sizeof ksn_c_layout / sizeof ksn_c_layout[0];

const char* ksn_c_error_name(int code)
{
    return KSN_ErrorName(code);
}
