#include "mainwindow.h"

#include <QTcpSocket>

// The main window's per-channel network slots: each hands its work to its channel.

void MainWindow::connectNetwork1(bool b)
{
    networkChannel(1).connectLink(b);
}
void MainWindow::connectNetwork2(bool b)
{
    networkChannel(2).connectLink(b);
}
void MainWindow::connectNetwork3(bool b)
{
    networkChannel(3).connectLink(b);
}

void MainWindow::displayError(QAbstractSocket::SocketError socketError)
{
    // One slot serves the three sockets; the one that reports decides the channel.
    for (const auto &channel : networkChannels) {
        if (channel->socket() == sender()) {
            channel->reportError(socketError);
            return;
        }
    }
}

void MainWindow::sendNetwork1()
{
    networkChannel(1).send();
}
void MainWindow::sendNetwork2()
{
    networkChannel(2).send();
}
void MainWindow::sendNetwork3()
{
    networkChannel(3).send();
}
void MainWindow::readNetwork1()
{
    networkChannel(1).read();
}
void MainWindow::readNetwork2()
{
    networkChannel(2).read();
}
void MainWindow::readNetwork3()
{
    networkChannel(3).read();
}
void MainWindow::clearNetwork1()
{
    networkChannel(1).clear();
}
void MainWindow::clearNetwork2()
{
    networkChannel(2).clear();
}
void MainWindow::clearNetwork3()
{
    networkChannel(3).clear();
}
void MainWindow::setNetwork1AsciiHexMode(int id)
{
    networkChannel(1).setMode(id);
}
void MainWindow::setNetwork2AsciiHexMode(int id)
{
    networkChannel(2).setMode(id);
}
void MainWindow::setNetwork3AsciiHexMode(int id)
{
    networkChannel(3).setMode(id);
}
void MainWindow::network1TimerStartClicked(bool b)
{
    networkChannel(1).setPeriodicSend(b);
}
void MainWindow::network2TimerStartClicked(bool b)
{
    networkChannel(2).setPeriodicSend(b);
}
void MainWindow::network3TimerStartClicked(bool b)
{
    networkChannel(3).setPeriodicSend(b);
}
