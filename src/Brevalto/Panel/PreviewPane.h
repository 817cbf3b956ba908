#pragma once

#include "ClipCore/Clip.h"
#include "Platform/Task.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>
#include <set>
#include <string>
#include <unordered_map>
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
    // What the text body shows: a prefix of the clip's text, extended as the reader scrolls.
    struct ShownText {
        Uuid id;
        std::string digest;
        SharedText text;
        bool revealed = false;
        std::size_t characters = 0;  // asked for so far
        std::size_t bytes = 0;       // of the shown prefix
        bool complete = false;
        bool waiting = false;        // for the clip's masked first part
        bool extending = false;      // a longer part is being masked off the GUI thread
    };
    bool revealApplies(const Clip& shown, const AIActionModel* clipModel);
    void showText(const Clip& clip, bool revealed);
    void extendText();
    // Shows the clip's masked first part as the store keeps it; false for a clip it does not keep.
    bool showFirstPart();
    // Adds what `prefix` (the text's first `characters`) holds beyond what is shown.
    void appendPrefix(const std::string& prefix, std::size_t characters);

    ClipboardView& view_;
    QLabel* title_;
    QToolButton* reveal_;
    QWidget* box_;
    QStackedWidget* stack_;
    QPlainTextEdit* text_;
    class FittedImageView* image_;
    OCRPreview* ocr_;
    TranslationPreview* translation_;
    std::optional<ShownText> shownText_;
    RequestToken extension_;  // the longer part being masked
    std::unordered_map<std::string, bool> secrets_;  // long texts by digest: whether they hold a secret
    std::set<std::string> checking_;
};

}  // namespace brevalto
