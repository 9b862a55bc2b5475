#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QMessageBox>

void MainWindow::initSettings() { }

void MainWindow::loadSettings() { }

void MainWindow::saveSettings() { }

void MainWindow::closeEvent(QCloseEvent *event)
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, QStringLiteral("TeskManager"),
        QStringLiteral("Do you want to save log file into your Documents directory?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    for (QFile *file : { serialLogFile, network1LogFile, network2LogFile, network3LogFile }) {
        if (answer == QMessageBox::Yes)
            file->close();
        else if (file->isOpen()) // never delete a file that this run did not create
            file->remove();
    }
    saveSettings();
    event->accept();
}
