#pragma once

class QPushButton;

// The two faces of the latching start button StartMultimeterLMDSpeedButton,
// each in one place: "С   Т   А   Р   Т" in green while no measurement runs,
// "С   Т   О   П" in red while one does.
void ShowStartButtonIdle(QPushButton& button);
void ShowStartButtonRunning(QPushButton& button);
