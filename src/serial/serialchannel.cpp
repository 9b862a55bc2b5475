#include "serialchannel.h"

#include "trafficview.h"

#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>

#include <utility>

SerialChannel::SerialChannel(const Widgets &widgets, const LineWidgets &line,
                             const Context &context)
    : Channel(QStringLiteral("Serial"), widgets, context)
    , m_line(line)
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
        if (!openPort(nullptr))
            return;
        m_reopenTimer->stop();
        noteLine(QStringLiteral("--- link back ---"));
        setLinkState(LinkState::Open);
    });
}

SerialChannel::~SerialChannel()
{
    // The widgets and whoever listens may be gone by now: the port closes without a word.
    m_port->blockSignals(true);
}

void SerialChannel::takeArrivals()
{
    const QByteArray bytes = m_port->readAll();
    emit received(bytes);
    m_block.append(bytes);
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
    const QByteArray bytes = m_port->readAll();
    emit received(bytes);
    appendReceived(bytes);
    if (m_port->isOpen())
        m_port->clear(QSerialPort::Input);
}

QString SerialChannel::notOpenReason() const
{
    return windowText("the serial port is not open");
}

void SerialChannel::refuseSend()
{
    widgets().timerButton->setText(QStringLiteral("Start"));
    refusePeriodicSend();
}

void SerialChannel::refusePeriodicSend()
{
    widgets().timerButton->setChecked(false);
    tell(QMessageBox::Critical, windowText("Error"),
         QStringLiteral("Please, First Open the Serial Port!"));
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
        openFromForm();
    else
        close();
}

bool SerialChannel::open(QString *why)
{
    m_reopenTimer->stop();
    if (!openPort(why))
        return false;
    setLinkState(LinkState::Open);
    return true;
}

void SerialChannel::openFromForm()
{
    m_reopenTimer->stop();
    QString why;
    QString status;
    if (openPort(&why, &status)) {
        setLinkState(LinkState::Open);
        return;
    }
    // A failed open leaves the button released, so that one click tries again.
    m_line.openButton->setChecked(false);
    tell(QMessageBox::Critical, windowText("Error"), why, status);
}

void SerialChannel::openAtStart()
{
    if (!reconnects()) {
        openFromForm();
        return;
    }
    QString why;
    if (openPort(&why))
        setLinkState(LinkState::Open);
    else
        waitForPort(why);
}

bool SerialChannel::openPort(QString *why, QString *status)
{
    readSettings();
    const SerialSettings p = m_settings;
    // A port that is gone may still be open, when its loss is being handled.
    if (std::exchange(m_closeAfterLoss, false))
        m_port->close();
    m_port->setPortName(p.portName);
    auto fail = [&](const char *word) {
        // The system's reason alone does not say which port it is about.
        if (why)
            *why = QStringLiteral("%1: %2").arg(
                p.portName.isEmpty() ? windowText("no port selected") : p.portName,
                m_port->errorString());
        if (status)
            *status = windowText(word);
        return false;
    };
    if (!m_port->open(QIODevice::ReadWrite))
        return fail("Open serial error");
    const bool configured = m_port->setBaudRate(p.baudRate, QSerialPort::AllDirections)
        && m_port->setDataBits(p.dataBits) && m_port->setParity(p.parity)
        && m_port->setStopBits(p.stopBits) && m_port->setFlowControl(p.flowControl);
    if (!configured) {
        fail("Configure error");
        m_port->close();
        return false;
    }
    m_openStatus = windowText("Connected to %1 : %2, %3, %4, %5, %6")
                       .arg(p.portName, p.baudRateText, p.dataBitsText, p.parityText,
                            p.stopBitsText, p.flowControlText);
    // Room for a fast device's bytes while the window is busy for a moment; the pty or UART
    // driver holds only a few kilobytes.
    m_port->setReadBufferSize(1024 * 1024);
    // A line the device or its driver cannot set (a pty has none) is told beside the line's
    // settings; the port stays open.
    QString problem;
    if (m_dtr && !setControlLine(true, *m_dtr, &problem))
        m_openStatus += QStringLiteral("; ") + problem;
    if (m_rts && !setControlLine(false, *m_rts, &problem))
        m_openStatus += QStringLiteral("; ") + problem;
    return true;
}

