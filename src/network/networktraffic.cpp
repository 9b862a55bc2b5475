#include "mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::sendNetwork1()
{
    sendNetwork(networkChannel(1));
}
void MainWindow::sendNetwork2()
{
    sendNetwork(networkChannel(2));
}
void MainWindow::sendNetwork3()
{
    sendNetwork(networkChannel(3));
}
void MainWindow::readNetwork1()
{
    readNetwork(networkChannel(1));
}
void MainWindow::readNetwork2()
{
    readNetwork(networkChannel(2));
}
void MainWindow::readNetwork3()
{
    readNetwork(networkChannel(3));
}
void MainWindow::clearNetwork1()
{
    clearNetwork(networkChannel(1));
}
void MainWindow::clearNetwork2()
{
    clearNetwork(networkChannel(2));
}
void MainWindow::clearNetwork3()
{
    clearNetwork(networkChannel(3));
}
void MainWindow::setNetwork1AsciiHexMode(int id)
{
    setNetworkAsciiHexMode(networkChannel(1), id);
}
void MainWindow::setNetwork2AsciiHexMode(int id)
{
    setNetworkAsciiHexMode(networkChannel(2), id);
}
void MainWindow::setNetwork3AsciiHexMode(int id)
{
    setNetworkAsciiHexMode(networkChannel(3), id);
}
void MainWindow::network1TimerStartClicked(bool b)
{
    networkTimerStartClicked(networkChannel(1), b);
}
void MainWindow::network2TimerStartClicked(bool b)
{
    networkTimerStartClicked(networkChannel(2), b);
}
void MainWindow::network3TimerStartClicked(bool b)
{
    networkTimerStartClicked(networkChannel(3), b);
}

void MainWindow::sendNetwork(const NetworkChannel &channel)
{
    Q_UNUSED(channel)
}

void MainWindow::readNetwork(const NetworkChannel &channel)
{
    Q_UNUSED(channel)
}

void MainWindow::clearNetwork(const NetworkChannel &channel)
{
    Q_UNUSED(channel)
}

void MainWindow::setNetworkAsciiHexMode(const NetworkChannel &channel, int id)
{
    *channel.hexMode = id != 0;
}

void MainWindow::networkTimerStartClicked(const NetworkChannel &channel, bool b)
{
    Q_UNUSED(channel)
    Q_UNUSED(b)
}
