// A small Qt program that copies what it is told to, the way any Qt application copies: through
// QClipboard. It reads one command a line from its standard input and answers "ok" once it owns
// the clipboard (or "error" when it could not):
//   text FILE     the file's UTF-8 text
//   secret FILE   the same, marked as a password manager marks its copies
//   image FILE    the image the file holds
//   quit
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void answer(const char* word) {
    std::printf("%s\n", word);
    std::fflush(stdout);
}

bool copy(const QString& command, const QString& path) {
    auto* mime = new QMimeData;
    const QByteArray bytes = readFile(path);
    if (command == QLatin1String("text") || command == QLatin1String("secret")) {
        mime->setText(QString::fromUtf8(bytes));
        if (command == QLatin1String("secret"))
            mime->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    } else if (command == QLatin1String("image")) {
        const QImage image = QImage::fromData(bytes);
        if (image.isNull()) {
            delete mime;
            return false;
        }
        mime->setImageData(image);
    } else {
        delete mime;
        return false;
    }
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    return QGuiApplication::clipboard()->ownsClipboard();
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QGuiApplication::quit();
            return;
        }
        pending.append(buffer, got);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            const QString command = line.section(QLatin1Char(' '), 0, 0);
            if (command == QLatin1String("quit")) {
                QGuiApplication::quit();
                return;
            }
            answer(copy(command, line.section(QLatin1Char(' '), 1)) ? "ok" : "error");
        }
    });
    return QGuiApplication::exec();
}
