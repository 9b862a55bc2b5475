#include "corefixture.h"

#include "serialsettings.h"

#include <QDir>
#include <QTest>

CoreFixture::CoreFixture(ChannelLog::Clock clock)
    : m_root(std::make_unique<QObject>())
    , m_session(new Session(std::move(clock), m_root.get()))
{
    LinkEnds::m_root = m_root.get();
    m_session->serial().setLineSettings(plainLine(pty.slavePath(), 115200));
    QDir().mkpath(env.logDirPath());
    for (int i = 0; i < int(m_channels.size()); ++i) {
        Channel *c = m_channels[size_t(i)] = &m_session->channel(i);
        c->log().open(env.logDirPath() + QStringLiteral("/run") + TestEnvironment::logSuffixes[i]);
        QObject::connect(c, &Channel::traffic, m_root.get(),
                         [this, i](const QString &text) { m_shown[size_t(i)] += text; });
        QObject::connect(c, &Channel::cleared, m_root.get(),
                         [this, i] { m_shown[size_t(i)].clear(); });
        QObject::connect(c, &Channel::sendFailed, m_root.get(),
                         [this, i](const QString &reason) { m_failures[size_t(i)] << reason; });
        QObject::connect(c, &Channel::linkLost, m_root.get(), [this, i](const QString &reason) {
            m_failures[size_t(i)] << QStringLiteral("lost: ") + reason;
        });
        QObject::connect(c, &Channel::logFailed, m_root.get(),
                         [this, i](const QString &fileName, const QString &reason) {
                             m_failures[size_t(i)]
                                 << QStringLiteral("log: %1: %2").arg(fileName, reason);
                         });
    }
}

CoreFixture::~CoreFixture()
{
    m_root.reset();
}

int CoreFixture::indexOf(const Channel &channel) const
{
    return int(std::find(m_channels.begin(), m_channels.end(), &channel) - m_channels.begin());
}

QString CoreFixture::periodicSend(int channel) const
{
    const bool runs = this->channel(channel).periodicSendRuns();
    if (runs != sendTimer(channel)->isActive())
        return runs ? QStringLiteral("running, its timer stopped")
                    : QStringLiteral("off, its timer running");
    return runs ? QStringLiteral("running") : QStringLiteral("off");
}

void CoreFixture::setHexMode(int channel, bool hex)
{
    this->channel(channel).setHexMode(hex);
}

void CoreFixture::send(int channel, const QString &command)
{
    Channel &c = this->channel(channel);
    if (command.isEmpty() && c.linkOpen() && !c.sendsEmptyCommand())
        return;
    c.send(command);
}

void CoreFixture::startPeriodicSend(int channel, const QString &command, int periodMs)
{
    Channel &c = this->channel(channel);
    c.setCommand(command);
    c.setPeriod(periodMs);
    c.startPeriodicSend();
}

bool CoreFixture::connectTo(int channel, quint16 port)
{
    NetworkChannel &network = this->network(channel);
    network.connectTo(QStringLiteral("127.0.0.1"), port);
    return QTest::qWaitFor([&] { return network.linkState() != LinkState::Opening; }, 15000)
        && network.linkState() == LinkState::Open;
}

bool CoreFixture::openSerial()
{
    return serial().open();
}
