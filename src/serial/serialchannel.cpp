#include "serialchannel.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>

SerialChannel::SerialChannel(const QWidget *form, const Context &context, const QColor &inputColour,
                             const QColor &outputColour)
    : Channel(QStringLiteral("Serial"),
              findWidgets(form, QStringLiteral("SerialPort"), QStringLiteral("Serial")), context,
              inputColour, outputColour)
    , m_line { formChild<QComboBox>(form, QStringLiteral("CB_SerialPort")),
               formChild<QComboBox>(form, QStringLiteral("CB_BandRate")),
               formChild<QComboBox>(form, QStringLiteral("CB_DataBit")),
               formChild<QComboBox>(form, QStringLiteral("CB_Parity")),
               formChild<QComboBox>(form, QStringLiteral("CB_StopBit")),
               formChild<QComboBox>(form, QStringLiteral("CB_FlowControl")),
               formChild<QPushButton>(form, QStringLiteral("PB_OpenSerialPort")) }
    , m_port(new QSerialPort(this))
    , m_quietTimer(new QTimer(this))
    , m_reopenTimer(new QTimer(this))
{
    m_port->setObjectName(QStringLiteral("serialPort"));
    m_quietTimer->setObjectName(QStringLiteral("serialPollTimer"));
    m_quietTimer->setSingleShot(true);
    m_quietTimer->setInterval(serialQuietMs);
    connect(m_port, &QSerialPort::readyRead, this, &SerialChannel::takeArrivals);
    m_reopenTimer->setObjectName(QStringLiteral("serialReopenTimer"));
    m_reopenTimer->setInterval(1000);
    connect(m_reopenTimer, &QTimer::timeout, this, [this] {
        if (!openPort(true))
            return;
        m_reopenTimer->stop();
        noteLinkBack();
        linkIsUp();
    });
}

void SerialChannel::takeArrivals()
{
    m_block.append(m_port->readAll());
    // Whole blocks of a device that does not pause are shown as they fill; the rest waits for
    // the line to go quiet or the block to fill.
    showBlocks(m_block.size() / maxSerialBlock * maxSerialBlock);
    if (m_block.isEmpty())
        m_quietTimer->stop();
    else
        m_quietTimer->start();
}

void SerialChannel::endBlock()
{
    m_quietTimer->stop();
    // More than a block is waiting only when a close took in what the port still held.
    showBlocks(m_block.size());
}

void SerialChannel::showBlocks(int size)
{
    for (int at = 0; at < size; at += maxSerialBlock)
        appendReceived(m_block.mid(at, qMin(maxSerialBlock, size - at)));
    m_block.remove(0, size);
}

void SerialChannel::readNow()
{
    appendReceived(m_port->readAll());
    if (m_port->isOpen())
        m_port->clear(QSerialPort::Input);
}

void SerialChannel::refuseSend()
{
    widgets().timerButton->setText(QStringLiteral("Start"));
    refusePeriodicSend();
}

void SerialChannel::refusePeriodicSend()
{
    widgets().timerButton->setChecked(false);
    QMessageBox::critical(window(), tr("Error"),
                          QStringLiteral("Please, First Open the Serial Port!"), QMessageBox::Ok);
}

bool SerialChannel::writeToLink(const QByteArray &bytes, QString *problem)
{
    if (m_port->write(bytes) >= 0)
        return true;
    *problem = m_port->errorString();
    return false;
}

void SerialChannel::show(const QString &text, const QColor &colour, const QString &logged)
{
    // The log is the record of the line: it gets every byte as rendered, and only the view is
    // tidied.
    traffic().append(serialCleanup(text, false), colour, logged);
}

void SerialChannel::readSettings()
{
    auto datum = [](const QComboBox *box) {
        return box->itemData(box->currentIndex(), Qt::UserRole).toInt();
    };
    SerialSettings &s = m_settings;
    s.portName = m_line.port->currentText();
    s.baudRate = datum(m_line.baudRate);
    s.baudRateText = QString::number(s.baudRate);
    s.dataBits = static_cast<QSerialPort::DataBits>(datum(m_line.dataBits));
    s.dataBitsText = m_line.dataBits->currentText();
    s.parity = static_cast<QSerialPort::Parity>(datum(m_line.parity));
    s.parityText = m_line.parity->currentText();
    s.stopBits = static_cast<QSerialPort::StopBits>(datum(m_line.stopBits));
    s.stopBitsText = m_line.stopBits->currentText();
    s.flowControl = static_cast<QSerialPort::FlowControl>(datum(m_line.flowControl));
    s.flowControlText = m_line.flowControl->currentText();
    s.localEcho = false;
}

void SerialChannel::openOrClose(bool open)
{
    if (open)
        this->open();
    else
        close();
}

void SerialChannel::open()
{
    m_reopenTimer->stop();
    if (openPort(false))
        linkIsUp();
}

void SerialChannel::openAtStart()
{
    m_line.openButton->setChecked(true);
    if (!reconnects()) {
        open();
        return;
    }
    if (openPort(true))
        linkIsUp();
    else
        waitForPort(m_port->errorString());
}

