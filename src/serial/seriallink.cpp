#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTimer>

void MainWindow::updateSerialSettings()
{
    auto datum = [](const QComboBox *box) {
        return box->itemData(box->currentIndex(), Qt::UserRole).toInt();
    };
    SerialSettings &s = serialSettings;
    s.portName = ui->CB_SerialPort->currentText();
    s.baudRate = datum(ui->CB_BandRate);
    s.baudRateText = QString::number(s.baudRate);
    s.dataBits = static_cast<QSerialPort::DataBits>(datum(ui->CB_DataBit));
    s.dataBitsText = ui->CB_DataBit->currentText();
    s.parity = static_cast<QSerialPort::Parity>(datum(ui->CB_Parity));
    s.parityText = ui->CB_Parity->currentText();
    s.stopBits = static_cast<QSerialPort::StopBits>(datum(ui->CB_StopBit));
    s.stopBitsText = ui->CB_StopBit->currentText();
    s.flowControl = static_cast<QSerialPort::FlowControl>(datum(ui->CB_FlowControl));
    s.flowControlText = ui->CB_FlowControl->currentText();
    s.localEcho = false;
}

void MainWindow::serialOpenCloseButtonClicked(bool b)
{
    if (b)
        openSerialPort();
    else
        closeSerialPort();
}

void MainWindow::openSerialPort()
{
    updateSerialSettings();
    const SerialSettings p = serialSettings;
    serialPort->setPortName(p.portName);
    // A failed open leaves the button released, so that one click tries again.
    if (!serialPort->open(QIODevice::ReadWrite)) {
        QMessageBox::critical(this, tr("Error"), serialPort->errorString(), QMessageBox::Ok);
        ui->statusBar->showMessage(tr("Open serial error"));
        ui->PB_OpenSerialPort->setChecked(false);
        return;
    }
    const bool configured = serialPort->setBaudRate(p.baudRate, QSerialPort::AllDirections)
        && serialPort->setDataBits(p.dataBits) && serialPort->setParity(p.parity)
        && serialPort->setStopBits(p.stopBits) && serialPort->setFlowControl(p.flowControl);
    if (!configured) {
        serialPort->close();
        QMessageBox::critical(this, tr("Error"), serialPort->errorString(), QMessageBox::Ok);
        ui->statusBar->showMessage(tr("Configure error"));
        ui->PB_OpenSerialPort->setChecked(false);
        return;
    }
    // The line runs with what the boxes show: they are not changed while it does.
    enableSerialSettings(false);
    ui->PB_OpenSerialPort->setText(QStringLiteral("Close"));
    ui->TE_SerialPort->setEnabled(true);
    ui->statusBar->showMessage(tr("Connected to %1 : %2, %3, %4, %5, %6")
                                   .arg(p.portName)
                                   .arg(p.baudRateText)
                                   .arg(p.dataBitsText)
                                   .arg(p.parityText)
                                   .arg(p.stopBitsText)
                                   .arg(p.flowControlText));
    // Room for a fast device's bytes between two polls, even when the window is busy for a
    // moment; the pty or UART driver holds only a few kilobytes.
    serialPort->setReadBufferSize(1024 * 1024);
}

void MainWindow::closeSerialPort()
{
    if (serialLossHandled) {
        // The lost port was closed, and its periodic send stopped, before the user was told;
        // the timer slot would only refuse because the port is closed.
        ui->PB_SerialTimerStart->setText(QStringLiteral("Start"));
    } else {
        serialTimerStartClicked(false);
    }
    ui->PB_SerialTimerStart->setChecked(false);
    serialPort->close();
    // What came in before the close is shown now, and a character it left unfinished will
    // not be finished.
    if (!serialRecvBuffer.isEmpty())
        showSerialBlock();
    showIncompleteSerialText();
    ui->TE_SerialPort->setEnabled(false);
    ui->PB_OpenSerialPort->setChecked(false);
    ui->PB_OpenSerialPort->setText(QStringLiteral("Open"));
    enableSerialSettings(true);
    ui->statusBar->showMessage(tr("Disconnected"));
}

void MainWindow::enableSerialSettings(bool enable)
{
    for (QWidget *box :
         std::initializer_list<QWidget *> { ui->CB_SerialPort, ui->CB_BandRate, ui->CB_DataBit,
                                            ui->CB_Parity, ui->CB_StopBit, ui->CB_FlowControl })
        box->setEnabled(enable);
}

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    // A device that goes away (a USB adapter pulled, a pty whose other end closed) is reported
    // as a ResourceError by some drivers and as an endless run of ReadErrors by others.
    if (error == QSerialPort::ResourceError
        || (error == QSerialPort::ReadError && serialPort->isOpen()))
        handleSerialLoss();
}

void MainWindow::handleSerialLoss()
{
    // The port keeps reporting the loss on every turn of the event loop, and closing it from
    // inside its own report would delete the notifier that is delivering it. So the first
    // report is taken and the rest are ignored until the port has been closed on a clean stack.
    if (serialLossHandled)
        return;
    serialLossHandled = true;
    // Qt's own text adds nothing when it is only "Unknown error".
    QString text = tr("The device on %1 was disconnected or stopped responding.")
                       .arg(serialSettings.portName);
    const QString reason = serialPort->errorString();
    if (!reason.isEmpty() && reason != QLatin1String("Unknown error"))
        text += QLatin1Char(' ') + tr("The system reported: %1.").arg(reason);
    QTimer::singleShot(0, this, [this, text] {
        // Close before the box: its event loop would otherwise spin on the reports, and the
        // periodic send would be refused with a box of its own at every tick. What the port
        // had received is kept for the next poll.
        serialSendTimer->stop();
        if (serialPort->isOpen()) {
            serialRecvBuffer.append(serialPort->readAll());
            serialPort->close();
        }
        // The user reads the box beside everything that had arrived by then.
        serialTraffic->flush();
        QMessageBox::critical(this, tr("Critical Error"), text, QMessageBox::Ok);
        closeSerialPort();
        serialLossHandled = false;
    });
}

void MainWindow::writeData(QByteArray data)
{
    // The console is enabled at start-up, before any port is open; its keys go nowhere then.
    if (serialPort->isOpen())
        serialPort->write(data);
}
