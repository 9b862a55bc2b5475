#include "mainwindow.h"
#include "rendering.h"
#include "sendstatus.h"

#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTimer>

#include <utility>

namespace {

// A device that streams without ever pausing for a poll period is still shown, in blocks of
// about this size, instead of filling memory with a block that never ends.
constexpr int maxSerialBlock = 4096;
constexpr qint64 maxSerialReadPerTick = 256 * 1024;

void refuseClosedSerialPort(QWidget *parent, QAbstractButton *timerButton)
{
    timerButton->setChecked(false);
    QMessageBox::critical(parent, MainWindow::tr("Error"),
                          QStringLiteral("Please, First Open the Serial Port!"), QMessageBox::Ok);
}

} // namespace

void MainWindow::readSerialPort()
{
    // The poll never waits for the line: a tick that finds nothing new since the previous one
    // ends the block. A bounded read per tick keeps a flood in many blocks and the window
    // turning, while still taking far more than any serial line delivers in 10 ms.
    bool fresh = false;
    if (serialPort->isOpen() && serialPort->bytesAvailable() > 0) {
        serialRecvBuffer.append(serialPort->read(maxSerialReadPerTick));
        fresh = true;
    }
    const int whole = serialRecvBuffer.size() / maxSerialBlock * maxSerialBlock;
    if (fresh && whole > 0) {
        const QByteArray rest = serialRecvBuffer.mid(whole);
        serialRecvBuffer.truncate(whole);
        showSerialBlock();
        serialRecvBuffer = rest;
    }
    if (fresh || serialRecvBuffer.isEmpty())
        return;

    showSerialBlock();
    if (serialPort->isOpen())
        serialPort->flush();
}

void MainWindow::showSerialBlock()
{
    const QByteArray received = std::exchange(serialRecvBuffer, QByteArray());
    for (int at = 0; at < received.size(); at += maxSerialBlock) {
        const QByteArray block = received.mid(at, maxSerialBlock);
        appendSerialTraffic(serialHexMode ? serialHexRendering(block)
                                          : serialReceivedText.render(block),
                            serialInputColor, false);
        serialCounters->countArrival();
    }
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
    appendSerialTraffic(serialHexMode ? serialHexRendering(data) : serialReceivedText.render(data),
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
        showSendFailure(ui->statusBar, QStringLiteral("Serial"), problem);
        return;
    }
    clearSendFailure(ui->statusBar, QStringLiteral("Serial"));
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
    // The log is the record of the line: it gets every byte as rendered, and only the view is
    // tidied.
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    serialTraffic->append(serialCleanup(text, false), colour, text);
}
