// A Qt text view showing a text file in the fixed font, the way any Qt application shows a long
// read-only text:
//   ScrollTextView FILE
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    QPlainTextEdit view;
    view.setWindowTitle(QStringLiteral("Qt text"));
    view.setReadOnly(true);
    view.setLineWrapMode(QPlainTextEdit::NoWrap);
    view.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view.setPlainText(QString::fromUtf8(file.readAll()));
    view.resize(640, 560);
    view.show();
    return app.exec();
}
