#include "networkchannel.h"

#include "rendering.h"
#include "trafficview.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTimer>

quint16 networkPortFromText(const QString &text)
{
    return static_cast<quint16>(text.toInt(nullptr, 10));
}

NetworkChannel::NetworkChannel(const Shared &shared, const Parts &parts)
    : m_window(shared.window)
    , m_statusBar(shared.statusBar)
    , m_address(shared.address)
    , m_port(shared.port)
    , m_inputColour(shared.inputColour)
    , m_outputColour(shared.outputColour)
    , m_number(parts.number)
    , m_socket(parts.socket)
    , m_sendTimer(parts.sendTimer)
    , m_hexMode(parts.hexMode)
    , m_counters(parts.counters)
    , m_traffic(parts.traffic)
    , m_commandLine(parts.commandLine)
    , m_connectButton(parts.connectButton)
    , m_timerButton(parts.timerButton)
    , m_periodBox(parts.periodBox)
{
}

void NetworkChannel::connectLink(bool connect)
{
    if (connect) {
        m_socket->abort();
        m_socket->connectToHost(m_address->text(), networkPortFromText(m_port->text()),
                                QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        if (m_socket->waitForConnected(1000)) {
            m_statusBar->showMessage(tr("connected Network%1.").arg(m_number));
            m_connectButton->setText(QStringLiteral("Disconnect"));
        } else {
            // Whatever the cause (refused, unreachable, too slow), the user is pointed at the
            // two fields that decide where the channel connects.
            QMessageBox::information(m_window, tr("Client"),
                                     tr("The host was not found. Please check the host name "
                                        "and port settings."));
            m_connectButton->setChecked(false);
        }
        return;
    }

    // Stopped while the socket is still open, so that the periodic send takes its stop path
    // and not its refusal.
    setPeriodicSend(false);
    m_timerButton->setChecked(false);
    m_socket->close();
    m_statusBar->showMessage(tr("disconnected Network%1.").arg(m_number));
    m_connectButton->setText(QStringLiteral("Connect"));
}

void NetworkChannel::reportError(QAbstractSocket::SocketError error)
{
    // Before any box: its nested event loop would otherwise go on ticking into a dead link.
    stopPeriodicSendOnLinkLoss();

    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        break;
    case QAbstractSocket::HostNotFoundError:
        QMessageBox::information(m_window, tr("Client"),
                                 tr("The host was not found. Please check the host name and "
                                    "port settings."));
        break;
    case QAbstractSocket::ConnectionRefusedError:
        QMessageBox::information(m_window, tr("Client"),
                                 tr("The connection was refused by the peer. Make sure the "
                                    "server is running, and check that the host name and port "
                                    "settings are correct."));
        break;
    default:
        QMessageBox::information(
            m_window, tr("Client"),
            tr("The following error occurred: %1.").arg(m_socket->errorString()));
        break;
    }
    m_connectButton->setChecked(false);
}

void NetworkChannel::send()
{
    // A periodic send runs only on an open link: when the link is gone under it, the tick ends
    // the periodic send instead of opening a box, whose event loop would let the next tick open
    // another one.
    const bool periodic = m_sendTimer->isActive();
    if (!m_socket->isOpen()) {
        if (periodic)
            stopPeriodicSendOnLinkLoss();
        else
            QMessageBox::critical(m_window, tr("Error"),
                                  QStringLiteral("Please, First Connect Network%1!").arg(m_number));
        return;
    }

    const QString text = m_commandLine->text();
    if (text.isEmpty())
        return;

    // A socket whose peer has gone stays open but refuses the write; such a send never left,
    // so it is neither counted nor shown.
    if (m_socket->write(encodeCommand(text, m_hexMode)) < 0) {
        if (periodic)
            stopPeriodicSendOnLinkLoss();
        m_statusBar->showMessage(tr("Send failed on %1: %2").arg(name(), m_socket->errorString()));
        return;
    }
    m_socket->flush();

    m_counters.countSend();
    appendTraffic(text, m_outputColour, true);
}

void NetworkChannel::read()
{
    const QByteArray bytes = m_socket->readAll();
    const bool hex = m_hexMode;
    appendTraffic(hex ? hexRendering(bytes) : textRendering(bytes), m_inputColour, hex);
    m_counters.countArrival();
}

void NetworkChannel::clear()
{
    m_counters.reset();
    m_traffic.clear();
}

void NetworkChannel::setMode(int id)
{
    m_hexMode = id != 0;
    m_socket->setReadBufferSize(m_hexMode ? hexReadChunk : asciiReadChunk);
}

void NetworkChannel::setPeriodicSend(bool start)
{
    if (!m_socket->isOpen()) {
        m_timerButton->setChecked(false);
        QMessageBox::critical(m_window, tr("Error"),
                              QStringLiteral("Please, First Connect network%1.").arg(m_number));
        return;
    }
    if (start) {
        m_sendTimer->start(m_periodBox->value());
        m_timerButton->setText(QStringLiteral("Stop"));
    } else {
        m_sendTimer->stop();
        m_timerButton->setText(QStringLiteral("Start"));
    }
}

void NetworkChannel::appendTraffic(QString text, const QColor &colour, bool lineBreak)
{
    // Network text gets none of the serial clean-up: what the peer sent is what is shown.
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    m_traffic.append(text, colour);
}

void NetworkChannel::stopPeriodicSendOnLinkLoss()
{
    m_sendTimer->stop();
    m_timerButton->setChecked(false);
    m_timerButton->setText(QStringLiteral("Start"));
}
