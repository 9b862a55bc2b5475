#include "scriptsuite.h"

#include "channel.h"
#include "networkchannel.h"
#include "scriptapi.h"
#include "serialchannel.h"
#include "tapreport.h"

#include <QTimer>

ScriptSuite::ScriptSuite(const QList<RunOptions::Script> &scripts,
                         const ScriptRunner::Channels &channels, ChannelLog::Clock clock,
                         QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("scriptSuite"));
    m_channels[0] = channels.serial;
    for (size_t i = 0; i < channels.network.size(); ++i)
        m_channels[i + 1] = channels.network[i];
    for (int i = 0; i < scripts.size(); ++i) {
        auto *runner = new ScriptRunner(scripts.at(i).path, scripts.at(i).source, channels,
                                        &ScriptApi::install, clock, this);
        m_runners << runner;
        connect(runner, &ScriptRunner::progressChanged, this, &ScriptSuite::progressChanged);
        connect(runner, &ScriptRunner::caseEnded, this, [this, runner](int index) {
            print(tapCase(++m_streamed, runner->outcome().cases.at(index)));
        });
        connect(runner, &ScriptRunner::noted, this,
                [this](const QString &text) { print(tapComment(text)); });
        connect(runner, &ScriptRunner::finished, this, [this, i] { scriptEnded(i); });
    }
}

ScriptSuite::~ScriptSuite() = default;

void ScriptSuite::setTimestamps(Timestamps timestamps)
{
    for (ScriptRunner *runner : qAsConst(m_runners))
        runner->setTimestamps(timestamps);
}

void ScriptSuite::setArgs(const QList<QPair<QString, QString>> &args)
{
    for (ScriptRunner *runner : qAsConst(m_runners))
        runner->setArgs(args);
}

void ScriptSuite::setTimeLimitMs(qint64 ms)
{
    for (ScriptRunner *runner : qAsConst(m_runners))
        runner->setTimeLimitMs(ms);
}

void ScriptSuite::setDefaultPeer(const QString &host, const QString &port)
{
    for (ScriptRunner *runner : qAsConst(m_runners))
        runner->setDefaultPeer(host, port);
}

void ScriptSuite::run()
{
    if (started() || m_ended)
        return;
    m_clock.start();
    print({ tapHeader() });
    runNext();
}

void ScriptSuite::runNext()
{
    if (m_next >= m_runners.size() || !m_stopReason.isEmpty()) {
        finish();
        return;
    }
    for (size_t c = 0; c < m_channels.size(); ++c)
        m_openAtStart[c] = m_channels[c] && m_channels[c]->linkState() != LinkState::Closed;
    ScriptRunner *runner = m_runners.at(m_next++);
    m_streamed = 0;
    print(tapScriptBegins(runner->outcome()));
    runner->run();
}

void ScriptSuite::scriptEnded(int index)
{
    print(tapScriptEnds(index + 1, m_runners.at(index)->outcome(), m_streamed));
    // The next script starts as this one did: what this one opened is closed again.
    for (size_t c = 0; c < m_channels.size(); ++c)
        if (m_channels[c] && !m_openAtStart[c] && m_channels[c]->linkState() != LinkState::Closed)
            m_channels[c]->closeLink();
    // On a clean stack: the script that ended is still returning from its last call.
    QTimer::singleShot(0, this, &ScriptSuite::runNext);
}

void ScriptSuite::interrupt(const QString &reason)
{
    if (m_ended)
        return;
    m_stopReason = reason;
    ScriptRunner *current = m_next > 0 ? m_runners.at(m_next - 1) : nullptr;
    if (current && !current->ended())
        current->interrupt(reason);
    else
        finish();
}

RunOutcome ScriptSuite::outcome() const
{
    RunOutcome run = m_outcome;
    run.seconds = m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0;
    for (ScriptRunner *runner : m_runners) {
        ScriptOutcome script = runner->outcome();
        if (!runner->started()) {
            // A run stopped before a script's turn: the script is there, as one that did not run.
            if (m_stopReason.isEmpty())
                continue;
            script.error = QStringLiteral("not run: %1").arg(m_stopReason);
            script.ended = true;
        }
        run.scripts << script;
    }
    return run;
}

int ScriptSuite::exitStatus() const
{
    if (!m_ended)
        return 0;
    return m_reportFailed ? 3 : outcome().status();
}

QString ScriptSuite::lastError() const
{
    for (auto it = m_runners.crbegin(); it != m_runners.crend(); ++it)
        if ((*it)->started() && !(*it)->outcome().error.isEmpty())
            return (*it)->outcome().error;
    return {};
}

void ScriptSuite::finish()
{
    if (m_ended)
        return;
    m_ended = true;
    const RunOutcome run = outcome();
    QString why;
    if (!m_reportPath.isEmpty() && !writeJUnitReport(m_reportPath, run, &why)) {
        m_reportFailed = true;
        const QString problem
            = QStringLiteral("the report %1 could not be written: %2").arg(m_reportPath, why);
        if (!m_runners.isEmpty())
            m_runners.constLast()->logLine(QStringLiteral("--- %1 ---").arg(problem));
        if (m_summary)
            m_summary(problem);
    }
    print({ tapPlan(run.scripts.size()) });
    if (m_summary)
        m_summary(tapSummary(run));
    emit progressChanged();
    emit finished();
}

void ScriptSuite::print(const QStringList &lines) const
{
    if (!m_stream)
        return;
    for (const QString &line : lines)
        m_stream(line);
}
