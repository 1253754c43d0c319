// The window's acquisition controls, settings commands, context menu,
// tooltips and mouse wheel.
#include "MainForm.h"

#include "AdcGroupParsPanel.h"
#include "BusyGuard.h"
#include "Ksn48AdcChannelFrame.h"
#include "ScreenMetrics.h"
#include "TriStateCheckBox.h"
#include "WindowServices.h"
#include "WindowTexts.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QHelpEvent>
#include <QMenu>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTabWidget>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace {

// Runs handler when the operator picks an item other than the one chosen.
// A pick tells `activated` for any item, the one already chosen included,
// and before it, in the same call, `currentIndexChanged` when the item
// changes; a change the program makes itself tells only the latter, and is
// forgotten once the event loop turns.
void OnChangingPick(QComboBox& list, QObject& context, std::function<void()> handler)
{
    auto changed = std::make_shared<bool>(false);
    QObject::connect(&list, &QComboBox::currentIndexChanged, &context, [changed, &context](int) {
        *changed = true;
        QTimer::singleShot(0, &context, [changed] { *changed = false; });
    });
    QObject::connect(&list, &QComboBox::activated, &context,
                     [changed, handler = std::move(handler)](int) {
                         if (std::exchange(*changed, false)) {
                             handler();
                         }
                     });
}

// The tooltip pause of the whole application.
class THintStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay) {
            return WindowServices::HintPauseMs;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The application's tooltip window while one is shown, else null.
QWidget* FindHintWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->inherits("QTipLabel")) {
            return widget;
        }
    }
    return nullptr;
}

}  // namespace

// --- construction ---

void TMainForm::SetUpWindowServices()
{
    ConnectParameterControls();
    BuildPopupMenu();
    InstallHints();
    // No system here draws raised captions, so there is nothing to flatten.
    OsVersionCode = WindowServices::GetOsVersionCode();
}

void TMainForm::ConnectParameterControls()
{
    connect(FindDeviceLMDButton, &QPushButton::clicked, this,
            [this] { FindDeviceLMDButtonClick(); });
    connect(StartMultimeterLMDSpeedButton, &QPushButton::clicked, this,
            [this] { StartLMDSpeedButtonClick(); });
    // Only the operator's choices count; the settings set the lists too.
    OnChangingPick(*AdcRateComboBox, *this, [this] { AdcRateComboBoxChange(); });
    OnChangingPick(*AdcGroupParsLMDGroupBox->DataFormatLMDComboBox, *this,
                   [this] { DataFormatLMDComboBoxChange(); });
    OnChangingPick(*AdcGroupParsLMDGroupBox->CurrentValueLMDComboBox, *this,
                   [this] { CurrentValueLMDComboBoxChange(); });
    connect(AllChannelsLMDCheckBox, &QCheckBox::clicked, this,
            [this] { AllChannelsLMDCheckBoxChange(); });
    connect(AdcGroupParsLMDGroupBox->PhaseCorrectionFilterMultimeterLMDCheckBox,
            &QCheckBox::stateChanged, this,
            [this](int) { PhaseCorrectionFilterMultimeterLMDCheckBoxChange(); });
}

