#pragma once

#include "MeasurementTexts.h"

#include <QString>

// Texts of the worker thread and the results display, each in one place.
namespace MeasureText {

inline const QString StopCaption = QStringLiteral("С   Т   О   П");
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

inline const QString StartButtonStyle = QStringLiteral("color: rgb(0, 128, 0); font-weight: bold;");
inline const QString StopButtonStyle = QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;");

}  // namespace MeasureText
