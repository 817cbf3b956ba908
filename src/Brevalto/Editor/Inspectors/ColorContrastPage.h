#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;

namespace brevalto {

class ScreenshotEditorView;

// The inspector's "Color & contrast" page: samples a text and a background colour from the
// rendered image by the chosen mode, lets either be picked, and shows the text colour in hex,
// RGB, HSL and OKLCH with the pair's WCAG 2 contrast.
class ColorContrastPage : public QWidget {
    Q_OBJECT
public:
    // Where "APCA license" leads: the licence as its authors publish it.
    static inline const QUrl apcaLicense = QUrl(QStringLiteral("https://github.com/Myndex/apca-w3/blob/master/LICENSE.md"));

    explicit ColorContrastPage(ScreenshotEditorView& view, QWidget* parent = nullptr);

    // Shows the view's colours as they are now.
    void refresh();

private:
    void sample(bool foreground);

    ScreenshotEditorView& view_;
    QPushButton* foreground_ = nullptr;
    QPushButton* background_ = nullptr;
    QLabel* lines_ = nullptr;
};

}  // namespace brevalto