bool SerialChannel::openPort(bool quiet)
{
    readSettings();
    const SerialSettings p = m_settings;
    m_port->setPortName(p.portName);
    // A failed open leaves the button released, so that one click tries again.
    auto fail = [this, quiet](const QString &status) {
        if (!quiet) {
            QMessageBox::critical(window(), tr("Error"), m_port->errorString(), QMessageBox::Ok);
            statusBar()->showMessage(status);
            m_line.openButton->setChecked(false);
        }
        return false;
    };
    if (!m_port->open(QIODevice::ReadWrite))
        return fail(tr("Open serial error"));
    const bool configured = m_port->setBaudRate(p.baudRate, QSerialPort::AllDirections)
        && m_port->setDataBits(p.dataBits) && m_port->setParity(p.parity)
        && m_port->setStopBits(p.stopBits) && m_port->setFlowControl(p.flowControl);
    if (!configured) {
        m_port->close();
        return fail(tr("Configure error"));
    }
    // The line runs with what the boxes show: they are not changed while it does.
    enableSettings(false);
    m_line.openButton->setText(QStringLiteral("Close"));
    widgets().view->setEnabled(true);
    statusBar()->showMessage(tr("Connected to %1 : %2, %3, %4, %5, %6")
                                 .arg(p.portName)
                                 .arg(p.baudRateText)
                                 .arg(p.dataBitsText)
                                 .arg(p.parityText)
                                 .arg(p.stopBitsText)
                                 .arg(p.flowControlText));
    // Room for a fast device's bytes while the window is busy for a moment; the pty or UART
    // driver holds only a few kilobytes.
    m_port->setReadBufferSize(1024 * 1024);
    // A line the device or its driver cannot set (a pty has none) is told beside the line's
    // settings; the port stays open.
    QStringList refused;
    if (m_dtr && !m_port->setDataTerminalReady(*m_dtr))
        refused << tr("could not set DTR: %1").arg(m_port->errorString());
    if (m_rts && !m_port->setRequestToSend(*m_rts))
        refused << tr("could not set RTS: %1").arg(m_port->errorString());
    if (!refused.isEmpty())
        statusBar()->showMessage(statusBar()->currentMessage() + QStringLiteral("; ")
                                 + refused.join(QStringLiteral("; ")));
    return true;
}

void SerialChannel::waitForPort(const QString &reason)
{
    // The button stays at Close: one click on it ends the waiting.
    noteLinkLost(reason);
    enableSettings(false);
    m_line.openButton->setChecked(true);
    m_line.openButton->setText(QStringLiteral("Close"));
    statusBar()->showMessage(
        tr("Serial port %1 lost; it will be reopened.").arg(m_settings.portName));
    m_reopenTimer->start();
}

void SerialChannel::close()
{
    if (m_reopenTimer->isActive())
        cancelWaitingPeriodicSend();
    m_reopenTimer->stop();
    if (m_lossHandled || !m_port->isOpen()) {
        // The lost port was closed, and its periodic send stopped, before the user was told;
        // the timer slot would only refuse because the port is closed.
        widgets().timerButton->setText(QStringLiteral("Start"));
    } else {
        setPeriodicSend(false);
    }
    widgets().timerButton->setChecked(false);
    closePort();
    // A character left unfinished will not be finished.
    showIncompleteText();
    widgets().view->setEnabled(false);
    m_line.openButton->setChecked(false);
    m_line.openButton->setText(QStringLiteral("Open"));
    enableSettings(true);
    statusBar()->showMessage(tr("Disconnected"));
}

void SerialChannel::closeLinkAtExit()
{
    // What the device already sent is in the port or on its way into it.
    if (m_port->isOpen() && inputWaiting(m_port->handle()))
        m_port->waitForReadyRead(0);
    if (m_port->isOpen() || m_reopenTimer->isActive())
        close();
}

void SerialChannel::closePort()
{
    // What came in before the close is shown now, and what was sent (and logged) leaves first:
    // closing the port would drop it.
    if (m_port->isOpen()) {
        drainWrites(m_port);
        m_block.append(m_port->readAll());
    }
    m_port->close();
    endBlock();
}

void SerialChannel::enableSettings(bool enable)
{
    for (QWidget *box :
         std::initializer_list<QWidget *> { m_line.port, m_line.baudRate, m_line.dataBits,
                                            m_line.parity, m_line.stopBits, m_line.flowControl })
        box->setEnabled(enable);
}

void SerialChannel::handleError(QSerialPort::SerialPortError error)
{
    // A device that goes away (a USB adapter pulled, a pty whose other end closed) is reported
    // as a ResourceError by some drivers and as an endless run of ReadErrors by others.
    if (error == QSerialPort::ResourceError
        || (error == QSerialPort::ReadError && m_port->isOpen()))
        handleLoss();
}

void SerialChannel::handleLoss()
{
    // The port keeps reporting the loss on every turn of the event loop, and closing it from
    // inside its own report would delete the notifier that is delivering it. So the first
    // report is taken and the rest are ignored until the port has been closed on a clean stack.
    if (m_lossHandled)
        return;
    m_lossHandled = true;
    // The error code tells the loss; what the system says beside it is often an error left over
    // from an earlier call ("Resource temporarily unavailable" for a vanished pty).
    const QString text
        = tr("The device on %1 was disconnected or stopped responding.").arg(m_settings.portName);
    QTimer::singleShot(0, this, [this, text] {
        // Closed before anything else: the port's reports would otherwise go on spinning.
        closePort();
        if (reconnects()) {
            // Nobody may be there to answer a box: the port is tried again until it is back.
            showIncompleteText();
            waitForPort(tr("the device on %1 was disconnected or stopped responding")
                            .arg(m_settings.portName));
            m_lossHandled = false;
            return;
        }
        // Stopped before the box, whose event loop would otherwise let the periodic send be
        // refused with a box of its own at every tick.
        sendTimer()->stop();
        // The user reads the box beside everything that had arrived by then.
        traffic().flush();
        QMessageBox::critical(window(), tr("Critical Error"), text, QMessageBox::Ok);
        close();
        m_lossHandled = false;
    });
}

void SerialChannel::writeKeys(const QByteArray &keys)
{
    // The console is enabled at start-up, before any port is open; its keys go nowhere then.
    if (m_port->isOpen())
        m_port->write(keys);
}
