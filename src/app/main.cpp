#include "app/signal_quit.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillvex"));
    QApplication::setOrganizationDomain(QStringLiteral("varnock.com"));
    QApplication::setQuitOnLastWindowClosed(false);
    SignalQuit signalQuit;
    return QApplication::exec();
}
