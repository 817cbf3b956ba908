#pragma once

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brevalto {

class Defaults;
class S3UploadController;

// The Cloudflare page of the settings window: connect and disconnect the account, pick the R2
// destination (account, bucket, public domain, prefix) and keep the AI Gateway's identifier.
// Every action is the controller's and every message its status line.
class CloudflareSettingsView : public QWidget {
    Q_OBJECT
public:
    static inline const char* gatewayKey = "aiGateway";

    CloudflareSettingsView(S3UploadController& controller, Defaults& defaults, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();
    void refresh();

    S3UploadController& controller_;
    Defaults& defaults_;
    QPushButton* connect_ = nullptr;
    QPushButton* disconnect_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QGroupBox* accountSection_ = nullptr;
    QComboBox* account_ = nullptr;
    QGroupBox* destinationSection_ = nullptr;
    QComboBox* bucket_ = nullptr;
    QComboBox* domain_ = nullptr;
    QLineEdit* prefix_ = nullptr;
    QLabel* saved_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* test_ = nullptr;
    QLineEdit* gateway_ = nullptr;
    QLabel* status_ = nullptr;
    bool shownOnce_ = false;
};

}  // namespace brevalto
