#pragma once

#include "MeasurementTexts.h"

#include <QString>

#include <array>

// Texts the operator views show, each in one place. They are the program's
// own wording and stay exactly as they are (spacing and spelling included).
namespace ViewText {

// Channel panel.
inline const QString ChannelCaptionPrefix = QStringLiteral("Канал ");
inline const QString ChannelCaptionStored = QStringLiteral("Канал ??");
inline const QString ChannelCheckBoxHint = QStringLiteral("Управление активностью канала");
inline const QString ReferenceRadioCaption = QStringLiteral("Опорный канал фазы");
inline const QString ReferenceRadioHint = QStringLiteral("Опорный канал для рассчёта сдвига фаз");
inline const QString UpdateLedHint = QStringLiteral("Признак обновления канала");
inline const QString ValueStored = QStringLiteral("CCCCCCCCC");
// The results log writes the same placeholder.
inline const QString ValuePlaceholder =
    QString::fromUtf8(MeasurementText::ValuePlaceholder.data(),
                      static_cast<qsizetype>(MeasurementText::ValuePlaceholder.size()));
inline const QString VoltageTitle = QStringLiteral("Напряжение");
inline const QString FrequencyTitle = QStringLiteral("Частота");
inline const QString PhaseTitle = QStringLiteral("Фаза");
inline const QString VoltageUnit = QStringLiteral("мВ");
inline const QString FrequencyUnit = QStringLiteral("кГц");
inline const QString PhaseUnit = QStringLiteral("Град");

// Markers looked for in a voltage text.
inline const QString OpenCircuitMarker = QStringLiteral("ОБРЫВ");
inline const QString NotMeasuredMarker = QStringLiteral("----");
// A text holding this is a hyphen placeholder and is never highlighted.
inline const QString PlaceholderMarker = QStringLiteral("--");

// Messages of the window's channel panel handlers.
inline const QString CannotCastType = QStringLiteral("Не могу привести тип!");
inline const QString ChannelCheckBoxCastCaption =
    QStringLiteral("Ошибка EnaChannelLMDCheckBoxChange()!!!");
inline const QString UnknownCheckBox =
    QStringLiteral("Не могу опознать управляюшщий элемент типа TLMDCheckBox!");
inline const QString ChannelCheckBoxUnknownCaption =
    QStringLiteral("Ошибка EnaChannelLMDCheckBoxChange()!");
inline const QString ReferenceRadioCastCaption =
    QStringLiteral("Ошибка BasePhaseChannelLMDRadioButtonClick()!!!");
inline const QString UnknownRadioButton =
    QStringLiteral("Не могу опознать управляюшщий элемент типа TLMDRadioButton!");
inline const QString ReferenceRadioUnknownCaption =
    QStringLiteral("Ошибка BasePhaseChannelLMDRadioButtonClick()!");

// Group "Общие параметры".
inline const QString AdcGroupTitle = QStringLiteral("Общие параметры");
inline const QString AllChannelsCaption = QStringLiteral("Все каналы");
inline const QString AdcRateTitle = QStringLiteral("Частота преобра- зований АЦП, Гц");
inline const QString CurrentSourceTitle = QStringLiteral("Источник тока");
inline const QString DataFormatTitle = QStringLiteral("Разрядность данных");
inline const QString PhaseCorrectionCaption = QStringLiteral("Фильтр кор- рекции фазы");
inline const QString AcquisitionTimeTitle = QStringLiteral("Время сбора, мс");

// The start button: idle and running.
inline const QString StartCaption = QStringLiteral("С   Т   А   Р   Т");
inline const QString StopCaption = QStringLiteral("С   Т   О   П");
inline const QString StartButtonStyle = QStringLiteral("color: rgb(0, 128, 0); font-weight: bold;");
inline const QString StopButtonStyle = QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;");

inline const std::array<QString, 2> CurrentSourceLabels{QStringLiteral("  2.86 мА"),
                                                        QStringLiteral(" 10.0  мА")};
inline const std::array<QString, 2> DataFormatLabels{QStringLiteral("   20 бит"),
                                                     QStringLiteral("  24 бита")};

}  // namespace ViewText
