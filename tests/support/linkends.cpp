#include "linkends.h"

#include "trafficview.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

LinkEnds::LinkEnds()
{
    server.listen(QHostAddress::LocalHost);
}

LinkEnds::~LinkEnds() = default;

QPushButton *LinkEnds::linkButton(int channel) const
{
    return channel == serial ? serialPanel().lineWidgets().openButton
                             : networkPanel(channel).linkWidgets().connectButton;
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
    panel(channel).trafficView().catchUp();
    return sentNow(channel);
}

int LinkEnds::received(int channel) const
{
    panel(channel).trafficView().catchUp();
    return receivedNow(channel);
}

int LinkEnds::sentNow(int channel) const
{
    return number(widgets(channel).sentCount);
}

int LinkEnds::receivedNow(int channel) const
{
    return number(widgets(channel).receivedCount);
}

QTextEdit *LinkEnds::view(int channel) const
{
    panel(channel).trafficView().catchUp();
    return widgets(channel).view;
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
