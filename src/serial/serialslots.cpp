#include "mainwindow.h"
#include "serialchannel.h"

// The main window's serial slots: each hands its work to the serial channel.

void MainWindow::serialOpenCloseButtonClicked(bool b)
{
    serialChannel->openOrClose(b);
}
void MainWindow::openSerialPort()
{
    serialChannel->openFromForm();
}
void MainWindow::closeSerialPort()
{
    serialChannel->close();
}
void MainWindow::readData()
{
    serialChannel->readNow();
}
void MainWindow::readSerialPort()
{
    serialChannel->endBlock();
}
void MainWindow::writeData(QByteArray data)
{
    serialChannel->writeKeys(data);
}
void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    serialChannel->handleError(error);
}
void MainWindow::setSerialAsciiHexMode(int id)
{
    serialChannel->setMode(id);
}
void MainWindow::clearSerialPort()
{
    serialChannel->clear();
}
void MainWindow::sendSerialPort()
{
    serialChannel->sendFromForm();
}
void MainWindow::serialTimerStartClicked(bool b)
{
    serialChannel->setPeriodicSend(b);
}
