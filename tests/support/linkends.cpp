#include "linkends.h"

#include "networkchannel.h"
#include "serialchannel.h"
#include "trafficview.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

LinkEnds::LinkEnds()
{
    server.listen(QHostAddress::LocalHost);
}

LinkEnds::~LinkEnds() = default;

SerialChannel &LinkEnds::serialChannel() const
{
    return static_cast<SerialChannel &>(channel(serial));
}

NetworkChannel &LinkEnds::networkChannel(int channel) const
{
    return static_cast<NetworkChannel &>(this->channel(channel));
}

QLineEdit *LinkEnds::commandLine(int channel) const
{
    return this->channel(channel).widgets().command;
}

QPushButton *LinkEnds::sendButton(int channel) const
{
    return this->channel(channel).widgets().sendButton;
}

QPushButton *LinkEnds::clearButton(int channel) const
{
    return this->channel(channel).widgets().clearButton;
}

QPushButton *LinkEnds::linkButton(int channel) const
{
    return channel == serial ? serialChannel().lineWidgets().openButton
                             : networkChannel(channel).connectButton();
}

QPushButton *LinkEnds::timerButton(int channel) const
{
    return this->channel(channel).widgets().timerButton;
}

QSpinBox *LinkEnds::periodBox(int channel) const
{
    return this->channel(channel).widgets().period;
}

QTimer *LinkEnds::sendTimer(int channel) const
{
    return this->channel(channel).sendTimer();
}

QSerialPort *LinkEnds::serialPort() const
{
    return serialChannel().port();
}

QTimer *LinkEnds::pollTimer() const
{
    return serialChannel().quietTimer();
}

QTcpSocket *LinkEnds::socket(int channel) const
{
    return networkChannel(channel).socket();
}

QString LinkEnds::periodicSend(int channel) const
{
    QStringList state { timerButton(channel)->text() };
    if (timerButton(channel)->isChecked())
        state << QStringLiteral("checked");
    if (sendTimer(channel)->isActive())
        state << QStringLiteral("running");
    return state.join(QLatin1Char(' '));
}

namespace {
int number(const QLineEdit *field)
{
    bool ok = false;
    const int value = field->text().toInt(&ok);
    return ok ? value : -1;
}
} // namespace

int LinkEnds::sent(int channel) const
{
    return number(this->channel(channel).widgets().sentCount);
}

int LinkEnds::received(int channel) const
{
    return number(this->channel(channel).widgets().receivedCount);
}

QTextEdit *LinkEnds::view(int channel) const
{
    this->channel(channel).traffic().flush();
    return this->channel(channel).widgets().view;
}

QString LinkEnds::shown(int channel) const
{
    return view(channel)->toPlainText();
}

QString LinkEnds::logPath(int channel) const
{
    return env.logPath(TestEnvironment::logSuffixes[channel]);
}

QByteArray LinkEnds::log(int channel) const
{
    return fileContents(logPath(channel));
}

QString LinkEnds::status() const
{
    return m_statusBar->currentMessage();
}

QTcpSocket *LinkEnds::connectNetwork(int channel)
{
    m_written[channel].clear();
    return m_peers[channel] = connectTo(channel, server.serverPort()) ? nextPeer() : nullptr;
}

bool LinkEnds::open(int channel, bool hex)
{
    setHexMode(channel, hex);
    return channel == serial ? openSerial() : connectNetwork(channel) != nullptr;
}

QTcpSocket *LinkEnds::nextPeer()
{
    if (!server.hasPendingConnections())
        server.waitForNewConnection(2000);
    return server.nextPendingConnection();
}

bool LinkEnds::deliver(int channel, const QByteArray &bytes)
{
    if (channel == serial)
        return pty.write(bytes);
    return peer(channel) && peer(channel)->write(bytes) == bytes.size();
}

QByteArray LinkEnds::written(int channel)
{
    if (channel == serial)
        m_written[channel] += pty.readAvailable();
    else if (peer(channel))
        m_written[channel] += peer(channel)->readAll();
    return m_written[channel];
}

bool LinkEnds::collect(const QByteArray &bytes)
{
    // The line is never judged quiet while the test collects.
    pollTimer()->setInterval(24 * 3600 * 1000);
    QSignalSpy arrivals(serialPort(), &QIODevice::readyRead);
    return pty.write(bytes) && QTest::qWaitFor([&] {
               return arrivals.count() > 0 && serialPort()->bytesAvailable() == 0;
           });
}

void LinkEnds::resumePolling() const
{
    pollTimer()->setInterval(serialQuietMs);
    pollTimer()->start();
}

quint16 LinkEnds::unusedPort()
{
    QTcpServer taken;
    taken.listen(QHostAddress::LocalHost);
    return taken.serverPort();
}
