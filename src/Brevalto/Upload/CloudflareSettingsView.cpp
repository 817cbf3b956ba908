#include "Upload/CloudflareSettingsView.h"

#include "Platform/Defaults.h"
#include "Upload/S3UploadController.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace brevalto {

namespace {

QLabel* caption(const QString& text, QWidget* parent, const char* name = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    if (name) label->setObjectName(QString::fromLatin1(name));
    return label;
}

// Fills a picker with its placeholder and the entries (shown title, value) and selects `current`
// (the placeholder when it is not listed), without reporting a choice.
void fill(QComboBox* picker, const QString& placeholder, const std::vector<std::pair<QString, QString>>& entries,
          const std::string& current) {
    const QSignalBlocker quiet(picker);
    picker->clear();
    picker->addItem(placeholder, QString());
    for (const auto& [title, value] : entries) picker->addItem(title, value);
    const int index = picker->findData(QString::fromStdString(current));
    picker->setCurrentIndex(index < 0 ? 0 : index);
}

}  // namespace

CloudflareSettingsView::CloudflareSettingsView(S3UploadController& controller, Defaults& defaults, QWidget* parent)
    : QWidget(parent), controller_(controller), defaults_(defaults) {
    setObjectName(QStringLiteral("settings-cloudflare"));
    build();
    for (auto signal : {&S3UploadController::busyChanged, &S3UploadController::statusChanged,
                        &S3UploadController::settingsChanged, &S3UploadController::cloudflareChanged})
        connect(&controller_, signal, this, &CloudflareSettingsView::refresh);
    refresh();
}

