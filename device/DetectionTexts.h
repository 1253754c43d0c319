#pragma once

#include "DetectionMessages.h"
#include "SettingsNames.h"

#include <QString>

#include <string_view>

// Texts of the detection pass shown to the operator, one place each; the
// failure messages are those of the detection core.
namespace DetectionTexts {

inline QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace messages = device::DetectionMessages;

inline const QString ErrorCaption = QStringLiteral("Сообщение TInitAndConfigThread::Execute()!!!");
inline const QString InfoCaption = QStringLiteral("Сообщение TInitAndConfigThread::Execute()!");

inline const QString CaptionPrefix = QStringLiteral("KSN48_vevu - ");

inline const QString KsnapiVersionMissing = FromUtf8(messages::KsnapiVersionMissing);
inline const QString Ksn48apiVersionMissing = FromUtf8(messages::Ksn48apiVersionMissing);
inline const QString KsnapiVersionTooOld = FromUtf8(messages::KsnapiVersionTooOld);
inline const QString Ksn48apiVersionTooOld = FromUtf8(messages::Ksn48apiVersionTooOld);

inline const QString NoCrate = FromUtf8(messages::NoCrate);
inline const QString ModuleTypeName = FromUtf8(messages::ModuleTypeName);
inline const QString ModuleOpenFailed = FromUtf8(messages::ModuleOpenFailed);
inline const QString CrateOpenFailed = FromUtf8(messages::CrateOpenFailed);
// The settings' own text for a read that failed.
inline const QString SettingsFailed = FromUtf8(SettingsNames::CannotApplySettings);
inline const QString Unrecoverable = FromUtf8(messages::Unrecoverable);

// List items: "1: " + crate serial, "Слот " + slot + ": " + module type.
inline const QString CrateItem = QStringLiteral("%1: %2");
inline const QString ModuleItem = QStringLiteral("Слот %1: %2");

// Placeholders for what is not known.
inline const QString UnknownName = QStringLiteral("???");
inline const QString UnknownSerial = QStringLiteral("????????");

inline const QString CrateHintPrefix = QStringLiteral("Статус '");
inline const QString CrateHintUnknown = QStringLiteral("' крейта -> ???");
inline const QString CrateHintOk = QStringLiteral("' крейта -> OK");
inline const QString CrateHintBad = QStringLiteral("Статус KSN крейта -> BAD");
// Slow-link crates only; %1 crate type name, %2 its limit in Кбайт/с, %3 module name.
inline const QString SlowCrateHint = QStringLiteral(
    "\nДля крейта '%1' максимальная скорость передачи данных составляет %2 Кбайт/с.\n"
    "Поэтому для модуля '%3', например, при 4-х канальном сборе 20-ти битных данных\n"
    "частота АЦП не должна превышать 50.0 кГц!!!");

inline const QString ModuleHintPrefix = QStringLiteral("Статус модуля '");
inline const QString ModuleHintUnknown = QStringLiteral("'-> ???");
inline const QString ModuleHintOk = QStringLiteral("' -> OK");
inline const QString ModuleHintBad = QStringLiteral("' -> BAD");

inline const QString FirmwareTooOld = FromUtf8(messages::FirmwareTooOld);

}  // namespace DetectionTexts
