#include "mainwindow.h"
#include "rendering.h"

#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTcpSocket>
#include <QTimer>

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
    const bool tick = sender() == channel.sendTimer;
    if (!channel.socket->isOpen()) {
        // A tick must never open a box: the box's event loop would let the next tick open
        // another one. A link that is gone ends the periodic send instead.
        if (tick)
            stopNetworkSendOnLinkLoss(channel);
        else
            QMessageBox::critical(
                this, tr("Error"),
                QStringLiteral("Please, First Connect Network%1!").arg(channel.number));
        return;
    }

    const QString text = channel.commandLine->text();
    if (text.isEmpty())
        return;

    // A socket whose peer has gone stays open but refuses the write; such a send never left,
    // so it is neither counted nor shown.
    if (channel.socket->write(encodeCommand(text, *channel.hexMode)) < 0) {
        if (tick)
            stopNetworkSendOnLinkLoss(channel);
        ui->statusBar->showMessage(
            tr("Send failed on %1: %2").arg(channel.name(), channel.socket->errorString()));
        return;
    }
    channel.socket->flush();

    channel.sentCountDisplay->setText(QString::number(++*channel.sentCount));
    appendNetworkTraffic(channel.view, text, networkOutputColor, true);
}

void MainWindow::readNetwork(const NetworkChannel &channel)
{
    const QByteArray bytes = channel.socket->readAll();
    const bool hex = *channel.hexMode;
    appendNetworkTraffic(channel.view, hex ? hexRendering(bytes) : textRendering(bytes),
                         networkInputColor, hex);
    channel.recvCountDisplay->setText(QString::number(++*channel.recvCount));
}

void MainWindow::clearNetwork(const NetworkChannel &channel)
{
    *channel.sentCount = 0;
    channel.sentCountDisplay->setText(QStringLiteral("0"));
    *channel.recvCount = 0;
    channel.recvCountDisplay->setText(QStringLiteral("0"));
    channel.view->clear();
}

void MainWindow::setNetworkAsciiHexMode(const NetworkChannel &channel, int id)
{
    *channel.hexMode = id != 0;
    channel.socket->setReadBufferSize(*channel.hexMode ? hexReadChunk : asciiReadChunk);
}

void MainWindow::networkTimerStartClicked(const NetworkChannel &channel, bool b)
{
    if (!channel.socket->isOpen()) {
        channel.timerButton->setChecked(false);
        QMessageBox::critical(
            this, tr("Error"),
            QStringLiteral("Please, First Connect network%1.").arg(channel.number));
        return;
    }
    if (b) {
        channel.sendTimer->start(channel.periodBox->value());
        channel.timerButton->setText(QStringLiteral("Stop"));
    } else {
        channel.sendTimer->stop();
        channel.timerButton->setText(QStringLiteral("Start"));
    }
}