void CloudflareSettingsView::build() {
    auto* outer = new QVBoxLayout(this);
    auto button = [](const char* name, const QString& title, QWidget* parent, QHBoxLayout* row) {
        auto* b = new QPushButton(title, parent);
        b->setObjectName(QString::fromLatin1(name));
        row->addWidget(b);
        return b;
    };

    auto* account = new QGroupBox(QStringLiteral("Cloudflare account"), this);
    auto* accountLayout = new QVBoxLayout(account);
    accountLayout->addWidget(caption(QStringLiteral("Use your own Cloudflare account for R2 uploads and AI Gateway. "
                                                    "Usage is billed to that account. Tokens are stored only in this "
                                                    "computer's keyring."),
                                     account));
    auto* row = new QHBoxLayout;
    connect_ = button("connectCloudflare", QStringLiteral("Connect Cloudflare"), account, row);
    disconnect_ = button("disconnectCloudflare", QStringLiteral("Disconnect"), account, row);
    refresh_ = button("refreshDestinations", QStringLiteral("Refresh"), account, row);
    row->addStretch();
    accountLayout->addLayout(row);
    auto* cancelRow = new QHBoxLayout;
    cancel_ = button("cancelCloudflareRequest", QStringLiteral("Cancel request"), account, cancelRow);
    cancelRow->addStretch();
    accountLayout->addLayout(cancelRow);
    outer->addWidget(account);
    connect(connect_, &QPushButton::clicked, &controller_, &S3UploadController::connectCloudflare);
    connect(disconnect_, &QPushButton::clicked, &controller_, &S3UploadController::disconnectCloudflare);
    connect(refresh_, &QPushButton::clicked, &controller_, [this] { controller_.refreshDestinations(); });
    connect(cancel_, &QPushButton::clicked, &controller_, &S3UploadController::cancelRunningOperation);

    accountSection_ = new QGroupBox(this);
    accountSection_->setObjectName(QStringLiteral("cloudflareAccountSection"));
    auto* accountForm = new QFormLayout(accountSection_);
    account_ = new QComboBox(accountSection_);
    account_->setObjectName(QStringLiteral("cloudflareAccount"));
    account_->setAccessibleName(QStringLiteral("Account"));
    accountForm->addRow(QStringLiteral("Account"), account_);
    connect(account_, &QComboBox::activated, this, [this](int index) {
        const QString id = account_->itemData(index).toString();
        if (!id.isEmpty()) controller_.refreshDestinations(id.toStdString());
    });
    outer->addWidget(accountSection_);

    destinationSection_ = new QGroupBox(QStringLiteral("R2 upload destination"), this);
    destinationSection_->setObjectName(QStringLiteral("r2DestinationSection"));
    auto* destination = new QVBoxLayout(destinationSection_);
    auto* form = new QFormLayout;
    destination->addLayout(form);
    bucket_ = new QComboBox(destinationSection_);
    bucket_->setObjectName(QStringLiteral("r2Bucket"));
    bucket_->setAccessibleName(QStringLiteral("Bucket"));
    form->addRow(QStringLiteral("Bucket"), bucket_);
    connect(bucket_, &QComboBox::activated, this, [this](int index) {
        const QString name = bucket_->itemData(index).toString();
        if (!name.isEmpty()) controller_.refreshDestinations(std::nullopt, name.toStdString());
    });
    domain_ = new QComboBox(destinationSection_);
    domain_->setObjectName(QStringLiteral("r2PublicDomain"));
    domain_->setAccessibleName(QStringLiteral("Public domain"));
    form->addRow(QStringLiteral("Public domain"), domain_);
    connect(domain_, &QComboBox::activated, this, [this](int index) {
        S3Settings r2 = controller_.r2Settings();
        r2.publicBaseURL = domain_->itemData(index).toString().toStdString();
        controller_.setR2Settings(r2);
    });
    prefix_ = new QLineEdit(destinationSection_);
    prefix_->setObjectName(QStringLiteral("r2Prefix"));
    prefix_->setAccessibleName(QStringLiteral("Prefix"));
    form->addRow(QStringLiteral("Prefix"), prefix_);
    connect(prefix_, &QLineEdit::textEdited, this, [this](const QString& text) {
        S3Settings r2 = controller_.r2Settings();
        r2.prefix = text.toStdString();
        controller_.setR2Settings(r2);
    });
    saved_ = new QLabel(destinationSection_);
    saved_->setObjectName(QStringLiteral("r2SavedDestination"));
    saved_->setWordWrap(true);
    saved_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    destination->addWidget(saved_);
    destination->addWidget(caption(QStringLiteral("Anyone with an image URL can view it. Copy link checks the public "
                                                  "image without credentials. No presigned links, automatic uploads "
                                                  "or bucket-policy changes."),
                                   destinationSection_));
    auto* actions = new QHBoxLayout;
    save_ = button("saveR2Destination", QStringLiteral("Save R2 destination"), destinationSection_, actions);
    test_ = button("testR2Connection", QStringLiteral("Test connection"), destinationSection_, actions);
    actions->addStretch();
    destination->addLayout(actions);
    connect(save_, &QPushButton::clicked, &controller_, &S3UploadController::saveR2Destination);
    connect(test_, &QPushButton::clicked, &controller_, &S3UploadController::testConnection);
    outer->addWidget(destinationSection_);

    auto* gateway = new QGroupBox(QStringLiteral("AI Gateway"), this);
    auto* gatewayLayout = new QVBoxLayout(gateway);
    auto* gatewayForm = new QFormLayout;
    gateway_ = new QLineEdit(QString::fromStdString(defaults_.string(gatewayKey).value_or("")), gateway);
    gateway_->setObjectName(QStringLiteral("gatewayID"));
    gateway_->setAccessibleName(QStringLiteral("Gateway ID"));
    gatewayForm->addRow(QStringLiteral("Gateway ID"), gateway_);
    connect(gateway_, &QLineEdit::textEdited, this,
            [this](const QString& text) { defaults_.set(gatewayKey, text.toStdString()); });
    gatewayLayout->addLayout(gatewayForm);
    gatewayLayout->addWidget(caption(QStringLiteral("Used when Settings > AI uses Cloudflare AI Gateway. The gateway's "
                                                    "stored Anthropic key (BYOK) is used; no Anthropic key is needed here."),
                                     gateway));
    outer->addWidget(gateway);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("cloudflareStatus"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont small = status_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    status_->setFont(small);
    outer->addWidget(status_);
    outer->addStretch();
}

void CloudflareSettingsView::refresh() {
    const bool busy = controller_.busy();
    const bool connected = controller_.cloudflareConnected();
    connect_->setText(connected ? QStringLiteral("Reconnect Cloudflare") : QStringLiteral("Connect Cloudflare"));
    connect_->setEnabled(!busy);
    disconnect_->setVisible(connected);
    refresh_->setVisible(connected);
    disconnect_->setEnabled(!busy);
    refresh_->setEnabled(!busy);
    cancel_->setEnabled(busy);
    accountSection_->setEnabled(!busy && connected);
    destinationSection_->setEnabled(!busy && connected);

    const S3Settings& r2 = controller_.r2Settings();
    std::vector<std::pair<QString, QString>> accounts, buckets, domains;
    for (const CloudflareAccount& a : controller_.accounts())
        accounts.emplace_back(QString::fromStdString(a.name), QString::fromStdString(a.id));
    for (const CloudflareBucket& b : controller_.buckets())
        buckets.emplace_back(QString::fromStdString(b.name), QString::fromStdString(b.name));
    for (const std::string& d : controller_.publicDomains())
        domains.emplace_back(QString::fromStdString(d), QString::fromStdString(d));
    fill(account_, QStringLiteral("Select an account"), accounts, r2.cloudflareAccountID.value_or(""));
    fill(bucket_, QStringLiteral("Select a bucket"), buckets, r2.bucket);
    fill(domain_, QStringLiteral("Select an enabled domain"), domains, r2.publicBaseURL);
    if (prefix_->text().toStdString() != r2.prefix) prefix_->setText(QString::fromStdString(r2.prefix));

    const std::optional<S3Settings> saved = controller_.savedR2Settings();
    saved_->setVisible(saved && !saved->bucket.empty());
    if (saved)
        saved_->setText(QStringLiteral("Saved destination: %1\n%2")
                            .arg(QString::fromStdString(saved->bucket), QString::fromStdString(saved->publicBaseURL)));
    save_->setEnabled(controller_.useCloudflare());
    test_->setEnabled(controller_.useCloudflare());
    status_->setText(controller_.status());
}

void CloudflareSettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    if (controller_.cloudflareConnected() && controller_.accounts().empty()) controller_.refreshDestinations();
}

}  // namespace brevalto
