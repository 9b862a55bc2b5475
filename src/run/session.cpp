#include "session.h"

#include "networkchannel.h"
#include "scriptrunner.h"
#include "serialchannel.h"

#include <QDir>
#include <QTimer>

#include <algorithm>

Session::Session(ChannelLog::Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_serial(new SerialChannel(m_clock, this))
{
    setObjectName(QStringLiteral("session"));
    m_channels[0] = m_serial;
    for (int number = 1; number <= int(m_network.size()); ++number) {
        m_network[size_t(number) - 1] = new NetworkChannel(number, m_clock, this);
        m_channels[size_t(number)] = m_network[size_t(number) - 1];
    }
}

Session::~Session() = default;

void Session::configure(const RunOptions &options)
{
    for (int i = 0; i < channelCount; ++i) {
        Channel *channel = m_channels[size_t(i)];
        channel->setLineEnding(options.lineEndings[size_t(i)].value_or(LineEnding::LF));
        channel->setTimestamps(options.timestamps.value_or(Timestamps::Off));
        channel->setReconnect(options.reconnect.value_or(false));
    }
    m_serial->setControlLines(options.dtr, options.rts);
    if (m_script)
        m_script->setTimestamps(options.timestamps.value_or(Timestamps::Off));
}

ScriptRunner *Session::makeScript(const QString &path, const QByteArray &source,
                                  const QString &reportPath)
{
    m_script = new ScriptRunner(path, source, { m_serial, m_network }, m_clock, this);
    m_script->setTimestamps(m_serial->timestamps());
    m_script->setReportPath(reportPath);
    return m_script;
}

void Session::startScriptWhenLinksSettle()
{
    // A connect ends within its own 10 s; the bound is there should a link never settle.
    auto *bound = new QTimer(this);
    bound->setSingleShot(true);
    auto startOnce = [this, bound] {
        const bool settled = std::none_of(m_channels.begin(), m_channels.end(), [](Channel *c) {
            return c->linkState() == LinkState::Opening;
        });
        if (!settled && bound->isActive())
            return;
        bound->stop();
        bound->deleteLater();
        m_script->start();
    };
    for (Channel *channel : m_channels)
        connect(channel, &Channel::linkStateChanged, bound, startOnce);
    connect(bound, &QTimer::timeout, bound, startOnce);
    bound->start(15000);
    startOnce();
}

int Session::exitStatus() const
{
    return m_script ? m_script->exitStatus() : 0;
}

QList<QPair<QString, ChannelLog *>> Session::logs() const
{
    QList<QPair<QString, ChannelLog *>> logs;
    for (Channel *channel : m_channels)
        logs.append(
            { QLatin1Char('-') + channel->key() + QStringLiteral(".txt"), &channel->log() });
    if (m_script)
        logs.append({ QStringLiteral("-script.txt"), &m_script->log() });
    return logs;
}

bool Session::createLogs(const QString &folder)
{
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    QStringList suffixes;
    for (const auto &[suffix, log] : logs())
        suffixes << suffix;
    const QString prefix = ChannelLog::runPrefix(
        folder, suffixes, m_clock ? m_clock() : QDateTime::currentDateTime());
    ChannelLog *firstFailure = nullptr;
    for (const auto &[suffix, log] : logs()) {
        if (!log->open(prefix + suffix) && !firstFailure)
            firstFailure = log;
    }
    // One report stands for all of them.
    if (firstFailure)
        firstFailure->reportError();
    return !firstFailure;
}

void Session::shutDown(bool keepLogs)
{
    for (Channel *channel : m_channels)
        channel->shutDown();
    for (const auto &[suffix, log] : logs()) {
        if (keepLogs)
            log->keep();
        else
            log->discard();
    }
}
