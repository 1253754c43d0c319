#include "ThreadDialog.h"

#include "ApplicationHooks.h"
#include "MessageBox.h"
#include "ScreenMetrics.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int DialogWidth = 570;
constexpr int DialogFontPointSize = 12;
const QColor DialogBackground(255, 128, 32);
const QColor DialogText(255, 255, 255);

// Geometry of the plain message dialog before it is reshaped.
constexpr int Margin = 8;
constexpr int IconSize = 32;
constexpr int IconSpacing = 10;

int TextWidth(const QFontMetrics& metrics, const QString& text)
{
    int width = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        width = std::max(width, metrics.horizontalAdvance(line));
    }
    return width;
}

}  // namespace

std::unique_ptr<QDialog> BuildThreadDialog(const QWidget* mainWindow, const QString& caption,
                                           const QString& text, const ThreadDialogOptions& options,
                                           ThreadDialogGeometry* geometry)
{
    const ScreenMetrics& screen = Screen();
    const int frameW = screen.DialogFrameWidth();
    const int frameH = screen.DialogFrameHeight();
    const int captionH = screen.CaptionHeight();

    auto dialog = std::make_unique<QDialog>();
    dialog->setWindowTitle(caption);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    // The plain error dialog: icon at the top left, the text beside it on
    // one line per line of text (as wide as half the screen at most).
    const QFont baseFont = dialog->font();
    const QFontMetrics baseMetrics(baseFont);
    const QRect work = screen.WorkArea(mainWindow);
    const int maxLabelWidth = std::max(1, screen.ScreenSize().width() / 2);
    const int labelLeft = Margin + IconSize + IconSpacing;
    const int plainLabelWidth = std::min(TextWidth(baseMetrics, text), maxLabelWidth);
    const int plainButtonWidth = 75;
    const int buttonCount = static_cast<int>(std::max<qsizetype>(1, options.buttons.size()));
    const int plainClientWidth = std::max(labelLeft + plainLabelWidth + Margin,
                                          2 * Margin + buttonCount * (plainButtonWidth + 8));
    const int plainWidth = plainClientWidth + 2 * frameW;

    // Reshaped: wider, bigger white text on orange.
    QFont font = baseFont;
    font.setPointSize(DialogFontPointSize);
    dialog->setFont(font);
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, DialogBackground);
    palette.setColor(QPalette::WindowText, DialogText);
    dialog->setPalette(palette);
    dialog->setAutoFillBackground(true);
    const QFontMetrics metrics(font);

    auto* icon = new QLabel(dialog.get());
    icon->setObjectName(QStringLiteral("Image"));
    icon->setPixmap(
        dialog->style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(IconSize, IconSize));
    icon->setGeometry(Margin, Margin, IconSize, IconSize);

    // The label keeps its left edge and grows by what the dialog grew; its
    // height follows the wrapped text.
    auto* label = new QLabel(text, dialog.get());
    label->setObjectName(QStringLiteral("Message"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    const int labelWidth = std::max(IconSize, plainLabelWidth + (DialogWidth - plainWidth));
    const int labelHeight = metrics
                                .boundingRect(QRect(0, 0, labelWidth, 1 << 20),
                                              Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text)
                                .height();
    const QRect labelRect(labelLeft, Margin, labelWidth, labelHeight);
    label->setGeometry(labelRect);

    int widest = 0;
    for (const QString& b : options.buttons) {
        widest = std::max(widest, metrics.horizontalAdvance(b));
    }
    const int buttonWidth = std::max(widest + 20, options.minButtonWidth);
    const int buttonHeight = metrics.height() + 15;
    const int buttonTop = labelRect.top() + labelRect.height() + 10;
    std::vector<QRect> buttonRects;
    for (int k = 0; k < static_cast<int>(options.buttons.size()); ++k) {
        const int left = (DialogWidth - buttonCount * buttonWidth) * (k + 1) / (buttonCount + 1) +
                         k * buttonWidth;
        const QRect rect(left, buttonTop, buttonWidth, buttonHeight);
        auto* button = new QPushButton(options.buttons[k], dialog.get());
        button->setObjectName(QStringLiteral("Button%1").arg(k));
        button->setGeometry(rect);
        button->setDefault(k == 0);
        QObject::connect(button, &QPushButton::clicked, dialog.get(),
                         [d = dialog.get(), k] { d->done(k + 1); });
        buttonRects.push_back(rect);
    }

    const int lastBottom = buttonRects.empty()
                               ? labelRect.bottom() + 1
                               : buttonRects.back().top() + buttonRects.back().height();
    const int dialogHeight = captionH + lastBottom + 2 * frameH + 10;

    // Centred over the main window (outer sizes), else over the work area.
    const QRect over = mainWindow != nullptr ? mainWindow->frameGeometry() : work;
    const QRect frame(over.left() + (over.width() - DialogWidth) / 2,
                      over.top() + (over.height() - dialogHeight) / 2, DialogWidth, dialogHeight);
    dialog->setFixedSize(DialogWidth - 2 * frameW, dialogHeight - captionH - 2 * frameH);
    dialog->move(frame.topLeft());

    if (geometry != nullptr) {
        geometry->frame = frame;
        geometry->label = labelRect;
        geometry->buttons = buttonRects;
    }
    return dialog;
}

int ShowThreadDialog(const QWidget* mainWindow, const QString& caption, const QString& text,
                     const ThreadDialogOptions& options)
{
    RequireGuiThread();
    std::unique_ptr<QDialog> dialog = BuildThreadDialog(mainWindow, caption, text, options);
    ShownDialog shown;
    shown.kind = DialogKind::ThreadDialog;
    shown.caption = caption;
    shown.text = text;
    shown.icon = MessageIcon::Error;
    shown.buttons = options.buttons;
    const ApplicationHooks::ShortCutDetached detached;
    return RunModalDialog(*dialog, shown);
}
