#pragma once

#include "SettingsNames.h"

#include <QString>

// Texts of the detection pass shown to the operator, one place each.
namespace DetectionTexts {

inline const QString ErrorCaption = QStringLiteral("Сообщение TInitAndConfigThread::Execute()!!!");
inline const QString InfoCaption = QStringLiteral("Сообщение TInitAndConfigThread::Execute()!");

inline const QString CaptionPrefix = QStringLiteral("KSN48_vevu - ");

inline const QString KsnapiVersionMissing =
    QStringLiteral("Опаньки!!! Не могу определить версию библиотеки Ksnapi.dll!!!");
inline const QString Ksn48apiVersionMissing =
    QStringLiteral("Опаньки!!! Не могу определить версию библиотеки Ksn48api.dll!!!");
inline const QString KsnapiVersionTooOld =
    QStringLiteral("Версия библиотеки Ksnapi.dll должна быть не ниже 1.32.15!!!");
inline const QString Ksn48apiVersionTooOld =
    QStringLiteral("Версия библиотеки Ksn48api.dll должна быть не ниже 1.32.15!!!");

inline const QString NoCrate = QStringLiteral("Не могу найти ни одного KSN крейта!");
inline const QString NoModuleCratePrefix =
    QStringLiteral("Не могу найти ни одного KSN крейта, где бы был установлен модуль ");
inline const QString ModuleTypeName = QStringLiteral("KSN48");
inline const QString ModuleOpenFailed =
    QStringLiteral("Не могу проинициализировать модуль в указанном слоте!");
inline const QString CrateOpenFailed =
    QStringLiteral("Не могу проинициализировать KSN крейт с модулями в указанном слоте!");
// The settings' own text for a read that failed.
inline const QString SettingsFailed =
    QString::fromUtf8(SettingsNames::CannotApplySettings.data(),
                      static_cast<qsizetype>(SettingsNames::CannotApplySettings.size()));
inline const QString Unrecoverable =
    QStringLiteral("Опаньки!!! Поймали неустранимое исключение!!!\nСрочно сообщите разработчику!");

// List items: "1: " + crate serial, "Слот " + slot + ": " + module type.
inline const QString CrateItem = QStringLiteral("%1: %2");
inline const QString ModuleItem = QStringLiteral("Слот %1: %2");

inline const QString UnknownName = QStringLiteral("???");

inline const QString CrateHintPrefix = QStringLiteral("Статус '");
inline const QString CrateHintUnknown = QStringLiteral("' крейта -> ???");
inline const QString CrateHintOk = QStringLiteral("' крейта -> OK");
inline const QString CrateHintBad = QStringLiteral("Статус KSN крейта -> BAD");
// Type 21 only; %1 crate type name, %2 its limit in Кбайт/с, %3 module name.
inline const QString SlowCrateHint = QStringLiteral(
    "\nДля крейта '%1' максимальная скорость передачи данных составляет %2 Кбайт/с.\n"
    "Поэтому для модуля '%3', например, при 4-х канальном сборе 20-ти битных данных\n"
    "частота АЦП не должна превышать 50.0 кГц!!!");

inline const QString ModuleHintPrefix = QStringLiteral("Статус модуля '");
inline const QString ModuleHintUnknown = QStringLiteral("'-> ???");
inline const QString ModuleHintOk = QStringLiteral("' -> OK");
inline const QString ModuleHintBad = QStringLiteral("' -> BAD");

inline const QString FirmwareTooOld = QStringLiteral(
    "Версия микропрограммы модуля должна быть не ниже 9.\nОбновите микропрограмму модуля!!!");

}  // namespace DetectionTexts
