#pragma once

#include <QMainWindow>

class QTabWidget;

namespace brevalto {

// "Brevalto Settings": one window of six tabs, built on first opening and kept (closing only
// hides it). It has no menu bar: the app's keys (Ctrl+, and Ctrl+Q) work in it as actions.
class SettingsWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit SettingsWindow(QWidget* parent = nullptr);

    // Adds a tab in order. symbol names the tab's icon; the tab's name is its accessible name.
    // The page scrolls; its combo boxes, spin boxes and sliders take the wheel only while they
    // have the keyboard focus.
    void addTab(QWidget* page, const QString& name, const QString& symbol);
    QTabWidget* tabs() const { return tabs_; }

    // Shows the window, brings it to the front and gives it the keyboard.
    void present();

    // A plain page that names its tab and holds no controls.
    static QWidget* placeholderPage(const QString& name);

private:
    QTabWidget* tabs_;
    bool placed_ = false;
};

}  // namespace brevalto