bool SerialChannel::setControlLine(bool dtr, bool on, QString *why)
{
    QString problem;
    if (!m_port->isOpen())
        problem = notOpenReason();
    else if (!(dtr ? m_port->setDataTerminalReady(on) : m_port->setRequestToSend(on)))
        problem = windowText(dtr ? "could not set DTR: %1" : "could not set RTS: %1")
                      .arg(m_port->errorString());
    if (why)
        *why = problem;
    return problem.isEmpty();
}

void SerialChannel::waitForPort(const QString &reason)
{
    loseLink(reason, LinkState::Lost);
    m_reopenTimer->start();
}

void SerialChannel::close()
{
    m_reopenTimer->stop();
    closePort();
    // A character left unfinished will not be finished.
    showIncompleteText();
    setLinkState(LinkState::Closed);
}

void SerialChannel::showLinkState(LinkState was)
{
    QPushButton *open = m_line.openButton;
    switch (linkState()) {
    case LinkState::Open:
    case LinkState::Lost:
        // The line runs, or will run again, with what the boxes show: they are not changed
        // meanwhile. The button stays at Close while the port is lost: a click ends the waiting.
        enableSettings(false);
        open->setChecked(true);
        open->setText(QStringLiteral("Close"));
        if (linkState() == LinkState::Open) {
            widgets().view->setEnabled(true);
            statusBar()->showMessage(m_openStatus);
        } else if (was != LinkState::Lost) {
            statusBar()->showMessage(
                windowText("Serial port %1 lost; it will be reopened.").arg(m_settings.portName));
        }
        break;
    case LinkState::Closed:
        widgets().view->setEnabled(false);
        open->setChecked(false);
        open->setText(QStringLiteral("Open"));
        enableSettings(true);
        statusBar()->showMessage(windowText("Disconnected"));
        break;
    case LinkState::Opening:
        break;
    }
}

void SerialChannel::closeLinkAtExit()
{
    // What the device already sent is in the port or on its way into it.
    if (m_port->isOpen() && inputWaiting(m_port->handle()))
        m_port->waitForReadyRead(0);
    if (m_port->isOpen() || linkState() == LinkState::Lost)
        close();
}

void SerialChannel::closePort()
{
    // What came in before the close is shown now, and what was sent (and logged) leaves first:
    // closing the port would drop it.
    if (m_port->isOpen()) {
        drainWrites(m_port);
        const QByteArray rest = m_port->readAll();
        emit received(rest);
        m_block.append(rest);
    }
    m_closeAfterLoss = false;
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
    // as a ResourceError by some drivers and as an endless run of ReadErrors by others; the
    // first report is taken, the rest fall on a loss already in hand.
    if (linkState() == LinkState::Open && m_port->isOpen()
        && (error == QSerialPort::ResourceError || error == QSerialPort::ReadError))
        handleLoss();
}

void SerialChannel::handleLoss()
{
    // The error code tells the loss; what the system says beside it is often an error left
    // over from an earlier call ("Resource temporarily unavailable" for a vanished pty).
    const QString port = m_settings.portName;
    const QString reason
        = windowText("the device on %1 was disconnected or stopped responding").arg(port);
    // The loss is a fact at once, for the controls and for whoever waits on the port, and the
    // log has what had arrived before it. Closing the port from inside its own report would
    // delete the notifier that is delivering it, so that waits for a clean stack.
    const QByteArray rest = m_port->readAll();
    emit received(rest);
    m_block.append(rest);
    endBlock();
    m_closeAfterLoss = true;
    loseLink(reason, reconnects() ? LinkState::Lost : LinkState::Closed);
    QTimer::singleShot(0, this, [this, port] {
        // Closed before anything else: the port's reports would otherwise go on spinning.
        if (std::exchange(m_closeAfterLoss, false))
            m_port->close();
        // The user closed or opened the port meanwhile: the loss is no longer the news.
        if (lossReason().isEmpty())
            return;
        if (linkState() == LinkState::Lost) {
            // Nobody may be there to answer a box: the port is tried again until it is back.
            m_reopenTimer->start();
            return;
        }
        // The user reads the box beside everything that had arrived by then.
        traffic().flush();
        tell(QMessageBox::Critical, windowText("Critical Error"),
             windowText("The device on %1 was disconnected or stopped responding.").arg(port), {},
             false);
    });
}

void SerialChannel::writeKeys(const QByteArray &keys)
{
    // The console is enabled at start-up, before any port is open; its keys go nowhere then.
    if (m_port->isOpen())
        m_port->write(keys);
}
