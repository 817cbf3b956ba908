#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QToolButton;

namespace brevalto {

class AIActionModel;
class ClipStore;
class ClipboardMonitor;

// The translation targets in their fixed order, each shown by its name with its code as data.
void fillTranslationTargets(QComboBox& picker);
// Selects the entry of the code (none when the code is not a target).
void showTranslationTarget(QComboBox& picker, const std::string& code);
// A small indefinite progress indicator.
QProgressBar* makeSpinner(const QString& name, QWidget* parent);
// A borderless button with a title and a symbol.
QToolButton* makePreviewButton(const QString& name, const QString& title, const QString& symbol, QWidget* parent);
// Sets a style flag of a widget ("failed": red; "placeholder": secondary colour) and restyles it.
void setStyleFlag(QWidget& widget, const char* flag, bool on);
// Puts a plain text into a read-only view unless it already holds it.
void showPlainText(QPlainTextEdit& view, const QString& text);

// The body of the preview pane for a translation of a text clip: the source language, the
// target picker (a new pick translates again at once and is remembered), progress, the result or
// the error, and a copy of the result.
class TranslationPreview : public QWidget {
    Q_OBJECT
public:
    TranslationPreview(ClipStore& store, ClipboardMonitor& monitor, QWidget* parent = nullptr);

    // The model shown; null shows nothing of any earlier model.
    void setModel(std::shared_ptr<AIActionModel> model);
    const std::shared_ptr<AIActionModel>& model() const { return model_; }

    // "English ->", or "Auto ->" when no language was detected.
    static QString sourceText(const AIActionModel& model);
    // The error, else the result, else "Translating...".
    static QString bodyText(const AIActionModel& model);

    void refresh();

private:
    ClipStore& store_;
    ClipboardMonitor& monitor_;
    std::shared_ptr<AIActionModel> model_;
    QMetaObject::Connection changed_;
    QLabel* source_;
    QComboBox* target_;
    QProgressBar* spinner_;
    QToolButton* copy_;
    QPlainTextEdit* text_;
};

}  // namespace brevalto
