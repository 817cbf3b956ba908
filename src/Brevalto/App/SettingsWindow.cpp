#include "App/SettingsWindow.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace brevalto {

namespace {
constexpr int kWidth = 620;
constexpr int kHeight = 580;
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
