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

    showSerialBlock();
    if (serialPort->isOpen())
        serialPort->flush();
}

void MainWindow::showSerialBlock()
{
    const QByteArray block = serialRecvBuffer;
    serialRecvBuffer.clear();
    appendSerialTraffic(serialHexMode ? hexRendering(block) : serialReceivedText.render(block),
                        serialInputColor, false);
    serialCounters->countArrival();
}

void MainWindow::showIncompleteSerialText()
{
    const QString rest = serialReceivedText.takeIncomplete();
    if (!rest.isEmpty())
        appendSerialTraffic(rest, serialInputColor, false);
}

void MainWindow::readData()
{
    const QByteArray data = serialPort->readAll();
    appendSerialTraffic(serialHexMode ? hexRendering(data) : serialReceivedText.render(data),
                        serialInputColor, false);
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
    QString problem;
    const QByteArray bytes = encodeCommand(text, serialHexMode, &problem);
    if (problem.isEmpty() && serialPort->write(bytes) < 0)
        problem = serialPort->errorString();
    if (!problem.isEmpty()) {
        // Neither counted nor shown: it never left. The same command would fail again at
        // every tick.
        serialSendTimer->stop();
        ui->PB_SerialTimerStart->setChecked(false);
        ui->PB_SerialTimerStart->setText(QStringLiteral("Start"));
        ui->statusBar->showMessage(tr("Send failed on Serial: ") + problem);
        return;
    }
    serialCounters->countSend();
    appendSerialTraffic(text, serialOutputColor, true);
}

void MainWindow::clearSerialPort()
{
    showIncompleteSerialText();
    serialCounters->reset();
    serialTraffic->clear();
}

void MainWindow::setSerialAsciiHexMode(int id)
{
    showIncompleteSerialText();
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
