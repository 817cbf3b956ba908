#include "Panel/StatusBar.h"

#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/ClipboardView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace brevalto {

namespace {

const char* kStyle = R"(
QLabel#status { color: rgba(255,255,255,150); font-size: 11px; }
QToolButton#clearSelection, QToolButton#enableCapture, QToolButton#workspaceDone {
    border: 1px solid rgba(255,255,255,60); border-radius: 5px; padding: 1px 8px; font-size: 11px; }
QLabel#workspaceTitle { font-size: 13px; font-weight: 600; color: white; }
)";

QToolButton* borderedButton(QWidget* parent, const QString& name, const QString& text) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// A one-line label that shows its text whole when it fits, else cut with an ellipsis at the end;
// its help always holds the whole text, and assistive technology reads it whole too.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setWholeText(const QString& text) {
        whole_ = text;
        setAccessibleName(text);
        elide();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() {
        const int room = contentsRect().width();
        setText(room > 0 ? fontMetrics().elidedText(whole_, Qt::ElideRight, room) : whole_);
    }
    QString whole_;
};

}  // namespace

StatusBar::StatusBar(ClipboardView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setObjectName(QStringLiteral("statusBar"));
    setStyleSheet(QString::fromLatin1(kStyle));
    setFixedHeight(30);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    clearSelection_ = borderedButton(this, QStringLiteral("clearSelection"), QString());
    connect(clearSelection_, &QToolButton::clicked, this, [this] { view_.clearImageSelection(); });
    row->addWidget(clearSelection_);

    text_ = new ElidedLabel(this);
    text_->setObjectName(QStringLiteral("status"));
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(false);
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(text_, 1);

    enableCapture_ = borderedButton(this, QStringLiteral("enableCapture"), QStringLiteral("Enable Capture"));
    connect(enableCapture_, &QToolButton::clicked, this, &StatusBar::enableCapture);
    row->addWidget(enableCapture_);
    row->addSpacing(6);

    ClipStore& store = view_.store();
    connect(&store, &ClipStore::messageChanged, this, &StatusBar::refresh);
    connect(&store, &ClipStore::pausedChanged, this, &StatusBar::refresh);
    connect(&view_, &ClipboardView::stateChanged, this, &StatusBar::refresh);
    refresh();
}

QString StatusBar::statusText(bool paused, const QString& message) {
    return paused ? QStringLiteral("Capture paused") : message;
}

QString StatusBar::clearSelectionText(std::size_t count) {
    return QStringLiteral("Clear %1 selected").arg(qulonglong(count));
}

void StatusBar::refresh() {
    const ClipStore& store = view_.store();
    const std::size_t selected = view_.imageSelection().size();
    clearSelection_->setVisible(selected > 0);
    clearSelection_->setText(clearSelectionText(selected));
    // One line, cut with an ellipsis at the bar's end; its help shows the message whole.
    static_cast<ElidedLabel*>(text_)->setWholeText(statusText(store.paused(), store.message()));
    text_->setToolTip(store.message());
    enableCapture_->setVisible(view_.controller().monitor().accessRestricted());
}

void StatusBar::enableCapture() {
    ClipboardMonitor& monitor = view_.controller().monitor();
    // Reading once makes the desktop ask the user for access; the text itself is not wanted.
    monitor.board().readData(PasteboardType::string, 64, this, [](PasteboardData) {});
    monitor.setCount(-1);
    monitor.poll();
}

WorkspaceHeader::WorkspaceHeader(PanelController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    setObjectName(QStringLiteral("workspaceHeader"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("workspaceTitle"));
    title_->setTextFormat(Qt::PlainText);
    row->addWidget(title_);
    row->addStretch(1);
    auto* done = borderedButton(this, QStringLiteral("workspaceDone"), QStringLiteral("Done"));
    done->setToolTip(QStringLiteral("Close (Esc)"));
    connect(done, &QToolButton::clicked, &controller_, &PanelController::closeCurrentWorkspace);
    row->addWidget(done);
    connect(&controller_, &PanelController::workspaceChanged, this, &WorkspaceHeader::refresh);
    refresh();
}

std::optional<QString> WorkspaceHeader::title(PanelController::Workspace::Kind kind) {
    using Kind = PanelController::Workspace::Kind;
    switch (kind) {
    case Kind::imageAI:
        return QStringLiteral("Image with Claude");
    case Kind::regions:
        return QStringLiteral("Replace text in image");
    case Kind::editor:
        break;
    }
    return std::nullopt;
}

void WorkspaceHeader::refresh() {
    const auto& workspace = controller_.workspace();
    const std::optional<QString> text = workspace ? title(workspace->kind()) : std::nullopt;
    title_->setText(text.value_or(QString()));
    setVisible(text.has_value());
}

}  // namespace brevalto
