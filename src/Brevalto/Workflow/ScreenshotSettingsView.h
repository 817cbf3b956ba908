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
// settings as soon as a control changes and read by the workflow at its next capture, the
// auto-save folder, and whether screen capture is allowed (on X11 it needs no permission while a
// display is open, so the control only shows that state).
class ScreenshotSettingsView : public QWidget {
    Q_OBJECT
public:
    ScreenshotSettingsView(Defaults& defaults, WorkflowDialogs& dialogs, bool screenRecordingGranted,
                           QWidget* parent = nullptr);

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
