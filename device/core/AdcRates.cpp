#include "AdcRates.h"

namespace device {

const AdcRateEntry* FindAdcRate(int index) noexcept
{
    if (index < 0 || index >= static_cast<int>(AdcRateTable.size())) {
        return nullptr;
    }
    return &AdcRateTable[static_cast<std::size_t>(index)];
}

}  // namespace device
