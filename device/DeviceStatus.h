#pragma once

#include "DetectionView.h"

#include <QString>

#include <cstdint>
#include <optional>

// What the detection bar shows, from the state of the pass: the rules of the
// caption, the two indicators, the serial number and the firmware label.
struct DeviceStatusFacts {
    bool Final = false;  // else the preliminary status at the start of a pass
    int Mode = 3;        // the detection request
    // The final caption (the versioned one, or empty).
    QString FinalCaption;
    bool CrateOk = false;
    bool ModuleOpen = false;  // ModuleState 2
    std::uint8_t CrateType = 0;
    QString CrateTypeName;  // empty until a module opened in this pass
    QString ModuleName;
    QString ModuleSerial;
    std::uint16_t Firmware = 0;
};

DeviceStatusLook ComposeDeviceStatus(const DeviceStatusFacts& facts);
