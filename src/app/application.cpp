#include "application.h"

#include <QApplication>
#include <QIcon>

void setUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("ORTAVE"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("ortave.example.org"));
    QCoreApplication::setApplicationName(QStringLiteral("Test Application"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Velmarin.ico")));
}
