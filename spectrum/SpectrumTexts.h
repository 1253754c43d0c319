#pragma once

#include "ViewTexts.h"

#include <QString>

// Texts of the page "Спектр", one place each.
namespace SpectrumText {

// The readings' titles and units are the channel panel's.
using ViewText::FrequencyTitle;
using ViewText::FrequencyUnit;
using ViewText::PhaseTitle;
using ViewText::PhaseUnit;
using ViewText::VoltageTitle;
using ViewText::VoltageUnit;

inline const QString ChannelGroup = QStringLiteral("Канал");
inline const QString ChannelItem = QStringLiteral("Канал %1");
inline const QString NoChannel = QStringLiteral("нет активных каналов");
inline const QString LogAxis = QStringLiteral("Логарифмическая шкала частот");
inline const QString MaxHold = QStringLiteral("Максимум по кадрам");
inline const QString ResetMaxHold = QStringLiteral("Сбросить максимум");
inline const QString ResultsGroup = QStringLiteral("Результаты");

inline const QString ThdTitle = QStringLiteral("КНИ (THD)");
inline const QString ThdNTitle = QStringLiteral("КНИ+Ш (THD+N)");
inline const QString SnrTitle = QStringLiteral("С/Ш (SNR)");
inline const QString NoiseFloorTitle = QStringLiteral("Шум");
// The converter's figures: SINAD and ENOB (noise and distortion), SFDR with
// the largest spur's frequency, and with the precision method SINAD and ENOB
// from its residual.
inline const QString SinadTitle = QStringLiteral("С/(Ш+И) (SINAD)");
inline const QString EnobTitle = QStringLiteral("ЭРР (ENOB)");
inline const QString SfdrTitle = QStringLiteral("ДДБП (SFDR)");
inline const QString SpurFrequencyTitle = QStringLiteral("Частота помехи");
inline const QString FitSinadTitle = QStringLiteral("SINAD (аппрокс.)");
inline const QString FitEnobTitle = QStringLiteral("ENOB (аппрокс.)");
inline const QString BitsUnit = QStringLiteral("бит");
inline const QString DecibelCarrierUnit = QStringLiteral("дБн");
inline const QString FitOnlyHint =
    QStringLiteral("Только с точным методом (fit): по остатку аппроксимации");
// The readings' standard uncertainty, type A only.
inline const QString UncertaintyGroup = QStringLiteral("Неопределённость (1σ, шум кадра)");
inline const QString NoUncertaintyHint =
    QStringLiteral("Нет неопределённости: значение отмечено или не измерено");
inline const QString PercentUnit = QStringLiteral("%");
inline const QString DecibelUnit = QStringLiteral("дБ");
inline const QString NoiseFloorUnit = QStringLiteral("дБВ/бин");
inline const QString Infinite = QStringLiteral("∞");

inline const QString FrequencyAxisTitle = QStringLiteral("Частота, Гц");
inline const QString LevelAxisTitle = QStringLiteral("Уровень, дБВ (СКЗ)");
inline const QString TraceName = QStringLiteral("Спектр");
inline const QString MaxTraceName = QStringLiteral("Максимум");
inline const QString ExactBandName = QStringLiteral("Точная оценка");
// Title of the plot: channel, N and the bin width.
inline const QString PlotTitle = QStringLiteral("Канал %1:  N = %2,  %3 Гц/бин");
inline const QString NoSpectrumSum = QStringLiteral("Метод расчёта \"sum\": спектр не вычисляется");
inline const QString NoReading = QStringLiteral("Канал %1: нет данных в кадре");
// The peak's label: voltage and frequency as the channel panel shows them.
inline const QString PeakLabel = QStringLiteral("%1 мВ\n%2 кГц");
inline const QString NoToneFiguresHint =
    QStringLiteral("Тон не выделяется над шумом: искажения не определены");

}  // namespace SpectrumText
