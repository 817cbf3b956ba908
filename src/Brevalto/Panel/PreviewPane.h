#pragma once

#include "ClipCore/Clip.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class QToolButton;

namespace brevalto {

class AIActionModel;
class ClipboardView;
class OCRPreview;
class TranslationPreview;

// One clip at a larger size under the status line: a title row with the secrets control, and a
// body that shows the text (secrets masked unless revealed), the image, or the OCR or translation
// model the controller holds for that clip.
class PreviewPane : public QWidget {
    Q_OBJECT
public:
    enum class Body { ocr, image, translation, text };

    explicit PreviewPane(ClipboardView& view, QWidget* parent = nullptr);

    // The clip shown: the model's clip when it is not in the history, else the current clip.
    static std::optional<Clip> shownClip(const AIActionModel* translation, const std::vector<Clip>& items,
                                         const std::optional<Clip>& current);
    // The model when it belongs to the shown clip, else null.
    static const AIActionModel* clipModel(const AIActionModel* translation, const Clip& shown);
    static QString title(const Clip& shown, const AIActionModel* clipModel);
    static Body body(const Clip& shown, const AIActionModel* clipModel, bool hasThumbnail);
    // Whether the secrets control applies: a text clip with a secret and no model of its own.
    static bool offersReveal(const Clip& shown, const AIActionModel* clipModel);

    void refresh();

private:
    ClipboardView& view_;
    QLabel* title_;
    QToolButton* reveal_;
    QWidget* box_;
    QStackedWidget* stack_;
    QPlainTextEdit* text_;
    class ImageView* image_;
    OCRPreview* ocr_;
    TranslationPreview* translation_;
};

}  // namespace brevalto
