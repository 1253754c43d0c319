#pragma once

#include <QString>

// Texts of the window's context menu, one place each.
namespace WindowTexts {

inline const QString RebootItem = QStringLiteral("Перезагрузка Изделия");
inline const QString SaveDefaultItem = QStringLiteral("Сохранение штатных настроек");
inline const QString SaveCurrentItem = QStringLiteral("Сохранение текущих настроек");
inline const QString RecordResultsItem = QStringLiteral("Запись результатов в файл...");
inline const QString AboutItem = QStringLiteral("О программе ...");
inline const QString ExitItem = QStringLiteral("Выход");
inline const QString ExitHint = QStringLiteral("Спокойный выход из программы");
// The window's section [Precision]: the precision method and the hints'
// uncertainty, each a ticked item after the others.
inline const QString PrecisionMethodItem = QStringLiteral("Точный метод (fit)");
inline const QString PrecisionMethodHint = QStringLiteral(
    "Аппроксимация синусоидой по всему кадру; действует со следующего пуска");
inline const QString UncertaintyItem = QStringLiteral("Неопределённость в подсказках");
inline const QString UncertaintyHint =
    QStringLiteral("Подсказка каждого значения: ± стандартная неопределённость (1σ, шум кадра)");

// Recording results into a file, and the MQTT feed.
inline const QString RecordDialogCaption = QStringLiteral("Запись результатов в файл");
inline const QString RecordDialogFilter = QStringLiteral("CSV (*.csv);;Все файлы (*)");
inline const QString RecordErrorCaption = QStringLiteral("Ошибка записи результатов!");
// %1 the file, %2 the reason.
inline const QString RecordCannotOpen =
    QStringLiteral("Не могу открыть файл '%1' для записи результатов: %2!");
inline const QString RecordOtherColumns =
    QStringLiteral("В файле '%1' записаны другие столбцы результатов; дописать в него результаты "
                   "этого измерения нельзя!");
inline const QString RecordCutLastLine =
    QStringLiteral("Последняя строка файла '%1' оборвана; дописать в него результаты нельзя!");
inline const QString RecordWriteFailed =
    QStringLiteral("Не могу записать результаты в файл '%1': %2!\nЗапись остановлена, измерение "
                   "продолжается.");
inline const QString FeedErrorCaption = QStringLiteral("Ошибка настроек MQTT!");
// %1 the settings file, %2 the key, %3 what is wrong.
inline const QString FeedBadValue =
    QStringLiteral("Раздел [MQTT] файла настроек '%1', ключ \"%2\": %3.\nПубликация результатов "
                   "выключена.");
inline const QString PrecisionErrorCaption = QStringLiteral("Ошибка настроек точности!");
// %1 the settings file, %2 the key, %3 what is wrong.
inline const QString PrecisionBadValue =
    QStringLiteral("Раздел [Precision] файла настроек '%1', ключ \"%2\": %3.\nКлюч не действует: "
                   "метод расчёта - из настроек \"АЦП. Метод расчёта\".");
// %1 the settings file, %2 the reason.
inline const QString PrecisionNotSaved =
    QStringLiteral("Не могу записать раздел [Precision] в файл настроек '%1': %2!\nВыбор "
                   "действует до выхода из программы.");
inline const QString FeedUnusable =
    QStringLiteral("Публикация результатов по MQTT невозможна: %1.\nПубликация выключена.");
inline const QString FeedOutageCaption = QStringLiteral("Брокер MQTT недоступен");
// %1 what the publisher said.
inline const QString FeedOutage =
    QStringLiteral("%1.\nИзмерение продолжается; результаты будут опубликованы, когда брокер "
                   "снова ответит.");

}  // namespace WindowTexts
