#pragma once

#include <array>
#include <string_view>
#include <utility>

// Texts of ksn48-verify, each in one place: its command line speaks English
// as ksn48-measure does; its report is Russian, with the window's units
// ("мВ", "кГц", "Град", "дБ") and figure names.
namespace ReportText {

inline constexpr std::string_view ProgramName = "ksn48-verify";

inline constexpr std::string_view Title = "Протокол поверки модуля KSN48";
inline constexpr std::string_view Summary = "Итог";
inline constexpr std::string_view Verdicts[3] = {"ГОДЕН (PASS)", "НЕ ГОДЕН (FAIL)",
                                                 "НЕ ОПРЕДЕЛЕНО (INDETERMINATE)"};
inline constexpr std::string_view Rule =
    "Правило решения: ГОДЕН (PASS), если погрешность лежит внутри допуска, суженного на U; "
    "НЕ ГОДЕН (FAIL), если вне допуска, расширенного на U; иначе НЕ ОПРЕДЕЛЕНО "
    "(INDETERMINATE). U — расширенная неопределённость (k = 2): большая из двух оценок шума "
    "среднего — разброса по кадрам (СКО среднего) и собственной неопределённости показаний "
    "кадров (шум кадра, тип A), — и неопределённость калибратора по его свидетельству: "
    "U = 2·√(max(s², ū²/n) + u_к²).";

// The identity table.
inline constexpr std::string_view Module = "Модуль";
inline constexpr std::string_view Serial = "Заводской номер";
inline constexpr std::string_view Firmware = "Версия прошивки";
inline constexpr std::string_view Crate = "Крейт";
inline constexpr std::string_view Slot = "Слот";
inline constexpr std::string_view Libraries = "Библиотеки libksnapi / libksn48api";
inline constexpr std::string_view Program = "Программа";
inline constexpr std::string_view Date = "Дата и время (UTC)";
inline constexpr std::string_view Operator = "Оператор";
inline constexpr std::string_view Station = "Рабочее место";
inline constexpr std::string_view Calibrator = "Калибратор";
inline constexpr std::string_view PlanFile = "План";
inline constexpr std::string_view PlanHash = "SHA-256 плана";
inline constexpr std::string_view DataHash = "SHA-256 данных";
inline constexpr std::string_view NotGiven = "—";

// A point.
inline constexpr std::string_view Point = "Точка";
inline constexpr std::string_view PointLine = "Частота АЦП %1 Гц, %2, ток %3, каналы %4, метод \"%5\", "
                                              "кадров %6, N = %7";
inline constexpr std::string_view Bits20 = "20 бит";
inline constexpr std::string_view Bits24 = "24 бита";
inline constexpr std::string_view Current286 = "2.86 мА";
inline constexpr std::string_view Current10 = "10.0 мА";
inline constexpr std::string_view Readings = "Показания (среднее по кадрам)";
inline constexpr std::string_view Channel = "Канал";
inline constexpr std::string_view Applied = "Подано";
inline constexpr std::string_view Voltage = "Напряжение, мВ";
inline constexpr std::string_view VoltageU = "U, мВ";
inline constexpr std::string_view Frequency = "Частота, кГц";
inline constexpr std::string_view Phase = "Фаза, Град";
inline constexpr std::string_view Status = "Состояние";
inline constexpr std::string_view Idle = "не подано";
inline constexpr std::string_view Decisions = "Решения";
inline constexpr std::string_view Figure = "Показатель";
inline constexpr std::string_view Value = "Значение";
inline constexpr std::string_view U = "U (k = 2)";
inline constexpr std::string_view Limit = "Допуск";
inline constexpr std::string_view Decision = "Решение";
inline constexpr std::string_view Note = "Примечание";

// The pictures.
inline constexpr std::string_view GainChart = "Погрешность напряжения по каналам, % (полоса допуска, U)";
inline constexpr std::string_view PhaseChart =
    "Фаза относительно опорного канала %1: отклонение, Град (полоса допуска, U)";
inline constexpr std::string_view SpectrumChart = "Канал %1: спектр, N = %2";
inline constexpr std::string_view FrequencyAxis = "Частота, Гц";
inline constexpr std::string_view LevelAxis = "Уровень, дБВ (СКЗ)";
inline constexpr std::string_view NoSpectrum = "Канал %1: спектр не получен";

// Why a figure has no value.
inline constexpr std::string_view NoReading = "нет показаний";
inline constexpr std::string_view OutOfBand = "тон вне полосы точной оценки";
inline constexpr std::string_view NoReferenceReading = "нет показаний опорного канала";
inline constexpr std::string_view NoPhase = "фаза не определена";
inline constexpr std::string_view NoFigures = "искажения не определены";
inline constexpr std::string_view NoNoise = "шум не обнаружен";

// Figure keys of results.json and their names in the report.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 8> Figures = {{
    {"gain_error", "Погрешность напряжения, %"},
    {"frequency_error", "Погрешность частоты, ppm"},
    {"phase_match", "Согласование фаз, Град"},
    {"gain_match", "Согласование коэффициентов передачи, %"},
    {"thd", "КНИ (THD), %"},
    {"snr", "С/Ш (SNR), дБ"},
    {"enob", "ЭЧР (ENOB), бит"},
    {"crosstalk", "Перекрёстная помеха, дБ"},
}};

}  // namespace ReportText
