#include "mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::readSerialPort() { }

void MainWindow::readData() { }

void MainWindow::sendSerialPort() { }

void MainWindow::clearSerialPort() { }

void MainWindow::setSerialAsciiHexMode(int id)
{
    serialHexMode = id != 0;
}

void MainWindow::serialTimerStartClicked(bool b)
{
    Q_UNUSED(b)
}
