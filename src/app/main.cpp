#include "probes/WinSock.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sentrel"));
    QApplication::setOrganizationName(QStringLiteral("Sentrel"));
    QApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("sentrel"));
    if (!sentrel::StartWinsock())
        return 1;
    // Stand-in until the main window lands.
    QLabel label(QStringLiteral("Sentrel"));
    label.setObjectName(QStringLiteral("frmmain"));
    label.setWindowTitle(QStringLiteral("Sentrel"));
    label.resize(400, 200);
    label.show();
    return QApplication::exec();
}
