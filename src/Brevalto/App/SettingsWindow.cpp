#include "App/SettingsWindow.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace brevalto {

namespace {
constexpr int kWidth = 620;
constexpr int kHeight = 580;

// Keeps the wheel from changing a combo box, spin box or slider that does not have the keyboard
// focus: the page under it scrolls instead, as the rest of the page does.
class WheelOnlyWithFocus : public QObject {
public:
    using QObject::QObject;

    void guard(QWidget* page) {
        for (QWidget* control : page->findChildren<QWidget*>()) {
            if (!qobject_cast<QComboBox*>(control) && !qobject_cast<QAbstractSpinBox*>(control) &&
                !qobject_cast<QAbstractSlider*>(control))
                continue;
            control->setFocusPolicy(Qt::StrongFocus);  // the wheel alone gives no focus
            control->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel) return false;
        auto* control = static_cast<QWidget*>(watched);
        if (control->hasFocus()) return false;
        for (QWidget* above = control->parentWidget(); above; above = above->parentWidget()) {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(above)) {
                QCoreApplication::sendEvent(area->viewport(), event);
                break;
            }
        }
        return true;
    }
};
}  // namespace

SettingsWindow::SettingsWindow(QWidget* parent) : QMainWindow(parent), tabs_(new QTabWidget(this)) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Brevalto Settings"));
    // Titled and closable; neither resizable nor minimisable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    tabs_->setObjectName(QStringLiteral("settingsTabs"));
    tabs_->setDocumentMode(true);
    setCentralWidget(tabs_);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void SettingsWindow::addTab(QWidget* page, const QString& name, const QString& symbol) {
    auto* scroll = new QScrollArea(tabs_);
    scroll->setWidget(page);
    (new WheelOnlyWithFocus(scroll))->guard(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setProperty("symbol", symbol);
    const int index = tabs_->addTab(scroll, name);
    tabs_->setTabToolTip(index, name);
    scroll->setAccessibleName(name);
}

void SettingsWindow::present() {
    if (!placed_) {
        // Sized and centred on the first opening only: closing merely hides the window, so a
        // later opening brings it back where the user left it.
        placed_ = true;
        setFixedSize(kWidth, kHeight);
        if (const QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    show();
    raise();
    activateWindow();
}

QWidget* SettingsWindow::placeholderPage(const QString& name) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(name, page);
    label->setAlignment(Qt::AlignCenter);
    label->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(label);
    return page;
}

}  // namespace brevalto
