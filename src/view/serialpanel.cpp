#include "serialpanel.h"

#include "messageboxes.h"
#include "rendering.h"
#include "serialchannel.h"
#include "trafficview.h"

#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

SerialPanel::SerialPanel(SerialChannel &channel, const Widgets &widgets, const LineWidgets &line,
                         const PanelContext &context)
    : ChannelPanel(channel, widgets, context)
    , m_serial(channel)
    , m_line(line)
{
    // The channel opens with what the boxes show, whoever asks it to open.
    for (QComboBox *box :
         { line.port, line.baudRate, line.dataBits, line.parity, line.stopBits, line.flowControl })
        connect(box, &QComboBox::currentTextChanged, this,
                [this] { m_serial.setLineSettings(settingsShown()); });
    m_serial.setLineSettings(settingsShown());
}

SerialSettings SerialPanel::settingsShown() const
{
    auto datum = [](const QComboBox *box) {
        return box->itemData(box->currentIndex(), Qt::UserRole).toInt();
    };
    SerialSettings s;
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
    return s;
}

void SerialPanel::openOrClose(bool open)
{
    if (open)
        openFromForm();
    else
        m_serial.close();
}

void SerialPanel::openFromForm()
{
    QString why;
    QString status;
    if (!m_serial.open(&why, &status))
        failOpen(why, status);
}

void SerialPanel::openAtStart()
{
    QString why;
    QString status;
    if (!m_serial.openAtStart(&why, &status))
        failOpen(why, status);
}

void SerialPanel::failOpen(const QString &why, const QString &status)
{
    // A failed open leaves the button released, so that one click tries again.
    m_line.openButton->setChecked(false);
    tell(QMessageBox::Critical, windowText("Error"), why, status);
}

void SerialPanel::reportError(QSerialPort::SerialPortError)
{
    // The user reads the box beside everything that had arrived by then.
    trafficView().catchUp();
    // The log has the loss already.
    tell(QMessageBox::Critical, windowText("Critical Error"), m_serial.lastFailure(), {}, false);
}

void SerialPanel::refuseSend()
{
    widgets().timerButton->setText(QStringLiteral("Start"));
    refusePeriodicSend();
}

void SerialPanel::refusePeriodicSend()
{
    widgets().timerButton->setChecked(false);
    tell(QMessageBox::Critical, windowText("Error"),
         QStringLiteral("Please, First Open the Serial Port!"));
}

QString SerialPanel::shownText(const QString &text) const
{
    // The log is the record of the line: it has every byte as rendered, and only the view is
    // tidied.
    return serialCleanup(text, false);
}

void SerialPanel::showLinkState(LinkState was)
{
    QPushButton *open = m_line.openButton;
    switch (m_serial.linkState()) {
    case LinkState::Open:
    case LinkState::Lost:
    case LinkState::Opening:
        // The line runs, or will run again, with what the boxes show: they are not changed
        // meanwhile. The button stays at Close while the port is lost: a click ends the waiting.
        enableSettings(false);
        open->setChecked(true);
        open->setText(QStringLiteral("Close"));
        if (m_serial.linkState() == LinkState::Open) {
            widgets().view->setEnabled(true);
            statusBar()->showMessage(m_serial.openStatus());
        } else if (m_serial.linkState() == LinkState::Lost && was != LinkState::Lost) {
            statusBar()->showMessage(windowText("Serial port %1 lost; it will be reopened.")
                                         .arg(m_serial.lineSettings().portName));
        }
        break;
    case LinkState::Closed:
        widgets().view->setEnabled(false);
        open->setChecked(false);
        open->setText(QStringLiteral("Open"));
        enableSettings(true);
        statusBar()->showMessage(windowText("Disconnected"));
        break;
    }
}

void SerialPanel::enableSettings(bool enable)
{
    for (QWidget *box :
         std::initializer_list<QWidget *> { m_line.port, m_line.baudRate, m_line.dataBits,
                                            m_line.parity, m_line.stopBits, m_line.flowControl })
        box->setEnabled(enable);
}
