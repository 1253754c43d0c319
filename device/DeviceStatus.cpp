#include "DeviceStatus.h"

#include "CrateTypes.h"
#include "Detection.h"
#include "DetectionTexts.h"

DeviceStatusLook ComposeDeviceStatus(const DeviceStatusFacts& facts)
{
    namespace texts = DetectionTexts;
    DeviceStatusLook look;
    if (facts.Final) {
        look.Caption = facts.FinalCaption;
    }
    look.ClearLists = !facts.Final && facts.Mode == device::ModeFullDetection;

    if (facts.Mode == device::ModeFullDetection || facts.Mode == device::ModeCrateChanged) {
        const QString name =
            facts.CrateTypeName.isEmpty() ? texts::UnknownName : facts.CrateTypeName;
        StatusLedLook crate;
        if (!facts.Final) {
            crate = {StatusLed::ButtonFace,
                     texts::CrateHintPrefix + name + texts::CrateHintUnknown};
        } else if (facts.CrateOk) {
            crate.Hint = texts::CrateHintPrefix + name + texts::CrateHintOk;
            if (device::IsSlowLinkCrate(facts.CrateType)) {
                crate.Colour = StatusLed::SlowLinkOk;
                crate.Hint +=
                    texts::SlowCrateHint.arg(name)
                        .arg(device::CrateRateLimit(facts.CrateType))
                        .arg(facts.ModuleName.isEmpty() ? texts::UnknownName : facts.ModuleName);
            } else {
                crate.Colour = StatusLed::Ok;
            }
        } else {
            crate = {StatusLed::Bad, texts::CrateHintBad};
        }
        look.Crate = crate;
    }

    const QString moduleName = facts.ModuleName.isEmpty() ? texts::UnknownName : facts.ModuleName;
    const bool open = facts.Final && facts.ModuleOpen;
    if (!facts.Final) {
        look.Module = {StatusLed::ButtonFace,
                       texts::ModuleHintPrefix + moduleName + texts::ModuleHintUnknown};
    } else if (open) {
        look.Module = {StatusLed::Ok, texts::ModuleHintPrefix + moduleName + texts::ModuleHintOk};
    } else {
        look.Module = {StatusLed::Bad, texts::ModuleHintPrefix + moduleName + texts::ModuleHintBad};
    }
    look.Serial = open ? facts.ModuleSerial : texts::UnknownSerial;
    if (open && !device::FirmwareSupported(facts.Firmware)) {
        look.FirmwareTooOld = true;
        look.FirmwareHint = texts::FirmwareTooOld;
    } else if (!open) {
        look.FirmwareText = texts::UnknownSerial;
    }
    return look;
}
