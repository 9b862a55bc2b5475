#include "linkends.h"

#include <QSignalSpy>
#include <QTest>

LinkEnds::LinkEnds()
{
    server.listen(QHostAddress::LocalHost);
}

LinkEnds::~LinkEnds() = default;

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
