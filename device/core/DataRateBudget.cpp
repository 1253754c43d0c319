#include "DataRateBudget.h"

#include "CrateTypes.h"
#include "NumberText.h"

namespace device {

namespace {

// The refusal, in the order it is put together (texts as the operator sees them).
constexpr std::string_view RefusalStart =
    "При выбранных параметрах сбора данных скорость передачи этой информации модулем ";
constexpr std::string_view RefusalRate = "составляет ";
constexpr std::string_view RefusalLimit =
    " Кбайт/с, что превышает маскимально допустимую для крейта ";
constexpr std::string_view RefusalValue = " величину ";
constexpr std::string_view RefusalEnd = " Кбайт/с !!! ";
constexpr std::string_view RefusalAdvice =
    "\nРекомендуется либо снизить частоту преобразования АЦП, либо уменьшить кол-во активных "
    "каналов, либо сократить разрядность данных!!!";
constexpr std::string_view RateFormat = "0.0";

}  // namespace

double ModuleDataRate(std::uint32_t channelCount, double fs, std::uint8_t dataFormat) noexcept
{
    const double rate = static_cast<double>(channelCount) * BytesPerSample20Bit * fs * 0.001;
    return rate * (dataFormat == 0 ? 1.0 : 2.0);
}

DataRateCheck CheckDataRate(std::uint32_t channelCount, double fs, std::uint8_t dataFormat,
                            std::uint8_t crateCode, std::string_view crateName,
                            std::string_view moduleName)
{
    DataRateCheck check;
    check.Limit = CrateRateLimit(crateCode);
    check.Rate = ModuleDataRate(channelCount, fs, dataFormat);
    check.Passed = check.Limit >= check.Rate;
    if (!check.Passed) {
        check.Message.append(RefusalStart)
            .append(moduleName)
            .append(" ")
            .append(RefusalRate)
            .append(NumberText::FormatFloat(RateFormat, check.Rate))
            .append(RefusalLimit)
            .append(crateName)
            .append(RefusalValue)
            .append(NumberText::FormatFloat(RateFormat, check.Limit))
            .append(RefusalEnd)
            .append(RefusalAdvice);
    }
    return check;
}

}  // namespace device
