#include "Upload/S3SettingsView.h"

#include "Upload/S3UploadController.h"

#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <array>
#include <cmath>

namespace brevalto {

namespace {

constexpr std::array<int, 4> kDayChoices = {0, 1, 7, 30};

QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// A picker that a scrolling wheel passes over: choosing sends a request to the bucket, which
// only a deliberate choice may do.
class DeliberateComboBox final : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

QString dateText(Date createdAt) {
    const auto when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSeconds(createdAt) * 1000)));
    return QLocale().toString(when, QLocale::ShortFormat);
}

void setTextKeepingEdits(QLineEdit* field, const std::string& value) {
    const QString text = QString::fromStdString(value);
    if (field->text() != text) field->setText(text);
}

}  // namespace

QString S3SettingsView::daysTitle(int days) {
    if (days == 0) return QStringLiteral("Never");
    return days == 1 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(days);
}

S3SettingsView::S3SettingsView(S3UploadController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    setObjectName(QStringLiteral("settings-upload"));
    build();
    connect(&controller_, &S3UploadController::settingsChanged, this, &S3SettingsView::refreshSettings);
    connect(&controller_, &S3UploadController::statusChanged, this, &S3SettingsView::refreshState);
    connect(&controller_, &S3UploadController::busyChanged, this, [this] {
        refreshState();
        refreshSettings();  // a failed auto-delete falls back to the stored days
        refreshHistory();
    });
    connect(&controller_, &S3UploadController::progressChanged, this, &S3SettingsView::refreshState);
    connect(&controller_, &S3UploadController::historyChanged, this, &S3SettingsView::refreshHistory);
    refreshSettings();
    refreshState();
    refreshHistory();
}

