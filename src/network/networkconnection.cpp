#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QTcpSocket>

quint16 networkPortFromText(const QString &text)
{
    return static_cast<quint16>(text.toInt(nullptr, 10));
}

NetworkChannel MainWindow::networkChannel(int number)
{
    switch (number) {
    case 2:
        return { 2,
                 tcpSocket2,
                 ui->TE_Network2,
                 &network2HexMode,
                 &network2SentCount,
                 &network2RecvCount,
                 network2SendTimer,
                 ui->LE_Network2Cmd,
                 ui->LE_Network2SentCount,
                 ui->LE_Network2RecvCount,
                 ui->PB_ConnectNetwork2,
                 ui->PB_Network2TimerStart,
                 ui->SB_Network2TimerSecond };
    case 3:
        return { 3,
                 tcpSocket3,
                 ui->TE_Network3,
                 &network3HexMode,
                 &network3SentCount,
                 &network3RecvCount,
                 network3SendTimer,
                 ui->LE_Network3Cmd,
                 ui->LE_Network3SentCount,
                 ui->LE_Network3RecvCount,
                 ui->PB_ConnectNetwork3,
                 ui->PB_Network3TimerStart,
                 ui->SB_Network3TimerSecond };
    default:
        return { 1,
                 tcpSocket1,
                 ui->TE_Network1,
                 &network1HexMode,
                 &network1SentCount,
                 &network1RecvCount,
                 network1SendTimer,
                 ui->LE_Network1Cmd,
                 ui->LE_Network1SentCount,
                 ui->LE_Network1RecvCount,
                 ui->PB_ConnectNetwork1,
                 ui->PB_Network1TimerStart,
                 ui->SB_Network1TimerSecond };
    }
}

void MainWindow::connectNetwork1(bool b)
{
    connectNetwork(networkChannel(1), b);
}
void MainWindow::connectNetwork2(bool b)
{
    connectNetwork(networkChannel(2), b);
}
void MainWindow::connectNetwork3(bool b)
{
    connectNetwork(networkChannel(3), b);
}

void MainWindow::connectNetwork(const NetworkChannel &channel, bool b)
{
    Q_UNUSED(channel)
    Q_UNUSED(b)
}

void MainWindow::displayError(QAbstractSocket::SocketError socketError)
{
    Q_UNUSED(socketError)
}

void MainWindow::stopNetworkSendOnLinkLoss(const NetworkChannel &channel)
{
    Q_UNUSED(channel)
}
