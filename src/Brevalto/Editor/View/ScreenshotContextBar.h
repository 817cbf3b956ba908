#pragma once

#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotLayer.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QLineEdit;
class QSlider;
class QToolButton;

namespace brevalto {

class ScreenshotDocumentSession;
class ScreenshotEditorController;

// The small floating bar of quick style controls over the canvas's top-right corner. It speaks for
// the selected layer (an image layer counts as none) or else for the current tool: a way back to
// plain selection, a colour well, one slider, a text field for text-bearing layers, the kind's
// variant picker and a way to the larger panels. It stores nothing: every evaluation follows the
// session, and every change goes through it (a selected layer's change as part of an undo step).
class ScreenshotContextBar : public QWidget {
    Q_OBJECT
public:
    // What the bar speaks for, derived afresh from the session.
    struct Subject {
        std::optional<ScreenshotLayer> layer;     // the selected layer, never an image layer
        std::optional<ScreenshotLayerKind> kind;  // the bar kind
        ScreenshotStyle style;                    // the bar style
        bool effect = false;                      // the effect flag
    };
    enum class Slider { none, fontSize, strength, thickness };
    enum class Picker { none, effect, arrow, text, shape, lens };

    struct Variant {
        QString id;
        QString title;
    };
    static const std::vector<Variant>& effectVariants();

    static inline const QString secretHelp =
        QStringLiteral("Blur and Erase are not secret-safe. Use Redact for passwords and keys.");
    static inline const QString outsideStatus = QStringLiteral("The selection is outside the visible image.");

    ScreenshotContextBar(ScreenshotDocumentSession& session, ScreenshotEditorController* controller,
                         std::function<void()> openStyle, std::function<void()> openObject, QWidget* parent);

    static Subject subject(const ScreenshotDocumentSession& session);
    static bool shows(const Subject& subject);
    static bool fillColored(std::optional<ScreenshotLayerKind> kind);
    static Slider slider(const Subject& subject);
    static Picker picker(const Subject& subject);
    // The picker's selected index (for the lens: 0 square, 1 rounded).
    static int pickerIndex(const Subject& subject, const ScreenshotDocumentSession& session);

    // ---- the controls' actions, as the widgets call them
    void backToSelect();
    void pickColor(const QColor& color);
    void slide(double value, bool released);
    void editText(const QString& text);
    void submitText();
    void choose(int index);

    // Places the bar 12 px inside its parent's top-right corner.
    void place();
    // The bar itself in its parent, without the room around it for its shadow.
    QRect barRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void refresh();
    void updateLayer(const std::function<void(ScreenshotLayer&)>& change);
    void chooseEffect(int index, const Subject& subject);
    void commit();
    void report(const std::exception& error);

    ScreenshotDocumentSession& session_;
    QPointer<ScreenshotEditorController> controller_;
    std::function<void()> openStyle_;
    std::function<void()> openObject_;

    QToolButton* back_ = nullptr;
    QToolButton* color_ = nullptr;
    QSlider* slider_ = nullptr;
    QLineEdit* text_ = nullptr;
    QWidget* picker_ = nullptr;
    QButtonGroup* segments_ = nullptr;
    Picker shownPicker_ = Picker::none;
    QToolButton* more_ = nullptr;
    QColor shownColor_;
    QImage shadow_;
};

}  // namespace brevalto
