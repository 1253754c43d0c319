#pragma once

#include "MeasurementTexts.h"

#include <QString>

// Texts of the worker thread and the results display, each in one place.
namespace MeasureText {

inline const QString ThreadMessageCaption = QStringLiteral("Сообщение TMainThread::Execute()!!!");
inline const QString NoProcessingFunction = QStringLiteral(
    "Опаньки!!!\nОтсутствует функция обработки для 'MainThread'!!!\nСрочно сообщите разработчику!");
inline const QString ConvertErrorStart =
    QStringLiteral("Ошибка преобразования строки в число!!!\nТекущий сепаратор '");
inline const QString ConvertErrorEnd = QStringLiteral("'.");
inline const QString ThreadException = QStringLiteral(
    "Опаньки!!!\nПоймали неустранимое исключение в потоке 'MainThread'!!!\nСрочно сообщите "
    "разработчику!");

// The results log writes the same marks.
inline const QString ShortCircuitMark =
    QString::fromUtf8(MeasurementText::ShortCircuitMark.data(),
                      static_cast<qsizetype>(MeasurementText::ShortCircuitMark.size()));
inline const QString OpenCircuitMark =
    QString::fromUtf8(MeasurementText::OpenCircuitMark.data(),
                      static_cast<qsizetype>(MeasurementText::OpenCircuitMark.size()));

// Hints of the values the measurement cannot vouch for, one per reason.
inline const QString OverRangeHint =
    QStringLiteral("Сигнал выходит за пределы диапазона ±5 В, напряжение занижено!");
inline const QString NoToneHint =
    QStringLiteral("Тон над уровнем шума канала не найден, показания недостоверны!");
inline const QString BelowBandHint = QStringLiteral(
    "Частота сигнала слишком низкая для точного измерения при выбранном времени сбора!");
inline const QString AboveBandHint = QStringLiteral("Частота сигнала слишком близка к половине "
                                                    "частоты преобразований АЦП для точного "
                                                    "измерения!");
inline const QString ReferenceOutOfBandHint =
    QStringLiteral("Частота опорного канала вне диапазона точного измерения, фаза недостоверна!");
inline const QString ReferenceNoReadingHint =
    QStringLiteral("Опорный канал не даёт достоверного показания, фаза не определена!");

// A value's standard uncertainty in its hint: %1 the number, rounded like
// the value, %2 its unit. Type A only: the noise of this frame.
inline const QString UncertaintyHint = QStringLiteral("± %1 %2 (1σ, шум кадра)");

}  // namespace MeasureText
