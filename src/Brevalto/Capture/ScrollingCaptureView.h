#pragma once

#include "Capture/ScrollingCapture.h"

#include <QWidget>

#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;

namespace brevalto {

// The control panel of one scrolling capture: progress, status line, the capture's commands as
// buttons and its settings. It keeps no state of its own: every control shows a field of the
// capture and writes back to it, and it follows the capture's `changed` signal.
class ScrollingCaptureView : public QWidget {
    Q_OBJECT
public:
    explicit ScrollingCaptureView(ScrollingCapture& capture, QWidget* parent = nullptr);

    // A small titled, resizable window that stays above other windows and does not take the
    // keyboard when shown, holding a view of the capture; Esc in it stops and saves.
    static QWidget* makePanel(ScrollingCapture& capture);

    // Whole numbers in the user's locale, as the integer fields show them; none when text is not one.
    static QString formatInteger(int value);
    static std::optional<int> parseInteger(const QString& text);

private:
    void refresh();
    void fitWindow();  // the window takes the size of what it shows now
    using IntField = int ScrollingCapture::Settings::*;
    QWidget* integerRow(const QString& label, const QString& title, IntField field);

    ScrollingCapture& capture_;
    QLabel* progress_;
    QLabel* status_;
    QPushButton* select_;
    QPushButton* pause_;
    QPushButton* stop_;
    QToolButton* optionsToggle_;
    QWidget* options_;
    QComboBox* mode_;
    QComboBox* direction_;
    QComboBox* speed_;
    QSlider* overlap_;
    QLabel* overlapValue_;
    QWidget* setup_;
    QWidget* manual_;
    QPushButton* export_;
    std::vector<std::pair<QLineEdit*, IntField>> fields_;
};

}  // namespace brevalto
