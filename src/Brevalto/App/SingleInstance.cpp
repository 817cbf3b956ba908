#include "App/SingleInstance.h"

#include "Platform/AppPaths.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace brevalto {

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), path_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

QString SingleInstance::defaultSocketPath() {
    return QString::fromStdString((AppPaths::temporaryRoot() / "brevalto.socket").string());
}

SingleInstance::Role SingleInstance::start() {
    // Starters take turns on a lock beside the socket, so that asking for a running instance,
    // taking over a left-over socket file and listening are one step: two starts at the same
    // moment would otherwise each remove the other's socket and both listen.
    const QByteArray lockPath = QFile::encodeName(path_ + QStringLiteral(".lock"));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) {
        error_ = QStringLiteral("Could not open %1: %2")
                     .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno)));
        return Role::failed;
    }
    const std::unique_ptr<int, void (*)(int*)> unlock(new int(lock), [](int* fd) {
        ::close(*fd);  // releases the lock
        delete fd;
    });
    while (::flock(lock, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        error_ = QStringLiteral("Could not lock %1: %2")
                     .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno)));
        return Role::failed;
    }
    {
        QLocalSocket probe;
        probe.connectToServer(path_);
        if (probe.waitForConnected(1000)) {
            probe.disconnectFromServer();
            return Role::secondary;
        }
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        // Nobody answered, so the socket file is left over from an instance that ended.
        QLocalServer::removeServer(path_);
        if (!server_->listen(path_)) {
            error_ = QStringLiteral("Could not listen on %1: %2").arg(path_, server_->errorString());
            delete server_;
            server_ = nullptr;
            return Role::failed;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return Role::primary;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        socket->setReadBufferSize(kMaxMessageBytes + 4);
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        timer->start(kReadTimeoutMs);
        if (socket->bytesAvailable() > 0) readFrom(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket* socket) {
    if (socket->property("done").toBool()) return;
    if (socket->bytesAvailable() < 4) return;
    uchar header[4];
    socket->peek(reinterpret_cast<char*>(header), 4);
    const quint32 length = qFromBigEndian<quint32>(header);
    if (length > static_cast<quint32>(kMaxMessageBytes)) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < static_cast<qint64>(length) + 4) return;
    socket->read(4);
    const QByteArray body = socket->read(length);
    socket->setProperty("done", true);
    const QString text = QString::fromUtf8(body);
    if (text.toUtf8() != body) {  // not UTF-8
        socket->abort();
        return;
    }
    const QStringList urls = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    const QString refusal = check_ ? check_(urls) : QString();
    socket->write(refusal.isEmpty() ? QByteArray("1") : "0" + refusal.toUtf8());
    socket->flush();
    socket->disconnectFromServer();
    emit urlsReceived(urls);
}

SingleInstance::Handover SingleInstance::send(const QStringList& urls, int timeoutMs) {
    const QByteArray body = urls.join(QLatin1Char('\n')).toUtf8();
    if (body.size() > kMaxMessageBytes) {
        error_ = QStringLiteral("The URL list is too long.");
        return Handover::failed;
    }
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(timeoutMs)) {
        error_ = QStringLiteral("No running Brevalto answered: %1").arg(socket.errorString());
        return Handover::failed;
    }
    uchar header[4];
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), header);
    socket.write(reinterpret_cast<const char*>(header), 4);
    socket.write(body);
    socket.flush();
    error_ = QStringLiteral("The running Brevalto did not take the URL.");
    if (!socket.waitForReadyRead(timeoutMs)) return Handover::failed;
    const QByteArray verdict = socket.read(1);
    if (verdict == "1") return Handover::accepted;
    if (verdict != "0") return Handover::failed;
    // The sentence runs to the end of the connection.
    QByteArray sentence = socket.readAll();
    while (sentence.size() <= kMaxReplyBytes && socket.waitForReadyRead(timeoutMs)) sentence += socket.readAll();
    sentence += socket.readAll();
    const QString text = QString::fromUtf8(sentence);
    if (sentence.isEmpty() || sentence.size() > kMaxReplyBytes || text.toUtf8() != sentence) return Handover::failed;
    error_ = text;
    return Handover::refused;
}

}  // namespace brevalto
