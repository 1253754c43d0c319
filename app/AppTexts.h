#pragma once

#include "DetectionTexts.h"

#include <QString>

// Texts of the program shell shown to the operator, one place each.
namespace AppTexts {

inline const QString ApplicationTitle = QStringLiteral("KSN48_Vevu");
inline const QString DesignCaption = QStringLiteral("KSN48");
inline const QString DefaultCaption = QStringLiteral("KSN48_vevu - ?.?.?");

inline const QString ScreenTooSmall =
    QStringLiteral("Разрешение монитора должно быть не ниже 1280x768!");
inline const QString ScreenTooSmallCaption = QStringLiteral("Ошибка!!!");

inline const QString InitThreadFailed =
    QStringLiteral("Не могу открыть поток 'InitAndConfigThread'!");
inline const QString InitThreadFailedCaption = QStringLiteral("Ошибка OnStartInitDevicesThread()!");
inline const QString UnknownPage = QStringLiteral("Неизвестный номер страницы приложения!");
inline const QString UnknownPageCaption = QStringLiteral("Ошибка StartThread()!!!");
inline const QString MainThreadFailed = QStringLiteral("Не могу открыть поток 'MainThread'!");
inline const QString MainThreadFailedCaption = QStringLiteral("Ошибка OnStartMainThread()!");
inline const QString NoOpenModule =
    QStringLiteral("Нет открытого модуля! Поэтому данная опция не доступна!");
inline const QString NoOpenModuleCaption = QStringLiteral("Внимание!!!");

inline const QString UnknownSerial = DetectionTexts::UnknownSerial;
inline const QString UnknownFirmware = QStringLiteral("??.??.??.??");
inline const QString ModuleLedHint = QStringLiteral("Статус модуля");
inline const QString ModuleLedStartHint = QStringLiteral("Статус модуля -> ???");
inline const QString ChannelFrameName = QStringLiteral("Ksn48AdcChannel%1Frame");

// Layout texts.
inline const QString FindDevice = QStringLiteral("Обнаружить");
inline const QString CratesLabel = QStringLiteral("Крейт");
inline const QString ModulesLabel = QStringLiteral("Модуль");
inline const QString SerialNumberTitle = QStringLiteral("Серийный номер");
inline const QString SerialNumberHint = QStringLiteral("Серийный номер модуля");
inline const QString FirmwareTitle = QStringLiteral("Версия микропрограммы");
inline const QString FirmwareHint = QStringLiteral("Версия микропрограммы модуля");
inline const QString SettingsGroup = QStringLiteral("Настройки");
inline const QString AutoSave = QStringLiteral("    Авто Сохранение");
inline const QString Save = QStringLiteral("Сохранить");
inline const QString MultimeterPage = QStringLiteral("Мультиметр");
inline const QString SpectrumPage = QStringLiteral("Спектр");
inline const QString CorrectionFactorsPage = QStringLiteral("Коэффициенты");
inline const QString VerificationPage = QStringLiteral("Поверка");
inline const QString IndividualParsGroup = QStringLiteral("Индивидуальные параметры");

}  // namespace AppTexts
