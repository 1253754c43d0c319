// Writes texts.js: the window's own texts that the fleet page shows (hints,
// marks, titles, units, the fixed frequency formats), taken from the program's
// constants at build time so that the page and the window never differ.

#include "MeasureTexts.h"
#include "ViewTexts.h"

#include <nlohmann/json.hpp>

#include <QString>

#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

std::string Utf8(std::string_view text)
{
    return std::string(text);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: fleet_texts OUTPUT.js\n";
        return 2;
    }
    const nlohmann::ordered_json texts = {
        {"hints",
         {{"overrange", Utf8(MeasureText::OverRangeHint)},
          {"notone", Utf8(MeasureText::NoToneHint)},
          {"belowband", Utf8(MeasureText::BelowBandHint)},
          {"aboveband", Utf8(MeasureText::AboveBandHint)},
          {"referenceoutofband", Utf8(MeasureText::ReferenceOutOfBandHint)},
          {"referencenoreading", Utf8(MeasureText::ReferenceNoReadingHint)}}},
        {"marks",
         {{"short", Utf8(MeasurementText::ShortCircuitMark)},
          {"open", Utf8(MeasurementText::OpenCircuitMark)},
          {"placeholder", Utf8(MeasurementText::ValuePlaceholder)}}},
        {"titles",
         {{"voltage", Utf8(ViewText::VoltageTitle)},
          {"frequency", Utf8(ViewText::FrequencyTitle)},
          {"phase", Utf8(ViewText::PhaseTitle)}}},
        {"units",
         {{"voltage", Utf8(ViewText::VoltageUnit)},
          {"frequency", Utf8(ViewText::FrequencyUnit)},
          {"phase", Utf8(ViewText::PhaseUnit)}}},
        {"frequencyFormats",
         {{"above100", Utf8(MeasurementText::FrequencyFormatAbove100)},
          {"above1000", Utf8(MeasurementText::FrequencyFormatAbove1000)}}},
    };
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << "// Generated at build time from the program's texts; do not edit.\n"
        << "\"use strict\";\nwindow.KSN48_FLEET_TEXTS = Object.freeze(" << texts.dump(1)
        << ");\n";
    out.close();
    if (!out) {
        std::cerr << "fleet_texts: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
