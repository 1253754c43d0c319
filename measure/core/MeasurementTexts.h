#pragma once

#include <string_view>

// Messages of the measurement run shown to the operator, each in one place.
namespace MeasurementText {

inline constexpr std::string_view StopBad = "KSN48_Stop() --> BAD!!!";
inline constexpr std::string_view FinalStopBad = "KSN48_Stop() --> BAD!!!!";
inline constexpr std::string_view NoActiveChannel =
    "Необходимо выбрать не менне одного активного канала!";
inline constexpr std::string_view ReferenceNotActive =
    "Опорный канал сдвига фаз не является активным!!!";
inline constexpr std::string_view NoRateChosen = "Необходимо выбрать частоту преобразований АЦП!";
inline constexpr std::string_view SetAdcBad = "KSN48_SetADC() --> BAD!!!";

inline constexpr std::string_view NoRcvBuffer = "Не могу выделить память под RcvBuffer!";
inline constexpr std::string_view NoData = "Не могу выделить память под Data!";
inline constexpr std::string_view NoDataPerChannel = "Не могу выделить память под DataPerChannel!";
inline constexpr std::string_view NoWindow = "Не могу выделить память под Window!";
inline constexpr std::string_view NoFftData = "Не могу выделить память под FftAdcDataPerChannel!";
inline constexpr std::string_view NoAmplitudeSpectr =
    "Не могу выделить память под AmplitudeSpectr!";
inline constexpr std::string_view NoPhaseSpectr = "Не могу выделить память под PhaseSpectr!";
inline constexpr std::string_view NoSpectrumPlot = "Не могу выделить память под спектр!";

inline constexpr std::string_view StartBad = "Не могу выполнить запуск сбора кадра данных!!!";
inline constexpr std::string_view RecvFailed = "Не могу получить данные с модуля!";
inline constexpr std::string_view RecvNothing = "Не принято ни одного отсчёта с модуля!";
inline constexpr std::string_view RecvWrongCount = "Принято неправильное кол-во данных с модуля!";
inline constexpr std::string_view FrameStopBad = "Не могу выполнить останов сбора данных!!!";
inline constexpr std::string_view ConvertBad = "Не могу обработать полученные данные с модуля!";
inline constexpr std::string_view CycleException =
    "Опаньки!!!\nПоймали неустранимое исключение потока сбора данных!!!\nСрочно сообщите "
    "разработчику!";

// What a channel panel shows instead of a value: the short and open circuit
// marks in the voltage box, and the placeholder of a value not measured.
inline constexpr std::string_view ShortCircuitMark = "КЗ!!!";
inline constexpr std::string_view OpenCircuitMark = "ОБРЫВ!!!";
inline constexpr std::string_view ValuePlaceholder = "--------";

// Fixed frequency formats used above 1000 kHz and above 100 kHz.
inline constexpr std::string_view FrequencyFormatAbove1000 = "0.00";
inline constexpr std::string_view FrequencyFormatAbove100 = "0.000";

}  // namespace MeasurementText
