#pragma once

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

inline const QString ShortCircuitMark = QStringLiteral("КЗ!!!");
inline const QString OpenCircuitMark = QStringLiteral("ОБРЫВ!!!");

}  // namespace MeasureText
