#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace brevalto {

class S3UploadController;

// The Upload page of the settings window: the provider, the S3 destination and its keys, the
// saved R2 destination, the test, save, remove-keys and cancel actions, auto-delete, and the
// objects uploaded from this computer with their actions. Every action is the controller's;
// the page keeps only the typed keys (emptied after a successful save) and the form error.
class S3SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit S3SettingsView(S3UploadController& controller, QWidget* parent = nullptr);

    // "Never", "1 day", "7 days", "30 days".
    static QString daysTitle(int days);

private:
    void build();
    void refreshSettings();
    void refreshState();
    void refreshHistory();
    void save();

    S3UploadController& controller_;
    QComboBox* provider_ = nullptr;
    QWidget* s3Fields_ = nullptr;
    QLineEdit* endpoint_ = nullptr;
    QLineEdit* bucket_ = nullptr;
    QLineEdit* region_ = nullptr;
    QLineEdit* prefix_ = nullptr;
    QComboBox* addressing_ = nullptr;
    QLineEdit* accessKey_ = nullptr;
    QLineEdit* secretKey_ = nullptr;
    QComboBox* linkMode_ = nullptr;
    QLineEdit* publicBaseURL_ = nullptr;
    QLineEdit* expiry_ = nullptr;
    QLabel* r2Destination_ = nullptr;
    QPushButton* test_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* removeKeys_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* formError_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QComboBox* autoDelete_ = nullptr;
    QWidget* rows_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QPushButton* forget_ = nullptr;
};

}  // namespace brevalto
