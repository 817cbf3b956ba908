#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace brevalto {

class Defaults;
class WorkflowDialogs;

// The "Screenshots" page of the settings window: the capture settings, written to the user's
// settings as soon as a control changes and read by the workflow at its next capture, and the
// auto-save folder. Screen capture needs no permission on X11, so the page asks for none.
class ScreenshotSettingsView : public QWidget {
    Q_OBJECT
public:
    ScreenshotSettingsView(Defaults& defaults, WorkflowDialogs& dialogs, QWidget* parent = nullptr);

    static QString delayLabel(int seconds);
    static QString timeoutLabel(double seconds);

private:
    void chooseFolder();
    void showFolder();

    Defaults& defaults_;
    WorkflowDialogs& dialogs_;
    QLabel* delayLabel_;
    QSpinBox* delay_;
    QLabel* timeoutLabel_;
    QDoubleSpinBox* timeout_;
    QPushButton* folder_;
};

}  // namespace brevalto
