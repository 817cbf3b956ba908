#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevalto"));
    QApplication::setOrganizationDomain(QStringLiteral("brevalto.app"));
    QApplication::setQuitOnLastWindowClosed(false);
    return QApplication::exec();
}
