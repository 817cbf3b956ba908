#include "Panel/PanelHeader.h"

#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationRequest.h"
#include "Clipboard/ClipStore.h"
#include "Panel/BrevaltoGlyph.h"
#include "Panel/ClipboardView.h"
#include "Panel/PanelController.h"
#include "Platform/Counts.h"
#include "Platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

namespace brevalto {

namespace {

const char* kStyle = R"(
QLabel#title { font-size: 13px; font-weight: 600; color: white; }
QWidget#commands QToolButton { border: none; background: transparent; padding: 2px; }
QWidget#commands QToolButton:hover { background: rgba(255,255,255,30); border-radius: 5px; }
QToolButton#moreActions::menu-indicator { image: none; width: 0px; }
QLabel#itemCount { font-size: 11px; color: rgba(255,255,255,150); }
)";

QToolButton* commandButton(QWidget* parent, const QString& name, const QString& symbol, const QString& accessible) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(Symbols::icon(symbol));
    button->setIconSize(QSize(14, 14));
    button->setAccessibleName(accessible);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(true);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

}  // namespace

PanelHeader::PanelHeader(ClipboardView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setObjectName(QStringLiteral("header"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setAlignment(Qt::AlignVCenter);

    // Title: the glyph and the product's name, at the leading edge of the left half.
    auto* title = new QWidget(this);
    auto* titleRow = new QHBoxLayout(title);
    titleRow->setContentsMargins(0, 0, 0, 0);
    titleRow->setSpacing(6);
    auto* glyph = new BrevaltoGlyph(15, title);
    QPalette palette = glyph->palette();
    palette.setColor(glyph->foregroundRole(), Qt::white);
    glyph->setPalette(palette);
    titleRow->addWidget(glyph);
    auto* name = new QLabel(QStringLiteral("Brevalto"), title);
    name->setObjectName(QStringLiteral("title"));
    titleRow->addWidget(name);
    titleRow->addStretch(1);
    row->addWidget(title, 1);

    // Nothing sits under the camera housing.
    gap_ = new QWidget(this);
    gap_->setObjectName(QStringLiteral("notchGap"));
    gap_->setAccessibleName(QString());
    gap_->setFixedWidth(0);
    row->addWidget(gap_);

    auto* commands = new QWidget(this);
    commands->setObjectName(QStringLiteral("commands"));
    auto* group = new QHBoxLayout(commands);
    group->setContentsMargins(0, 0, 0, 0);
    group->setSpacing(10);
    group->addStretch(1);
    row->addWidget(commands, 1);

    capture_ = commandButton(commands, QStringLiteral("capture"), QStringLiteral("viewfinder"), QStringLiteral("Capture"));
    capture_->setPopupMode(QToolButton::InstantPopup);
    capture_->hide();
    group->addWidget(capture_);

    count_ = new QLabel(commands);
    count_->setObjectName(QStringLiteral("itemCount"));
    group->addWidget(count_);

    pause_ = commandButton(commands, QStringLiteral("pause"), QStringLiteral("pause.fill"), QString());
    group->addWidget(pause_);
    connect(pause_, &QToolButton::clicked, this, [this] {
        ClipStore& store = view_.store();
        store.setPaused(!store.paused());
    });

    more_ = commandButton(commands, QStringLiteral("moreActions"), QStringLiteral("ellipsis"),
                          QStringLiteral("More actions"));
    more_->setToolTip(QStringLiteral("More actions"));
    more_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(more_);
    menu->setObjectName(QStringLiteral("moreActionsMenu"));
    QAction* settings = menu->addAction(Symbols::icon(QStringLiteral("gearshape"), Qt::white),
                                        QStringLiteral("Settings\u2026"));
    settings->setObjectName(QStringLiteral("settings"));
    connect(settings, &QAction::triggered, this, &PanelHeader::openSettings);
    menu->addSeparator();
    clearAll_ = menu->addAction(Symbols::icon(QStringLiteral("trash"), Qt::white),
                                QStringLiteral("Clear all history..."));
    clearAll_->setObjectName(QStringLiteral("clearAll"));
    // The confirmation runs its own event loop: ask once the menu has closed.
    connect(clearAll_, &QAction::triggered, this, [this] {
        view_.controller().setPinnedOpen(true);
        QTimer::singleShot(0, &view_, [view = &view_] { view->askClearAll(); });
    });
    menu->addSeparator();
    QAction* quit = menu->addAction(Symbols::icon(QStringLiteral("power"), Qt::white), QStringLiteral("Quit Brevalto"));
    quit->setObjectName(QStringLiteral("quit"));
    connect(quit, &QAction::triggered, this, [this] { view_.controller().quit(); });
    more_->setMenu(menu);
    group->addWidget(more_);

    collapse_ = commandButton(commands, QStringLiteral("collapse"), QStringLiteral("chevron.up"),
                              QStringLiteral("Close clipboard"));
    collapse_->setToolTip(QStringLiteral("Collapse clipboard (Escape)"));
    connect(collapse_, &QToolButton::clicked, this, [this] { view_.controller().collapsePanel(); });
    group->addWidget(collapse_);

    ClipStore& store = view_.store();
    connect(&store, &ClipStore::itemsChanged, this, &PanelHeader::rebuild);
    connect(&store, &ClipStore::pausedChanged, this, &PanelHeader::rebuild);
    PanelController& controller = view_.controller();
    connect(&controller, &PanelController::geometryChanged, this, &PanelHeader::rebuild);
    connect(&controller, &PanelController::expandedChanged, this, &PanelHeader::rebuild);
    rebuild();
}

QString PanelHeader::countText(std::size_t count) {
    return counted(static_cast<long long>(count), QStringLiteral("item"), QStringLiteral("items"));
}

void PanelHeader::showEvent(QShowEvent* event) {
    rebuild();
    QWidget::showEvent(event);
}

void PanelHeader::rebuild() {
    ClipStore& store = view_.store();
    PanelController& controller = view_.controller();
    gap_->setFixedWidth(int(std::max(0.0, controller.geometry().hardwareWidth)));

    ScreenshotActions* actions = controller.screenshots();
    if (actions != captureTarget_.data() || (actions && !captureMenu_)) buildCaptureMenu(actions);
    capture_->setVisible(actions != nullptr);

    count_->setText(countText(store.items().size()));
    const bool paused = store.paused();
    const QString pauseText = paused ? QStringLiteral("Resume capture") : QStringLiteral("Pause capture");
    pause_->setIcon(Symbols::icon(paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill")));
    pause_->setToolTip(pauseText);
    pause_->setAccessibleName(pauseText);
    clearAll_->setEnabled(!store.items().empty());
}

void PanelHeader::buildCaptureMenu(ScreenshotActions* actions) {
    captureTarget_ = actions;
    delete captureMenu_;
    captureMenu_ = nullptr;
    if (!actions) return;
    // The menu keeps the workflow it was built for, and does nothing once that is gone.
    QPointer<ScreenshotActions> target(actions);
    captureMenu_ = new QMenu(capture_);
    captureMenu_->setObjectName(QStringLiteral("captureMenu"));
    for (ScreenshotCommand command : kAllScreenshotCommands) {
        QAction* action = captureMenu_->addAction(title(command));
        action->setObjectName(QStringLiteral("capture-") + QString::fromLatin1(rawValue(command).data(),
                                                                              qsizetype(rawValue(command).size())));
        connect(action, &QAction::triggered, this, [target, command] {
            if (target) target->run(command, false);
        });
    }
    QAction* cancel = captureMenu_->addAction(QStringLiteral("Cancel Capture"));
    cancel->setObjectName(QStringLiteral("capture-cancel"));
    connect(cancel, &QAction::triggered, this, [target] {
        if (target) target->cancel();
    });
    capture_->setMenu(captureMenu_);
}

void PanelHeader::openSettings() {
    PanelController& controller = view_.controller();
    controller.collapsePanel();
    AutomationRequest request;
    request.command = AutomationRequest::Command::settings;
    request.mode = AutomationCaptureMode::region;
    request.delaySeconds = 0;
    AutomationDispatcher* dispatcher = controller.dispatcher();
    if (!dispatcher) return;
    try {
        request.validate();
        dispatcher->dispatch(request, AutomationSource::internal);
    } catch (...) {
        // The settings request fails silently.
    }
}

}  // namespace brevalto
