#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace brevalto {

// Keeps one running Brevalto per user. The first process listens on a local socket in the
// per-user temporary folder; a later `brevalto URL …` hands its URL list to it and exits.
//
// One message: a 4-byte big-endian length, then that many bytes of UTF-8 text holding the URLs
// separated by "\n". The listener checks the list and answers one byte "1" when the app takes
// it, or "0" followed by the UTF-8 sentence of its refusal, and closes the connection. A peer
// that sends more than kMaxMessageBytes, less than it announced, or nothing within kReadTimeoutMs
// is dropped without effect.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxMessageBytes = 64 * 1024;
    static constexpr int kReadTimeoutMs = 2000;
    static constexpr int kMaxReplyBytes = 4096;

    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket of this user's instance.
    static QString defaultSocketPath();

    enum class Role { primary, secondary, failed };
    // Becomes the listening instance, or finds that another one answers. A socket file left by
    // a crashed instance (nobody answers) is removed and taken over. Starts at the same moment
    // take turns on "<socket>.lock", so exactly one of them listens.
    Role start();
    const QString& errorString() const { return error_; }

    // The running app's check of a received list: the sentence of its refusal, or an empty
    // string when it takes the list. It runs before the answer goes back; every list is then
    // reported by urlsReceived. Without a check every list is taken.
    using Check = std::function<QString(const QStringList& urls)>;
    void setCheck(Check check) { check_ = std::move(check); }

    enum class Handover { accepted, refused, failed };
    // Hands the URLs to the running instance and waits for its check (never for what the URLs
    // start). refused: errorString() is the running app's sentence; failed: why nobody took them.
    Handover send(const QStringList& urls, int timeoutMs = 3000);

signals:
    void urlsReceived(const QStringList& urls);

private:
    void accept();
    void readFrom(QLocalSocket* socket);

    QString path_;
    QString error_;
    QLocalServer* server_ = nullptr;
    Check check_;
};

}  // namespace brevalto
