#pragma once

#include <QAbstractButton>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QStaticText>
#include <QWidget>

#include <functional>
#include <vector>

class QBoxLayout;
class QMenu;
class QPainter;
class QSpacerItem;

namespace brevalto {

// A control of the bar that a row of controls draws (see EditorControlRow).
class EditorRowControl {
public:
    virtual ~EditorRowControl() = default;
    // Draws the control in its own coordinates.
    virtual void paintControl(QPainter& painter) const = 0;

protected:
    // The control's own paint event: it draws itself, unless it sits in a row, which draws it.
    void paintUnlessInRow(QWidget& control) const;
};

// A row of the bar's controls (the toolbar, the tool palette, the selection bar): it draws the
// controls it holds in its own paint, with one painter, instead of each control setting up a
// painter of its own. A control's update still repaints its area, and with it the row's part there.
class EditorControlRow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Draws the row's shown controls that meet the region.
    void paintControls(QPainter& painter, const QRegion& region) const;
};

// The editor bar's icon button: a symbol in a 30 x 28 point frame that takes clicks on its whole
// rectangle, on a clear rounded background (radius 6) that is tinted while the item is active or
// the pointer rests on it. The help text doubles as accessible name unless one is given. It never
// takes the keyboard focus, so letters, Tab and Escape keep reaching the canvas.
class EditorIconButton : public QAbstractButton, public EditorRowControl {
    Q_OBJECT
public:
    EditorIconButton(const QString& symbol, const QString& help, const QString& objectName, QWidget* parent = nullptr,
                     const QString& accessibleName = {});

    const QString& symbol() const { return symbol_; }
    bool active() const { return active_; }
    void setActive(bool active);

    // A menu made only when first needed (a press, or ensureMenu), shown under the button on press.
    void setMenuFactory(std::function<QMenu*()> factory) { menuFactory_ = std::move(factory); }
    QMenu* ensureMenu();

    QSize sizeHint() const override { return QSize(30, 28); }
    QSize minimumSizeHint() const override { return sizeHint(); }
    void paintControl(QPainter& painter) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString symbol_;
    bool active_ = false;
    // The symbol image last drawn and its colour and pixel ratio.
    mutable QImage shown_;
    mutable QRgb shownColor_ = 0;
    mutable qreal shownRatio_ = 0;
    std::function<QMenu*()> menuFactory_;
    QMenu* menu_ = nullptr;
};

// The symbol drawn in the colour at the pixel ratio, once per process for each combination.
const QImage& cachedSymbol(const QString& symbol, int size, const QColor& color, qreal ratio);

// A rounded rectangle filling an image of the size, with an optional one-point outline, drawn
// once per process for each combination: a fresh editor blits its controls' backgrounds.
const QImage& cachedChip(QSize size, int radius, const QColor& fill, const QColor& outline, qreal ratio);

// The fonts of the bar's texts, and a text laid out in one of them (wrapped at width when it is
// positive), kept for the process: a fresh editor draws the texts of the last one unshaped.
enum class EditorFont { value, caption, button, status };
const QFont& editorFont(EditorFont font);
const QStaticText& cachedText(const QString& text, EditorFont font, int width = -1);
// The text in the colour, drawn once per process: on one line at its natural size, or wrapped
// at the box's width and cut at its height.
const QImage& cachedTextImage(const QString& text, EditorFont font, const QColor& color, qreal ratio, QSize box = {});

// The bar's readout: a value in 12 pt semibold with even-width digits over a 10 pt caption in the
// secondary colour, at its natural size.
class EditorReadout : public QWidget, public EditorRowControl {
    Q_OBJECT
public:
    explicit EditorReadout(const QString& objectName, QWidget* parent = nullptr);

    const QString& value() const { return value_; }
    const QString& caption() const { return caption_; }
    void setTexts(const QString& value, const QString& caption);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    void paintControl(QPainter& painter) const override;
    // Draws the two lines with their left edge at x.
    static void paintTexts(QPainter& painter, const QWidget& widget, double x, const QString& value,
                           const QString& caption);
    // The width of the wider line (at least minimum) and the height of both.
    static QSize textsSize(const QString& value, const QString& caption, int minimum = 0);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString value_;
    QString caption_;
};

// A readout that is a plain button, optionally led by a 20 point colour swatch (the colour under
// the pointer, Tab to copy; the zoom, toggling 100 % and Fit).
class EditorReadoutButton : public QAbstractButton, public EditorRowControl {
    Q_OBJECT
public:
    EditorReadoutButton(const QString& objectName, const QString& help, bool swatch, QWidget* parent = nullptr);

    const QString& value() const { return value_; }
    const QString& caption() const { return caption_; }
    const QColor& swatchColor() const { return swatchColor_; }
    void setTexts(const QString& value, const QString& caption);
    void setSwatchColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    void paintControl(QPainter& painter) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool swatch_;
    QColor swatchColor_ = Qt::white;
    QString value_;
    QString caption_;
};

// The bar's small text button ("Done", "Crop", "Apply selection" ...): a rounded, lightly filled
// button with an optional leading symbol and an accent fill (the orange secret warning).
class EditorTextButton : public QAbstractButton, public EditorRowControl {
    Q_OBJECT
public:
    EditorTextButton(const QString& text, const QString& objectName, QWidget* parent = nullptr,
                     const QString& symbol = {}, const QColor& accent = {});

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    void paintControl(QPainter& painter) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    QColor accent_;
};

// The editor's two-line status line: the status in 11 px type in the secondary colour, cut after two
// lines. A label, so that assistive technology reads the status and hears of each change whether or
// not the pointer ever came near. Until the pointer comes to it, it draws the text from the images
// kept for the process; from then on the label draws it, selectable, so that the whole status can
// be selected and copied (a selectable label's text control is costly to make on every opening).
class EditorStatusLine : public QLabel {
    Q_OBJECT
public:
    explicit EditorStatusLine(QWidget* parent = nullptr);

    // Two lines and the margins; its width is the view's, so the layout need not ask a wrapping
    // label for its size or the height of each width (each answer lays the text out again).
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool hasHeightForWidth() const override { return false; }

    // Shows the text; a text equal to the one shown is announced again, as a new text would be
    // (a label keeps quiet about an equal text), so that a repeated refusal is heard each time.
    void announce(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    bool selectable() const { return textInteractionFlags().testFlag(Qt::TextSelectableByMouse); }
};

// The dark appearance of the editor's floating controls (the context bar, the inspector sheet),
// whatever palette the panel's style sheet leaves them; the panel takes it too, on a black window,
// and so do all tooltips. Links are light; dimmed texts still read at 4.5:1; disabled texts are
// dimmed further, without the light relief the style draws under them.
QPalette editorDarkPalette(QPalette palette);

// The bar's thin lines, laid out as spacers and drawn by the widget whose layout holds them:
// a separator is a vertical line 22 points high with 4 points on either side, a divider a
// full-width line one point high.
QSpacerItem* addEditorSeparator(QBoxLayout& row);
QSpacerItem* addEditorDivider(QBoxLayout& column);
void paintEditorLines(QPainter& painter, const std::vector<QSpacerItem*>& separators,
                      const std::vector<QSpacerItem*>& dividers = {});

}  // namespace brevalto
