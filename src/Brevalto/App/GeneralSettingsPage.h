#pragma once

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace brevalto {

class Defaults;
class LaunchAtLogin;

// The General page of the settings window: appearance, clipboard and start-up preferences.
// Every control stores its value as soon as it changes.
class GeneralSettingsPage : public QWidget {
    Q_OBJECT
public:
    // The retention choices: label and seconds.
    struct RetentionChoice {
        const char* label;
        double seconds;
    };
    static const std::array<RetentionChoice, 5>& retentionChoices();

    // onShowInDock: applies the taskbar policy at once when the user flips "Show in taskbar".
    GeneralSettingsPage(Defaults& defaults, LaunchAtLogin& login, std::function<void(bool)> onShowInDock,
                        QWidget* parent = nullptr);

    QString message() const;

private:
    void setLogin(bool on);
    void setMessage(const QString& text);

    Defaults& defaults_;
    LaunchAtLogin& login_;
    std::function<void(bool)> onShowInDock_;
    QCheckBox* hover_ = nullptr;
    QCheckBox* showInDock_ = nullptr;
    QLineEdit* ignored_ = nullptr;
    QComboBox* retention_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QLabel* message_ = nullptr;
};

}  // namespace brevalto
