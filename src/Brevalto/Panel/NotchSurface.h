#pragma once

#include <QWidget>

class QAbstractButton;

namespace brevalto {

class PanelController;

// The root view of the notch panel. It paints the black notch body cut to the notch outline and
// stacks two layers: the clipboard content, laid out at its full expanded size from the top
// (so that the window's frame animation reveals it like a drawer) and shown only while the
// panel is expanded; and, while collapsed, a button filling the notch with the product glyph (or
// a pause sign) and the number of clips on either side of the camera housing.
class NotchSurface : public QWidget {
    Q_OBJECT
public:
    explicit NotchSurface(PanelController* controller, QWidget* parent = nullptr);

    // Replaces the expanded content (the clipboard view). The surface takes ownership.
    void setContent(QWidget* content);
    // The expanded content, made now when it was not needed yet.
    QWidget* content();
    QAbstractButton* notchButton() const;

protected:
    void enterEvent(QEnterEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void refreshNotch();

    PanelController* controller_;
    QWidget* content_ = nullptr;
    class NotchButton* button_;
};

}  // namespace brevalto