void TMainForm::BuildPopupMenu()
{
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->setToolTipsVisible(true);
    const auto addItem = [this](const QString& name, const QString& text,
                                const QKeySequence& keys) {
        auto* action = new QAction(text, this);
        action->setObjectName(name);
        action->setShortcut(keys);
        // Shortcuts of the window itself: they work whether the menu can pop
        // up or not.
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        PopupMenu->addAction(action);
        return action;
    };
    PopupMenu->setDefaultAction(addItem(QStringLiteral("RebootItem"), WindowTexts::RebootItem,
                                        QKeySequence(Qt::CTRL | Qt::Key_R)));
    PopupMenu->addSeparator();
    connect(addItem(QStringLiteral("SaveDefaultSettings"), WindowTexts::SaveDefaultItem,
                    QKeySequence(Qt::CTRL | Qt::Key_D)),
            &QAction::triggered, this, [this] { SaveDefaultSettingsClick(); });
    connect(addItem(QStringLiteral("SaveCurrentSettings"), WindowTexts::SaveCurrentItem,
                    QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, [this] { SaveCurrentSettingsClick(); });
    // Ctrl+R is the first item's: the recording has Ctrl+Shift+R.
    RecordResultsItem = addItem(QStringLiteral("RecordResults"), WindowTexts::RecordResultsItem,
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    RecordResultsItem->setCheckable(true);
    // Queued: the save dialog must not open inside the shortcut's own key
    // event, whose key would then reach the dialog's file name.
    connect(
        RecordResultsItem, &QAction::triggered, this, [this] { outlet_.RecordResultsClick(); },
        Qt::QueuedConnection);
    PopupMenu->addSeparator();
    addItem(QStringLiteral("AboutItem"), WindowTexts::AboutItem,
            QKeySequence(Qt::CTRL | Qt::Key_A));
    PopupMenu->addSeparator();
    QAction* exitItem = addItem(QStringLiteral("ApplicationExit"), WindowTexts::ExitItem,
                                QKeySequence(Qt::CTRL | Qt::Key_Q));
    exitItem->setToolTip(WindowTexts::ExitHint);
    // Queued: the close must not run inside the shortcut's own dispatch.
    connect(
        exitItem, &QAction::triggered, this, [this] { ApplicationExitClick(); },
        Qt::QueuedConnection);
    // The section [Precision]'s items come after all the others, without
    // shortcuts: the items before keep their places and keys.
    PopupMenu->addSeparator();
    const auto addTick = [&](const QString& name, const QString& text, const QString& hint) {
        QAction* action = addItem(name, text, QKeySequence());
        action->setCheckable(true);
        action->setToolTip(hint);
        return action;
    };
    PrecisionMethodItem = addTick(QStringLiteral("PrecisionMethod"),
                                  WindowTexts::PrecisionMethodItem,
                                  WindowTexts::PrecisionMethodHint);
    connect(PrecisionMethodItem, &QAction::triggered, this,
            [this] { outlet_.PrecisionMethodClick(); });
    UncertaintyItem = addTick(QStringLiteral("UncertaintyHints"), WindowTexts::UncertaintyItem,
                              WindowTexts::UncertaintyHint);
    connect(UncertaintyItem, &QAction::triggered, this, [this] { outlet_.UncertaintyClick(); });

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint&) {
        if (!popupAutoPopup_) {
            return;
        }
        const QSize size = PopupMenu->sizeHint();
        PopupMenu->popup(QCursor::pos() - QPoint(size.width() / 2, size.height() / 2));
    });
}

void TMainForm::InstallHints()
{
    if (dynamic_cast<THintStyle*>(QApplication::style()) == nullptr) {
        QApplication::setStyle(new THintStyle);
    }
    QPalette palette = QToolTip::palette();
    palette.setColor(QPalette::ToolTipBase,
                     QColor(WindowServices::HintColorRed, WindowServices::HintColorGreen,
                            WindowServices::HintColorBlue));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(palette);
    QFont font(QStringLiteral("Courier New"), 12);
    font.setStyleHint(QFont::TypeWriter);
    font.setBold(true);
    QToolTip::setFont(font);
    // Tooltips and wheel events of every control pass the window first.
    qApp->installEventFilter(this);
}

void TMainForm::SetPopupMenuAutoPopup(bool on)
{
    popupAutoPopup_ = on;
}

// --- acquisition controls ---

void TMainForm::FindDeviceLMDButtonClick()
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    StopThread();
    ClearForDetection(*AdcGroupParsLMDGroupBox, ChannelFrames);
    StartInitDevicesThread(ModeFullDetection, false);
}

void TMainForm::StartLMDSpeedButtonClick()
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        // The press did nothing, so the button does not stay the other way.
        StartMultimeterLMDSpeedButton->setChecked(!StartMultimeterLMDSpeedButton->isChecked());
        return;
    }
    StopThread();
    if (ActivePageIndex() && StartMultimeterLMDSpeedButton->isChecked()) {
        if (detection_.ReopenDue()) {
            // The last run lost the module: open it again, then measure.
            run_.BeginReopen();
            StartInitDevicesThread(ModeModuleChanged, false);
        } else {
            StartThread();
        }
    }
}

void TMainForm::AdcRateComboBoxChange()
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    StopThread();
}

void TMainForm::DataFormatLMDComboBoxChange()
{
    AdcRateComboBoxChange();  // the same: the next start reads the list
}

void TMainForm::CurrentValueLMDComboBoxChange()
{
    AdcRateComboBoxChange();
}

