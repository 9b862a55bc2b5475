#include "mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::updateSerialSettings() { }

void MainWindow::serialOpenCloseButtonClicked(bool b)
{
    if (b)
        openSerialPort();
    else
        closeSerialPort();
}

void MainWindow::openSerialPort() { }

void MainWindow::closeSerialPort() { }

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    Q_UNUSED(error)
}

void MainWindow::handleSerialLoss() { }

void MainWindow::writeData(QByteArray data)
{
    Q_UNUSED(data)
}
