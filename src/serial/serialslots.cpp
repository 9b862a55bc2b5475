#include "mainwindow.h"
#include "serialchannel.h"
#include "serialpanel.h"
#include "session.h"

// The main window's serial slots: each hands its work to the serial panel or channel.

void MainWindow::serialOpenCloseButtonClicked(bool b)
{
    serialPanel->openOrClose(b);
}
void MainWindow::openSerialPort()
{
    serialPanel->openFromForm();
}
void MainWindow::closeSerialPort()
{
    m_session->serial().close();
}
void MainWindow::readData()
{
    m_session->serial().readNow();
}
void MainWindow::readSerialPort()
{
    serialPanel->showArrivals();
}
void MainWindow::writeData(QByteArray data)
{
    m_session->serial().writeKeys(data);
}
void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    serialPanel->reportError(error);
}
void MainWindow::setSerialAsciiHexMode(int id)
{
    serialPanel->setMode(id);
}
void MainWindow::clearSerialPort()
{
    serialPanel->clearFromForm();
}
void MainWindow::sendSerialPort()
{
    serialPanel->sendFromForm();
}
void MainWindow::serialTimerStartClicked(bool b)
{
    serialPanel->setPeriodicSend(b);
}
