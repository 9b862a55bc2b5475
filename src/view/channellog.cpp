#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QFile>

void MainWindow::createChannelLogs() { }

void MainWindow::writeChannelLog(QFile *file, const QString &text)
{
    Q_UNUSED(file)
    Q_UNUSED(text)
}

void MainWindow::reportLogError(QFile *file)
{
    Q_UNUSED(file)
}
