#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace brevalto {

class AIActionModel;
class ClipStore;
class ClipboardMonitor;
class ImagePlayground;
class ImagePlaygroundAction;

// The image-prompt pane of an image clip: the user writes an edit request, Claude turns it into
// an image-editing prompt, which the user copies, saves as a new text clip or hands to the image
// generator. The clip's image is never changed.
class ImageAIView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kThumbnailWidth = 220;
    static inline const std::string savedSource = "Claude \u00B7 image prompt";

    ImageAIView(std::shared_ptr<AIActionModel> model, ClipStore& store, ClipboardMonitor& monitor,
                ImagePlayground& playground, QWidget* parent = nullptr);
    ~ImageAIView() override;

    AIActionModel& model() const { return *model_; }
    bool saved() const { return saved_; }

    void writePrompt();
    void copyResult();
    void saveResult();

private:
    void refresh();
    void resultChanged();

    std::shared_ptr<AIActionModel> model_;
    ClipStore& store_;
    ClipboardMonitor& monitor_;
    bool saved_ = false;
    QString shownResult_;

    QPlainTextEdit* request_;
    QPushButton* write_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    ImagePlaygroundAction* playground_;
    QLabel* error_;
    QLabel* result_;
    QPushButton* copy_;
    QPushButton* save_;
};

}  // namespace brevalto
