#include "session.h"

#include "networkchannel.h"
#include "scriptrunner.h"
#include "scriptsuite.h"
#include "serialchannel.h"

#include <QDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

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

ScriptSuite *Session::makeScripts(const RunOptions &options)
{
    m_script = new ScriptSuite(options.scripts, { m_serial, m_network }, m_clock, this);
    m_script->setTimestamps(m_serial->timestamps());
    m_script->setArgs(options.scriptArgs);
    m_script->setTimeLimitMs(options.scriptTimeLimitMs);
    m_script->setReportPath(options.reportPath);
    QVector<QPair<QString, QString>> properties;
    for (const auto &[name, value] : options.scriptArgs)
        properties.append({ QStringLiteral("arg.") + name, value });
    if (!options.serialPorts.isEmpty())
        properties.append({ QStringLiteral("port.serial"), options.serialPorts.constFirst() });
    if (options.host || options.port)
        properties.append({ QStringLiteral("peer"),
                            options.host.value_or(QString()) + QLatin1Char(':')
                                + options.port.value_or(QString()) });
    m_script->setProperties(properties);
    return m_script;
}

void Session::reportScriptsOnConsole()
{
    auto onto = [](FILE *stream) {
        return [stream](const QString &line) {
            std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
            std::fflush(stream);
        };
    };
    m_script->setConsole(onto(stdout), onto(stderr));
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
        m_script->run();
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
    if (!m_script)
        return logs;
    // One script's log is the run's script log; of several, each is named after its script.
    const QList<ScriptRunner *> &runners = m_script->runners();
    QStringList names;
    for (ScriptRunner *runner : runners) {
        QString suffix = QStringLiteral("-script.txt");
        if (runners.size() > 1) {
            const QString name = runner->outcome().name;
            const int before = int(names.count(name));
            names << name;
            suffix = QStringLiteral("-script-%1%2.txt")
                         .arg(name, before ? QStringLiteral("-%1").arg(before + 1) : QString());
        }
        logs.append({ suffix, &runner->log() });
    }
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
