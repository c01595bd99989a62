#include "ui/MainWindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sentrel"));
    QApplication::setOrganizationName(QStringLiteral("Sentrel"));
    QApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("sentrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/sentrel.svg")));

    sentrel::MainWindow window({});
    window.startup();
    return QApplication::exec();
}
