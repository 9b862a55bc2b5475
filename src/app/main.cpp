#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ORTAVE"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("ortave.example.org"));
    QCoreApplication::setApplicationName(QStringLiteral("Test Application"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Velmarin.ico")));

    MainWindow window;
    window.showMaximized();
    return app.exec();
}
