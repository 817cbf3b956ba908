#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;

namespace brevalto {

class FittedImageView;
class TranslatedImageModel;
class TranslatedImageStore;
struct EditableImageRegion;

// The region translator's workspace: the preview with its hints, the target language, the
// actions, the status line and an editor for one region at a time. Every action and every edit is
// a call on the model; the view keeps no state of its own.
class TranslatedImageView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kEditorWidth = 290;
    static constexpr int kRegionLabelCharacters = 28;

    TranslatedImageView(std::shared_ptr<TranslatedImageModel> model, TranslatedImageStore& store,
                        QWidget* parent = nullptr);
    ~TranslatedImageView() override;

    TranslatedImageModel& model() const { return *model_; }

    // The Region picker's label of a region at `index`: its number, ". " and the start of its text.
    static QString regionLabel(std::size_t index, const QString& text);

private:
    void refresh();
    // Applies an edit to the selected region through the model.
    void edit(const std::function<void(EditableImageRegion&)>& change);
    void pickColor(bool mask);

    std::shared_ptr<TranslatedImageModel> model_;
    TranslatedImageStore& store_;
    bool refreshing_ = false;

    FittedImageView* preview_;
    QLabel* status_;
    QLabel* outdated_;
    QComboBox* target_;
    QPushButton* translate_;
    QPushButton* update_;
    QPushButton* save_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QWidget* editor_;
    QComboBox* region_;
    QCheckBox* enabled_;
    QLabel* original_;
    QPlainTextEdit* text_;
    QPushButton* maskColor_;
    QPushButton* textColor_;
    QSlider* scale_;
    QDoubleSpinBox* coordinates_[4];
};

}  // namespace brevalto
