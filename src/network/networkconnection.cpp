#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTcpSocket>
#include <QTimer>

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
    if (b) {
        channel.socket->abort();
        channel.socket->connectToHost(ui->LE_IPAddress1->text(),
                                      networkPortFromText(ui->LE_Port1->text()),
                                      QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        if (channel.socket->waitForConnected(1000)) {
            ui->statusBar->showMessage(tr("connected Network%1.").arg(channel.number));
            channel.connectButton->setText(QStringLiteral("Disconnect"));
        } else {
            // Whatever the cause (refused, unreachable, too slow), the user is pointed at the
            // two fields that decide where the channel connects.
            QMessageBox::information(this, tr("Client"),
                                     tr("The host was not found. Please check the host name "
                                        "and port settings."));
            channel.connectButton->setChecked(false);
        }
        return;
    }

    // Stopped while the socket is still open, so the timer slot takes its stop path and not
    // its refusal.
    networkTimerStartClicked(channel, false);
    channel.timerButton->setChecked(false);
    channel.socket->close();
    ui->statusBar->showMessage(tr("disconnected Network%1.").arg(channel.number));
    channel.connectButton->setText(QStringLiteral("Connect"));
}

void MainWindow::displayError(QAbstractSocket::SocketError socketError)
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    const NetworkChannel channel = networkChannel(socket == tcpSocket2       ? 2
                                                      : socket == tcpSocket3 ? 3
                                                                             : 1);

    // Before any box: its nested event loop would otherwise go on ticking into a dead link.
    stopNetworkSendOnLinkLoss(channel);

    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        break;
    case QAbstractSocket::HostNotFoundError:
        QMessageBox::information(this, tr("Client"),
                                 tr("The host was not found. Please check the host name and "
                                    "port settings."));
        break;
    case QAbstractSocket::ConnectionRefusedError:
        QMessageBox::information(this, tr("Client"),
                                 tr("The connection was refused by the peer. Make sure the "
                                    "server is running, and check that the host name and port "
                                    "settings are correct."));
        break;
    default:
        QMessageBox::information(
            this, tr("Client"),
            tr("The following error occurred: %1.").arg(channel.socket->errorString()));
        break;
    }
    channel.connectButton->setChecked(false);
}

void MainWindow::stopNetworkSendOnLinkLoss(const NetworkChannel &channel)
{
    channel.sendTimer->stop();
    channel.timerButton->setChecked(false);
    channel.timerButton->setText(QStringLiteral("Start"));
}
