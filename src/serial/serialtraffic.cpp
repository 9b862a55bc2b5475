#include "mainwindow.h"
#include "rendering.h"

#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTimer>

namespace {

// A device that streams without ever pausing for a poll period is still shown, in blocks of
// about this size, instead of filling memory with a block that never ends.
constexpr int maxSerialBlock = 4096;

void refuseClosedSerialPort(QWidget *parent, QAbstractButton *timerButton)
{
    timerButton->setChecked(false);
    QMessageBox::critical(parent, MainWindow::tr("Error"),
                          QStringLiteral("Please, First Open the Serial Port!"), QMessageBox::Ok);
}

} // namespace

void MainWindow::readSerialPort()
{
    // A closed port receives nothing, and waiting on it would stall the window for the full
    // wait; what was buffered before the close is shown right away.
    if (serialPort->isOpen()) {
        if (serialPort->bytesAvailable() > 0) {
            serialRecvBuffer.append(serialPort->readAll());
            if (serialRecvBuffer.size() < maxSerialBlock)
                return;
        } else if (serialPort->waitForReadyRead(10)) {
            return;
        }
    }
    if (serialRecvBuffer.isEmpty())
        return;

    const QByteArray block = serialRecvBuffer;
    serialRecvBuffer.clear();
    appendSerialTraffic(serialHexMode ? hexRendering(block) : textRendering(block),
                        serialInputColor, false);
    serialCounters->countArrival();
    if (serialPort->isOpen())
        serialPort->flush();
}

void MainWindow::readData()
{
    const QByteArray data = serialPort->readAll();
    appendSerialTraffic(serialHexMode ? hexRendering(data) : textRendering(data), serialInputColor,
                        false);
    if (serialPort->isOpen())
        serialPort->clear(QSerialPort::Input);
}

void MainWindow::sendSerialPort()
{
    if (!serialPort->isOpen()) {
        ui->PB_SerialTimerStart->setText(QStringLiteral("Start"));
        refuseClosedSerialPort(this, ui->PB_SerialTimerStart);
        return;
    }
    const QString text = ui->LE_SerialPortCmd->text();
    if (serialPort->write(encodeCommand(text, serialHexMode)) < 0) {
        ui->statusBar->showMessage(tr("Send failed on Serial: ") + serialPort->errorString());
        return;
    }
    serialCounters->countSend();
    appendSerialTraffic(text, serialOutputColor, true);
}

void MainWindow::clearSerialPort()
{
    serialCounters->reset();
    serialTraffic->clear();
}

void MainWindow::setSerialAsciiHexMode(int id)
{
    serialHexMode = id != 0;
}

void MainWindow::serialTimerStartClicked(bool b)
{
    if (!serialPort->isOpen()) {
        refuseClosedSerialPort(this, ui->PB_SerialTimerStart);
        return;
    }
    if (b) {
        serialSendTimer->start(ui->SB_SerialTimerSecond->value());
        ui->PB_SerialTimerStart->setText(QStringLiteral("Stop"));
    } else {
        serialSendTimer->stop();
        ui->PB_SerialTimerStart->setText(QStringLiteral("Start"));
    }
}

void MainWindow::appendSerialTraffic(QString text, const QColor &colour, bool lineBreak)
{
    serialTraffic->append(serialCleanup(std::move(text), lineBreak), colour);
}
