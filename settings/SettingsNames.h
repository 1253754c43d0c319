#pragma once

#include <string_view>

// The settings file's name, sections and keys, and the operator texts of the
// settings operations. Each text lives here only.
namespace SettingsNames {

inline constexpr std::string_view FileName = "Ksn48_Vevu.ini";

inline constexpr std::string_view GeneralSection = "Приложение. Общие";
inline constexpr std::string_view DetectionSection = "Приложение. Обнаружение";
inline constexpr std::string_view ModuleSection = "Модуль KSN48";

// "Приложение. Общие"
inline constexpr std::string_view AutoSaveKey = "Сохранение настроек";
inline constexpr std::string_view WindowTopKey = "Top    основной панели";
inline constexpr std::string_view WindowLeftKey = "Left   основной панели";
inline constexpr std::string_view CoefficientSourceKey =
    "Источник загрузки корректировочных коэфф.";

// "Приложение. Обнаружение"
inline constexpr std::string_view CrateSerialKey = "Серийный номер KSN крейта";
inline constexpr std::string_view ModuleSlotKey = "Слот модуля";

// "Модуль KSN48"; the 'M' of the maximum-time key is Latin.
inline constexpr std::string_view CalcMethodKey = "АЦП. Метод расчёта";
inline constexpr std::string_view AmplitudeTypeKey = "АЦП. Тип амплитуды";
inline constexpr std::string_view MaxAcquisitionTimeKey = "АЦП. Mаксимальное время сбора данных, с";
inline constexpr std::string_view DataFormatKey = "АЦП. Разрядность данных";
inline constexpr std::string_view CurrentValueKey = "АЦП. Значение источника тока";
inline constexpr std::string_view AdcRateKey = "АЦП. Индекс частоты работы АЦП";
inline constexpr std::string_view ReferenceChannelKey = "АЦП. Опорный фазовый канал";
inline constexpr std::string_view AllChannelsKey = "АЦП. Групповое управление каналами";
// Followed by the channel number 1 to 8.
inline constexpr std::string_view ChannelKeyPrefix = "АЦП. Управление каналом ";
// Precision keys: prefix + range as "%5.2f" + suffix.
inline constexpr std::string_view RangeKeyPrefix = "АЦП. Диапазон ";
inline constexpr std::string_view AcPrecisionSuffix = " В. AC precision";
inline constexpr std::string_view FrPrecisionSuffix = " В. FR precision";
inline constexpr std::string_view PhPrecisionSuffix = " В. PH precision";

inline constexpr std::string_view CalcMethodFft = "fft";
inline constexpr std::string_view AmplitudeTypeRms = "rms";

// Failures of OpenSettingsFile and ReadSettings, shown by the detection pass.
inline constexpr std::string_view CannotCreateSettingsFile = "Не могу создать файл настроек!";
inline constexpr std::string_view CannotOpenSettingsFile =
    "Не могу выделить память под файл настроек!";
inline constexpr std::string_view CannotApplySettings =
    "Не могу проинициализировать параметры работы приложения!";
// Something other than a usable file at the settings path: UnusableFileStart +
// path + UnusableFileMiddle + reason + UnusableFileEnd.
inline constexpr std::string_view UnusableFileStart = "Файл настроек '";
inline constexpr std::string_view UnusableFileMiddle = "' использовать нельзя: ";
inline constexpr std::string_view UnusableFileEnd =
    ".\nПрограмма работает со штатными настройками, сохранить настройки в этот файл не получится.";
// The reason for a dangling link whose target cannot be made: DanglingLinkStart +
// target + DanglingLinkEnd + the system's reason.
inline constexpr std::string_view DanglingLinkStart = "это символическая ссылка на '";
inline constexpr std::string_view DanglingLinkEnd =
    "', которого нет и создать который не удалось: ";

inline constexpr std::string_view CreateDefaultCaption = "ОШИБКА CreateDefaultIniFile()!";
inline constexpr std::string_view BadDefaultFileName =
    "Неправильное название файла штатных настроек!";
// Followed by the path and CannotCreateDefaultFileEnd.
inline constexpr std::string_view CannotCreateDefaultFileStart =
    "Не могу создать файл штатных настроек '";
inline constexpr std::string_view CannotCreateDefaultFileEnd = "'!";
inline constexpr std::string_view CannotWriteDefaultApplication =
    "Не могу создать файл обычных настроек для приложения!";
inline constexpr std::string_view CannotWriteDefaultModule =
    "Не могу создать файл обычных настроек для модуля!";

inline constexpr std::string_view SaveCaption = "ОШИБКА SaveIniFile()!!!";
inline constexpr std::string_view CannotSaveApplication =
    "Не могу сохранить файл настроек приложения!";
inline constexpr std::string_view CannotSaveModule = "Не могу сохранить файл настроек модуля!";

}  // namespace SettingsNames
