#pragma once

#include "ksn48api.h"
#include "ksnapi.h"

#include <cstdint>

namespace device {

// The crate and module library calls that detection makes. The libraries'
// own by default; tests put stand-ins here.
struct CrateApi {
    int (*Init)(KsnCrateLink*) = nullptr;
    int (*Open)(KsnCrateLink*) = nullptr;
    int (*GetCrates)(KsnCrateLink*, char (*)[KSN_SERIAL_SIZE]) = nullptr;
    int (*GetCrateInfo)(KsnCrateLink*, KsnCrateInfo*) = nullptr;
    int (*GetCrateModules)(KsnCrateLink*, std::uint16_t*) = nullptr;
    int (*Close)(KsnCrateLink*) = nullptr;
    int (*ModuleInit)(Ksn48Handle*) = nullptr;
    int (*ModuleOpen)(Ksn48Handle*, std::uint32_t, std::uint16_t, const char*, int) = nullptr;
    int (*ModuleIsOpened)(const Ksn48Handle*) = nullptr;
    int (*ModuleClose)(Ksn48Handle*) = nullptr;
};

CrateApi LibraryCrateApi() noexcept;

}  // namespace device
