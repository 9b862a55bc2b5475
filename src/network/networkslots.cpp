#include "mainwindow.h"

#include "networkchannel.h"

#include <QTcpSocket>

// The main window's per-channel network slots: each hands its work to its channel.

void MainWindow::connectNetwork1(bool b)
{
    networkChannels[0]->connectLink(b);
}
void MainWindow::connectNetwork2(bool b)
{
    networkChannels[1]->connectLink(b);
}
void MainWindow::connectNetwork3(bool b)
{
    networkChannels[2]->connectLink(b);
}

void MainWindow::displayError(QAbstractSocket::SocketError socketError)
{
    // One slot serves the three sockets; the one that reports decides the channel.
    for (NetworkChannel *channel : networkChannels) {
        if (channel->socket() == sender()) {
            channel->reportError(socketError);
            return;
        }
    }
}

void MainWindow::sendNetwork1()
{
    networkChannels[0]->sendFromForm();
}
void MainWindow::sendNetwork2()
{
    networkChannels[1]->sendFromForm();
}
void MainWindow::sendNetwork3()
{
    networkChannels[2]->sendFromForm();
}
void MainWindow::readNetwork1()
{
    networkChannels[0]->read();
}
void MainWindow::readNetwork2()
{
    networkChannels[1]->read();
}
void MainWindow::readNetwork3()
{
    networkChannels[2]->read();
}
void MainWindow::clearNetwork1()
{
    networkChannels[0]->clear();
}
void MainWindow::clearNetwork2()
{
    networkChannels[1]->clear();
}
void MainWindow::clearNetwork3()
{
    networkChannels[2]->clear();
}
void MainWindow::setNetwork1AsciiHexMode(int id)
{
    networkChannels[0]->setMode(id);
}
void MainWindow::setNetwork2AsciiHexMode(int id)
{
    networkChannels[1]->setMode(id);
}
void MainWindow::setNetwork3AsciiHexMode(int id)
{
    networkChannels[2]->setMode(id);
}
void MainWindow::network1TimerStartClicked(bool b)
{
    networkChannels[0]->setPeriodicSend(b);
}
void MainWindow::network2TimerStartClicked(bool b)
{
    networkChannels[1]->setPeriodicSend(b);
}
void MainWindow::network3TimerStartClicked(bool b)
{
    networkChannels[2]->setPeriodicSend(b);
}
