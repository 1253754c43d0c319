// What the detection bar shows for each state of a pass, without a window.
#include "DeviceStatus.h"

#include "CaseName.h"
#include "DetectionTexts.h"

#include <gtest/gtest.h>

namespace {

using ksn::test::CaseName;

// An open KSN48 in a crate of type t, as a successful pass leaves it.
DeviceStatusFacts Opened(std::uint8_t type, const char* typeName, std::uint16_t firmware)
{
    DeviceStatusFacts facts;
    facts.Final = true;
    facts.FinalCaption = QStringLiteral("KSN48_vevu - 1.0.0");
    facts.CrateOk = true;
    facts.ModuleOpen = true;
    facts.CrateType = type;
    facts.CrateTypeName = QString::fromLatin1(typeName);
    facts.ModuleName = QStringLiteral("KSN48");
    facts.ModuleSerial = QStringLiteral("4811001");
    facts.Firmware = firmware;
    return facts;
}

struct StatusCase : ksn::test::NamedCase {
    DeviceStatusFacts facts;
    std::optional<QString> caption;
    bool clearLists;
    std::optional<StatusLedLook> crate;
    StatusLedLook module;
    const char* serial;
    bool firmwareTooOld;
    std::optional<QString> firmwareText;
};

class Status : public ::testing::TestWithParam<StatusCase> {};

TEST_P(Status, IsComposedByTheRules)
{
    const StatusCase& c = GetParam();
    const DeviceStatusLook look = ComposeDeviceStatus(c.facts);

    EXPECT_EQ(look.Caption, c.caption);
    EXPECT_EQ(look.ClearLists, c.clearLists);
    ASSERT_EQ(look.Crate.has_value(), c.crate.has_value());
    if (c.crate) {
        EXPECT_EQ(look.Crate->Colour, c.crate->Colour);
        EXPECT_EQ(look.Crate->Hint, c.crate->Hint);
    }
    EXPECT_EQ(look.Module.Colour, c.module.Colour);
    EXPECT_EQ(look.Module.Hint, c.module.Hint);
    EXPECT_EQ(look.Serial, QString::fromUtf8(c.serial));
    EXPECT_EQ(look.FirmwareTooOld, c.firmwareTooOld);
    EXPECT_EQ(look.FirmwareHint, c.firmwareTooOld ? DetectionTexts::FirmwareTooOld : QString());
    EXPECT_EQ(look.FirmwareText, c.firmwareText);
}

DeviceStatusFacts Preliminary(int mode)
{
    DeviceStatusFacts facts;
    facts.Mode = mode;
    facts.ModuleSerial = QStringLiteral("left over");
    return facts;
}

DeviceStatusFacts WithMode(DeviceStatusFacts facts, int mode)
{
    facts.Mode = mode;
    return facts;
}

DeviceStatusFacts NothingOpened()
{
    DeviceStatusFacts facts;
    facts.Final = true;
    facts.FinalCaption = QStringLiteral("KSN48_vevu - 1.0.0");
    facts.CrateOk = true;  // crates found, the chosen module did not open
    facts.Firmware = 12;   // whatever the handle holds
    return facts;
}

DeviceStatusFacts NoCrate()
{
    DeviceStatusFacts facts = NothingOpened();
    facts.CrateOk = false;
    return facts;
}

const QString Unknown = QStringLiteral("????????");

INSTANTIATE_TEST_SUITE_P(
    Detection, Status,
    ::testing::Values(
        StatusCase{{"PreliminaryFullDetection"},
                   Preliminary(3),
                   std::nullopt,
                   true,
                   StatusLedLook{StatusLed::ButtonFace, "Статус '\?\?\?' крейта -> ???"},
                   {StatusLed::ButtonFace, "Статус модуля '\?\?\?'-> ???"},
                   "????????",
                   false,
                   Unknown},
        StatusCase{{"PreliminaryModuleChange"},
                   Preliminary(1),
                   std::nullopt,
                   false,
                   std::nullopt,
                   {StatusLed::ButtonFace, "Статус модуля '\?\?\?'-> ???"},
                   "????????",
                   false,
                   Unknown},
        StatusCase{{"Opened"},
                   Opened(40, "KSN-P5", 12),
                   QStringLiteral("KSN48_vevu - 1.0.0"),
                   false,
                   StatusLedLook{StatusLed::Ok, "Статус 'KSN-P5' крейта -> OK"},
                   {StatusLed::Ok, "Статус модуля 'KSN48' -> OK"},
                   "4811001",
                   false,
                   std::nullopt},
        StatusCase{
            {"OpenedInASlowLinkCrate"},
            Opened(21, "KSN-P1", 9),
            QStringLiteral("KSN48_vevu - 1.0.0"),
            false,
            StatusLedLook{
                StatusLed::SlowLinkOk,
                "Статус 'KSN-P1' крейта -> OK\n"
                "Для крейта 'KSN-P1' максимальная скорость передачи данных составляет 800 "
                "Кбайт/с.\nПоэтому для модуля 'KSN48', например, при 4-х канальном сборе 20-ти "
                "битных данных\nчастота АЦП не должна превышать 50.0 кГц!!!"},
            {StatusLed::Ok, "Статус модуля 'KSN48' -> OK"},
            "4811001",
            false,
            std::nullopt},
        StatusCase{{"OldFirmware"},
                   Opened(40, "KSN-P5", 8),
                   QStringLiteral("KSN48_vevu - 1.0.0"),
                   false,
                   StatusLedLook{StatusLed::Ok, "Статус 'KSN-P5' крейта -> OK"},
                   {StatusLed::Ok, "Статус модуля 'KSN48' -> OK"},
                   "4811001",
                   true,
                   std::nullopt},
        // Another module chosen: the crate indicator is not touched.
        StatusCase{{"ModuleChange"},
                   WithMode(Opened(40, "KSN-P5", 12), 1),
                   QStringLiteral("KSN48_vevu - 1.0.0"),
                   false,
                   std::nullopt,
                   {StatusLed::Ok, "Статус модуля 'KSN48' -> OK"},
                   "4811001",
                   false,
                   std::nullopt},
        // The crate's type is known only after an open.
        StatusCase{{"ChosenModuleDidNotOpen"},
                   NothingOpened(),
                   QStringLiteral("KSN48_vevu - 1.0.0"),
                   false,
                   StatusLedLook{StatusLed::Ok, "Статус '\?\?\?' крейта -> OK"},
                   {StatusLed::Bad, "Статус модуля '\?\?\?' -> BAD"},
                   "????????",
                   false,
                   Unknown},
        StatusCase{{"NoCrate"},
                   NoCrate(),
                   QStringLiteral("KSN48_vevu - 1.0.0"),
                   false,
                   StatusLedLook{StatusLed::Bad, "Статус KSN крейта -> BAD"},
                   {StatusLed::Bad, "Статус модуля '\?\?\?' -> BAD"},
                   "????????",
                   false,
                   Unknown}),
    CaseName<StatusCase>);

}  // namespace
