#pragma once

#include "AI/AIModel.h"
#include "AI/ModelCatalog.h"
#include "Platform/Task.h"

#include <QFrame>
#include <QWidget>

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace brevalto {

class Defaults;
class ModelPopover;
class ModelRow;

// A caption in the secondary colour, its font scaled by `scale` (the AI settings' small texts).
QLabel* secondaryLabel(const QString& text, qreal scale, QWidget* parent);

// Called on the GUI thread with a provider value; returns the blocking work that loads that
// provider's model list on a worker thread (throwing the error to show when it fails).
using ModelListLoader =
    std::function<std::function<std::vector<AIModel>(std::stop_token)>(const std::string& provider)>;

// The "Model" row of the AI settings: a chooser button titled with the chosen model, a progress
// indicator while the list loads, and "Reload models". The chooser opens a popover with a filter
// field, the models grouped by family (the three most recent choices first) and a row that takes
// any typed ID. The chosen ID is `model()`; every choice emits modelChanged and moves the ID to the
// front of the recent list ("recentModels").
class ModelPicker : public QWidget {
    Q_OBJECT
public:
    static constexpr int popoverWidth = 380;
    static constexpr int popoverHeight = 340;
    static constexpr int maxRecent = 3;

    ModelPicker(Defaults& defaults, ModelListLoader loader, std::string provider, std::string model,
                QWidget* parent = nullptr, TaskExecutor& executor = TaskPool::shared());
    ~ModelPicker() override;

    const std::string& provider() const { return provider_; }
    // A new provider loads its list at once (once the picker has been shown); a load still
    // running for the old one is cancelled and its result dropped.
    void setProvider(const std::string& provider);
    const std::string& model() const { return model_; }
    // The binding's side: shows another model without storing anything.
    void setModel(const std::string& model);

    const std::vector<AIModel>& models() const { return models_; }
    const QString& error() const { return error_; }
    bool loading() const { return loading_; }
    bool isOpen() const { return open_; }
    const QString& query() const { return query_; }
    const std::optional<std::string>& highlighted() const { return highlighted_; }

    // The recent IDs: every non-empty line of "recentModels", as stored (choosing keeps three).
    std::vector<std::string> recent() const;
    std::vector<ModelCatalog::Section> sections() const;
    // The trimmed query when it is not empty and no listed entry has exactly that ID.
    std::optional<std::string> typedID() const;
    // Every listed ID in display order, then the typed ID.
    std::vector<std::string> selectableIDs() const;

    void load();
    void reload() { load(); }
    void choose(const std::string& id);
    void moveHighlight(int delta);
    void chooseHighlighted();
    void setHighlighted(const std::optional<std::string>& id);
    void setOpen(bool open);
    void setQuery(const QString& query);
    // Rich text of `text` with the characters the query matches in bold and the others in the
    // secondary colour; the text unchanged (escaped) when the query is empty or does not match.
    QString highlightedTitle(const QString& text) const;

    // The chooser's title: the chosen model's name, else its ID, else "Choose a model".
    QString title() const;
    QWidget* popover() const;

signals:
    void modelChanged(const QString& model);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void rebuildRows();
    void showHighlight();
    // A row of the list that highlights on hover and chooses its ID on a click; its contents are
    // the caller's, in its horizontal layout.
    ModelRow* addRow(const std::string& id, QWidget* list, QVBoxLayout* listLayout);

    Defaults& defaults_;
    ModelListLoader loader_;
    TaskExecutor& executor_;
    std::string provider_;
    std::string model_;
    std::vector<AIModel> models_;
    QString error_;
    bool loading_ = false;
    bool open_ = false;
    bool shown_ = false;
    QString query_;
    std::optional<std::string> highlighted_;
    TaskHandle loadTask_;
    RequestToken loadToken_;

    QPushButton* chooser_;
    QProgressBar* progress_;
    QToolButton* reloadButton_;
    QLabel* errorLabel_;
    ModelPopover* popover_;
    QLineEdit* filter_;
    QScrollArea* scroll_;
    std::vector<ModelRow*> rows_;
};

// One choosable row of the popover: the model's ID identifies it.
class ModelRow : public QWidget {
    Q_OBJECT
public:
    ModelRow(std::string id, QWidget* parent);
    const std::string& id() const { return id_; }
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return highlighted_; }

signals:
    void hovered();
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::string id_;
    bool highlighted_ = false;
};

// The popover's window: a popup frame that tells the picker when it closes.
class ModelPopover : public QFrame {
    Q_OBJECT
public:
    explicit ModelPopover(QWidget* parent);

signals:
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;
};

}  // namespace brevalto