void S3SettingsView::build() {
    auto* outer = new QVBoxLayout(this);
    auto* section = new QGroupBox(QStringLiteral("Upload"), this);
    auto* layout = new QVBoxLayout(section);
    outer->addWidget(section);

    auto* top = new QFormLayout;
    provider_ = new QComboBox(section);
    provider_->setObjectName(QStringLiteral("uploadProvider"));
    provider_->addItems({QStringLiteral("S3 (access keys)"), QStringLiteral("Cloudflare R2 (sign in)")});
    connect(provider_, &QComboBox::activated, this, [this](int index) { controller_.setUseCloudflare(index == 1); });
    top->addRow(QStringLiteral("Upload provider"), provider_);
    layout->addLayout(top);
    layout->addWidget(note(QStringLiteral("Bring your own S3 / Cloudflare R2"), section));

    s3Fields_ = new QWidget(section);
    s3Fields_->setObjectName(QStringLiteral("s3Fields"));
    auto* fields = new QVBoxLayout(s3Fields_);
    fields->setContentsMargins(0, 0, 0, 0);
    auto* form = new QFormLayout;
    fields->addLayout(form);
    // A text field that writes straight into the controller's S3 destination.
    auto text = [&](const char* name, const QString& label, std::string S3Settings::*member) {
        auto* field = new QLineEdit(s3Fields_);
        field->setObjectName(QString::fromLatin1(name));
        field->setAccessibleName(label);
        connect(field, &QLineEdit::textEdited, this, [this, member](const QString& value) {
            S3Settings settings = controller_.settings();
            settings.*member = value.toStdString();
            controller_.setSettings(settings);
        });
        form->addRow(label, field);
        return field;
    };
    auto secure = [&](const char* name, const QString& label) {
        auto* field = new QLineEdit(s3Fields_);
        field->setObjectName(QString::fromLatin1(name));
        field->setAccessibleName(label);
        field->setEchoMode(QLineEdit::Password);
        form->addRow(label, field);
        return field;
    };
    auto picker = [&](const char* name, const QString& label, const QStringList& titles) {
        auto* combo = new QComboBox(s3Fields_);
        combo->setObjectName(QString::fromLatin1(name));
        combo->setAccessibleName(label);
        combo->addItems(titles);
        form->addRow(label, combo);
        return combo;
    };
    endpoint_ = text("endpoint", QStringLiteral("HTTPS endpoint"), &S3Settings::endpoint);
    bucket_ = text("bucket", QStringLiteral("Bucket"), &S3Settings::bucket);
    region_ = text("region", QStringLiteral("Region (R2: auto)"), &S3Settings::region);
    prefix_ = text("prefix", QStringLiteral("Prefix (no leading slash)"), &S3Settings::prefix);
    addressing_ = picker("addressing", QStringLiteral("Addressing"),
                         {QStringLiteral("Path style (R2 / S3)"), QStringLiteral("Virtual hosted")});
    connect(addressing_, &QComboBox::activated, this, [this](int index) {
        S3Settings settings = controller_.settings();
        settings.addressing = index == 1 ? S3Settings::Addressing::virtualHost : S3Settings::Addressing::path;
        controller_.setSettings(settings);
    });
    accessKey_ = secure("accessKey", QStringLiteral("Access key"));
    secretKey_ = secure("secretKey", QStringLiteral("Secret key"));
    form->addRow(note(QStringLiteral("Leave both fields empty to keep existing keys. Keys are stored only in the "
                                     "keyring. Each endpoint, bucket and region needs its own keys."),
                      s3Fields_));
    linkMode_ = picker("linkMode", QStringLiteral("Link"), {QStringLiteral("Presigned GET"), QStringLiteral("Public base URL")});
    connect(linkMode_, &QComboBox::activated, this, [this](int index) {
        S3Settings settings = controller_.settings();
        settings.linkMode = index == 1 ? S3Settings::LinkMode::publicURL : S3Settings::LinkMode::presigned;
        controller_.setSettings(settings);
    });
    publicBaseURL_ = text("publicBaseURL", QStringLiteral("Public base URL (root bucket)"), &S3Settings::publicBaseURL);
    // The typed number stays as typed: one out of range fails on save with the rule's message.
    expiry_ = new QLineEdit(s3Fields_);
    expiry_->setObjectName(QStringLiteral("expirySeconds"));
    expiry_->setAccessibleName(QStringLiteral("Expiry seconds (1...604800)"));
    expiry_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,18}")), expiry_));
    connect(expiry_, &QLineEdit::textEdited, this, [this](const QString& value) {
        S3Settings settings = controller_.settings();
        settings.expirySeconds = value.toLongLong();
        controller_.setSettings(settings);
    });
    form->addRow(QStringLiteral("Expiry seconds (1...604800)"), expiry_);
    fields->addWidget(note(QStringLiteral("Public URLs require separate public-access configuration. Presigned link "
                                          "expiry does not delete objects. The app never changes ACLs or bucket policies."),
                           s3Fields_));
    layout->addWidget(s3Fields_);

    r2Destination_ = new QLabel(section);
    r2Destination_->setObjectName(QStringLiteral("r2Destination"));
    r2Destination_->setWordWrap(true);
    layout->addWidget(r2Destination_);

    auto button = [&](const char* name, const QString& title, QHBoxLayout* row) {
        auto* b = new QPushButton(title, section);
        b->setObjectName(QString::fromLatin1(name));
        row->addWidget(b);
        return b;
    };
    auto* actions = new QHBoxLayout;
    test_ = button("testConnection", QStringLiteral("Test connection (HEAD only)"), actions);
    saveButton_ = button("saveSettings", QStringLiteral("Save settings / keys"), actions);
    actions->addStretch();
    auto* keys = new QHBoxLayout;
    removeKeys_ = button("removeKeys", QStringLiteral("Remove keys"), keys);
    cancel_ = button("cancelRequest", QStringLiteral("Cancel request"), keys);
    keys->addStretch();
    layout->addLayout(actions);
    layout->addLayout(keys);
    connect(test_, &QPushButton::clicked, &controller_, &S3UploadController::testConnection);
    connect(saveButton_, &QPushButton::clicked, this, &S3SettingsView::save);
    connect(removeKeys_, &QPushButton::clicked, &controller_, &S3UploadController::removeKeys);
    connect(cancel_, &QPushButton::clicked, &controller_, &S3UploadController::cancelRunningOperation);

    formError_ = new QLabel(section);
    formError_->setObjectName(QStringLiteral("formError"));
    formError_->setWordWrap(true);
    formError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(formError_);
    status_ = new QLabel(section);
    status_->setObjectName(QStringLiteral("uploadStatus"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);
    progress_ = new QProgressBar(section);
    progress_->setObjectName(QStringLiteral("uploadProgress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);

    auto* lifecycle = new QFormLayout;
    autoDelete_ = new DeliberateComboBox(section);
    autoDelete_->setObjectName(QStringLiteral("autoDelete"));
    autoDelete_->setAccessibleName(QStringLiteral("Delete uploaded images after"));
    for (int days : kDayChoices) autoDelete_->addItem(daysTitle(days), days);
    connect(autoDelete_, &QComboBox::activated, this,
            [this](int index) { controller_.setAutoDelete(autoDelete_->itemData(index).toInt()); });
    lifecycle->addRow(QStringLiteral("Delete uploaded images after"), autoDelete_);
    layout->addLayout(lifecycle);
    layout->addWidget(note(QStringLiteral("Writes one lifecycle rule (brevalto-expire) for the upload prefix. The "
                                          "bucket deletes those objects, even when this computer is off. Other rules "
                                          "are kept."),
                           section));

    auto* history = new QGroupBox(QStringLiteral("Uploaded from this computer"), this);
    history->setObjectName(QStringLiteral("uploadHistory"));
    auto* historyLayout = new QVBoxLayout(history);
    rows_ = new QWidget(history);
    rowsLayout_ = new QVBoxLayout(rows_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    historyLayout->addWidget(rows_);
    forget_ = new QPushButton(QStringLiteral("Forget deleted records"), history);
    forget_->setObjectName(QStringLiteral("forgetDeleted"));
    connect(forget_, &QPushButton::clicked, &controller_, &S3UploadController::forgetDeleted);
    historyLayout->addWidget(forget_, 0, Qt::AlignLeft);
    outer->addWidget(history);
    outer->addStretch();
}

void S3SettingsView::refreshSettings() {
    const S3Settings& s = controller_.settings();
    const bool r2 = controller_.useCloudflare();
    provider_->setCurrentIndex(r2 ? 1 : 0);
    s3Fields_->setVisible(!r2);
    r2Destination_->setVisible(r2);
    setTextKeepingEdits(endpoint_, s.endpoint);
    setTextKeepingEdits(bucket_, s.bucket);
    setTextKeepingEdits(region_, s.region);
    setTextKeepingEdits(prefix_, s.prefix);
    addressing_->setCurrentIndex(s.addressing == S3Settings::Addressing::virtualHost ? 1 : 0);
    linkMode_->setCurrentIndex(s.linkMode == S3Settings::LinkMode::publicURL ? 1 : 0);
    setTextKeepingEdits(publicBaseURL_, s.publicBaseURL);
    if (expiry_->text().toLongLong() != s.expirySeconds)
        expiry_->setText(QString::number(s.expirySeconds));

    const std::optional<S3Settings> saved = controller_.savedR2Settings();
    r2Destination_->setText(
        saved && !saved->bucket.empty()
            ? QStringLiteral("Destination: %1 at %2\nChange it in the Cloudflare tab.")
                  .arg(QString::fromStdString(saved->bucket), QString::fromStdString(saved->publicBaseURL))
            : QStringLiteral("No R2 destination yet. Set it up in the Cloudflare tab."));
    const int index = autoDelete_->findData(controller_.lifecycleDays(controller_.activeSettings()));
    autoDelete_->setCurrentIndex(index);
}

void S3SettingsView::refreshState() {
    const bool busy = controller_.busy();
    for (QWidget* control : {static_cast<QWidget*>(test_), static_cast<QWidget*>(saveButton_),
                             static_cast<QWidget*>(removeKeys_), static_cast<QWidget*>(autoDelete_),
                             static_cast<QWidget*>(forget_)})
        control->setEnabled(!busy);
    cancel_->setEnabled(busy);
    status_->setText(controller_.status());
    progress_->setVisible(busy);
    progress_->setValue(static_cast<int>(std::lround(controller_.progress() * 1000)));
}

void S3SettingsView::refreshHistory() {
    // A row's own button may be what asked for this: rows go once its click has returned.
    while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setObjectName(QString());
            widget->deleteLater();
        }
        delete item;
    }
    const std::vector<S3OwnedObject>& history = controller_.history();
    if (history.empty()) {
        auto* empty = new QLabel(QStringLiteral("No uploads yet."), rows_);
        empty->setObjectName(QStringLiteral("noUploads"));
        rowsLayout_->addWidget(empty);
    }
    const bool busy = controller_.busy();
    for (const S3OwnedObject& record : history) {
        const QString id = QString::fromStdString(record.id.string());
        auto* row = new QWidget(rows_);
        row->setObjectName(QStringLiteral("upload-") + id);
        // The key on a line of its own (it can be long), then the date and state with the actions.
        auto* lines = new QVBoxLayout(row);
        lines->setContentsMargins(0, 0, 0, 0);
        lines->setSpacing(2);
        auto* key = new QLabel(QString::fromStdString(record.key), row);
        key->setObjectName(QStringLiteral("key-") + id);
        key->setTextInteractionFlags(Qt::TextSelectableByMouse);
        key->setToolTip(key->text());
        key->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        lines->addWidget(key);
        auto* line = new QHBoxLayout;
        lines->addLayout(line);
        auto* detail = new QLabel(dateText(record.createdAt) + QStringLiteral(" \u00b7 ") +
                                      QString::fromUtf8(rawValue(record.state).data(), rawValue(record.state).size()),
                                  row);
        detail->setObjectName(QStringLiteral("detail-") + id);
        detail->setForegroundRole(QPalette::PlaceholderText);
        line->addWidget(detail, 1);
        const Uuid recordID = record.id;
        const bool live = record.state != S3OwnedObject::State::deleted;
        S3UploadController* controller = &controller_;
        auto action = [&](const char* prefix, const QString& title, bool enabled, void (S3UploadController::*run)(const Uuid&)) {
            auto* b = new QPushButton(title, row);
            b->setObjectName(QString::fromLatin1(prefix) + id);
            b->setEnabled(enabled && !busy);
            connect(b, &QPushButton::clicked, controller, [controller, run, recordID] { (controller->*run)(recordID); });
            line->addWidget(b);
        };
        action("copyLink-", QStringLiteral("Copy link"), record.state == S3OwnedObject::State::uploaded,
               &S3UploadController::copyLink);
        action("verify-", QStringLiteral("Verify"), live, &S3UploadController::verify);
        action("delete-", QStringLiteral("Delete\u2026"), live, &S3UploadController::deleteObject);
        rowsLayout_->addWidget(row);
    }
}

void S3SettingsView::save() {
    try {
        controller_.saveSettings(accessKey_->text(), secretKey_->text());
    } catch (const std::exception& error) {
        formError_->setText(QString::fromUtf8(error.what()));
        return;
    }
    formError_->clear();
    accessKey_->clear();
    secretKey_->clear();
}

}  // namespace brevalto
