#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>

class QBoxLayout;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QToolButton;
class QVBoxLayout;

namespace brevalto {

class AIActionModel;
class ClipStore;
class ClipboardMonitor;

// The body of the preview pane for the text recognised in an image clip: the recognition
// language, the text (editable, or masked read-only while it holds a secret), join lines, copy,
// the QR payloads (copied as text, never opened), replace in image and translate; the
// translation opens in a second column beside the text.
class OCRPreview : public QWidget {
    Q_OBJECT
public:
    OCRPreview(ClipStore& store, ClipboardMonitor& monitor, QWidget* parent = nullptr);

    // The model shown, with its secrets masked again; null shows nothing of any earlier model.
    void setModel(std::shared_ptr<AIActionModel> model);
    const std::shared_ptr<AIActionModel>& model() const { return model_; }

    // The label of a QR payload's row: one line, control and format characters shown as U+FFFD,
    // long payloads cut short, ampersands kept literal.
    static QString qrLabel(const QString& payload);
    // The status line: the error while there is no result, else the notice.
    static QString statusText(const AIActionModel& model);

    void refresh();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuildQRRows();
    // Stacks the header's picker half above its buttons while the row is too narrow for them side
    // by side (with the translation column beside them when it is open), so no title is cut.
    void fitHeader();
    void textEdited();

    ClipStore& store_;
    ClipboardMonitor& monitor_;
    std::shared_ptr<AIActionModel> model_;
    QMetaObject::Connection changed_;
    bool revealed_ = false;
    bool updating_ = false;
    // The text the editor last showed, while the editor (not the masked view) is shown.
    std::optional<QString> editorText_;
    // Whether the model's text holds a secret, for the text it was worked out from.
    QString scannedText_;
    bool scannedSecret_ = false;
    QStringList shownPayloads_;

    QBoxLayout* header_;
    QHBoxLayout* translationHeader_;
    QComboBox* language_;
    QProgressBar* spinner_;
    QToolButton* join_;
    QToolButton* copy_;
    QToolButton* secrets_;
    QToolButton* replace_;
    QToolButton* translate_;
    QPlainTextEdit* text_;
    QWidget* qrRows_;
    QVBoxLayout* qrLayout_;
    QLabel* status_;
    QWidget* divider_;
    QWidget* translation_;
    QComboBox* target_;
    QToolButton* again_;
    QProgressBar* translationSpinner_;
    QToolButton* copyResult_;
    QToolButton* hide_;
    QPlainTextEdit* result_;
};

}  // namespace brevalto
