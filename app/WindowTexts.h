#pragma once

#include <QString>

// Texts of the window's context menu, one place each.
namespace WindowTexts {

inline const QString RebootItem = QStringLiteral("Перезагрузка Изделия");
inline const QString SaveDefaultItem = QStringLiteral("Сохранение штатных настроек");
inline const QString SaveCurrentItem = QStringLiteral("Сохранение текущих настроек");
inline const QString AboutItem = QStringLiteral("О программе ...");
inline const QString ExitItem = QStringLiteral("Выход");
inline const QString ExitHint = QStringLiteral("Спокойный выход из программы");

}  // namespace WindowTexts
