#include "StartButton.h"

#include "ViewTexts.h"

#include <QPushButton>

void ShowStartButtonIdle(QPushButton& button)
{
    button.setText(ViewText::StartCaption);
    button.setStyleSheet(ViewText::StartButtonStyle);
}

void ShowStartButtonRunning(QPushButton& button)
{
    button.setText(ViewText::StopCaption);
    button.setStyleSheet(ViewText::StopButtonStyle);
}