void TMainForm::AllChannelsLMDCheckBoxChange()
{
    const auto busy = TBusyGuard::Enter(Busy);
    if (!busy.Entered()) {
        return;
    }
    StopThread();
    ApplyAllChannelsBox(*AllChannelsLMDCheckBox, ChannelFrames);
}

void TMainForm::PhaseCorrectionFilterMultimeterLMDCheckBoxChange()
{
    // The results display reads the box when it needs it.
}

// --- settings commands ---

void TMainForm::SaveCurrentSettingsClick()
{
    Settings->SaveCurrentSettingsClick();
}

void TMainForm::SaveDefaultSettingsClick()
{
    Settings->SaveDefaultSettingsClick();
}

// --- tooltips ---

std::optional<std::uint8_t> TMainForm::SelectedCrateType() const
{
    const std::uint16_t selected = DeviceInventory.SelectedCrate;
    if (selected == DeviceInventory::NoCrate || selected >= DeviceInventory.ModuleCrateCount ||
        selected >= DeviceInventory::MaxCrates) {
        return std::nullopt;
    }
    return DeviceInventory.ModuleCrateTypes[selected];
}

int TMainForm::ApplicationShowHint(const QWidget* widget) const
{
    return WindowServices::HintShowTime(widget != nullptr ? widget->objectName() : QString(),
                                        SelectedCrateType());
}

bool TMainForm::ShowHint(QWidget* widget, const QPoint& globalPos)
{
    const QString text = widget->toolTip();
    if (text.isEmpty()) {
        return false;
    }
    QToolTip::showText(globalPos, text, widget, QRect(), ApplicationShowHint(widget));
    // Qt keeps a tooltip on the screen; ours stays inside the work area, off
    // its edges, measured as the tooltip window really is.
    if (QWidget* hint = FindHintWindow()) {
        const QRect work = Screen().WorkArea(this);
        hint->move(
            WindowServices::KeepHintOnScreen(hint->pos(), hint->frameGeometry().size(), work));
    }
    return true;
}

// --- mouse wheel ---

bool TMainForm::FormMouseWheel(QWidget* under, int notches)
{
    QScrollArea* box = AdcIndividualParsLMDScrollBox;
    if (under == nullptr || !box->isAncestorOf(under)) {
        return false;
    }
    // The box itself: its frame, its visible area, its scroll bar or the
    // ground of its panel between the channel panels.
    const bool overBox = under == box->viewport() || under == AdcIndividualParsLMDSimplePanel ||
                         under == box->verticalScrollBar() || under->parentWidget() == box;
    if (overBox && box->verticalScrollBar()->isVisible() && notches != 0) {
        QScrollBar* bar = box->verticalScrollBar();
        bar->setValue(bar->value() + (notches > 0 ? -1 : 1));
        box->setFocus(Qt::MouseFocusReason);
    }
    // A channel panel scrolls nothing, and the list does not scroll under it.
    return true;
}

void TMainForm::GrowToShowAllChannels()
{
    // The height the channel area lacks, given where the layout put it.
    QScrollArea* box = AdcIndividualParsLMDScrollBox;
    const int lacking =
        AdcIndividualParsLMDSimplePanel->minimumHeight() - box->viewport()->height();
    if (lacking <= 0) {
        return;
    }
    const ScreenMetrics& screen = Screen();
    const int maxHeight =
        screen.WorkArea(this).height() - screen.CaptionHeight() - 2 * screen.DialogFrameHeight();
    const int grown = std::min(height() + lacking, maxHeight);
    if (grown > height()) {
        setFixedSize(width(), grown);
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == this && type == QEvent::Show && !grownToChannels_) {
        // Before the window centres itself on its first show.
        grownToChannels_ = true;
        GrowToShowAllChannels();
    }
    if (type != QEvent::ToolTip && type != QEvent::Wheel) {
        return QWidget::eventFilter(watched, event);
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget))) {
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::ToolTip) {
        return ShowHint(widget, static_cast<QHelpEvent*>(event)->globalPos());
    }
    auto* wheel = static_cast<QWheelEvent*>(event);
    QWidget* under = childAt(mapFromGlobal(wheel->globalPosition().toPoint()));
    if (FormMouseWheel(under, wheel->angleDelta().y())) {
        wheel->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
