#pragma once

#include "channellog.h"
#include "junitreport.h"
#include "options.h"
#include "scriptrunner.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>

class Channel;

// The scripts of a run, one after the other on the same channels: each starts with the links as
// the run began and nothing left pending from the one before, and what it opened is closed when
// it ends. Their verdicts make one: one JUnit report for the run, a TAP stream as the checks
// happen, and the worst of their statuses (0 < 1 < 3).
class ScriptSuite : public QObject {
    Q_OBJECT

public:
    // Where the TAP stream and the run's summary go (stdout and stderr for a program).
    using Output = std::function<void(const QString &line)>;

    ScriptSuite(const QList<RunOptions::Script> &scripts, const ScriptRunner::Channels &channels,
                ChannelLog::Clock clock = {}, QObject *parent = nullptr);
    ~ScriptSuite() override;

    const QList<ScriptRunner *> &runners() const { return m_runners; }
    void setTimestamps(Timestamps timestamps);
    void setArgs(const QList<QPair<QString, QString>> &args);
    void setTimeLimitMs(qint64 ms);
    void setDefaultPeer(const QString &host, const QString &port);
    // In every testsuite's properties: the run's arguments and port names.
    void setProperties(const QVector<QPair<QString, QString>> &properties)
    {
        m_outcome.properties = properties;
    }
    void setReportPath(const QString &path) { m_reportPath = path; }
    void setConsole(Output stream, Output summary)
    {
        m_stream = std::move(stream);
        m_summary = std::move(summary);
    }

    void run();
    bool started() const { return m_next > 0; }
    bool ended() const { return m_ended; }
    // Stops the script under way where it waits, with this reason; the rest do not run.
    void interrupt(const QString &reason);
    // What the scripts came to so far, those not ended included.
    RunOutcome outcome() const;
    // The worst of the scripts' statuses, or 3 when the report could not be written; 0 while
    // the scripts run.
    int exitStatus() const;
    // The error that stopped the last script that stopped on one; empty when none did.
    QString lastError() const;

signals:
    void progressChanged();
    void finished();

private:
    void runNext();
    void scriptEnded(int index);
    void finish();
    void print(const QStringList &lines) const;

    QList<ScriptRunner *> m_runners;
    std::array<Channel *, 4> m_channels {};
    // Which links were open when the script under way began.
    std::array<bool, 4> m_openAtStart {};
    int m_next = 0;
    int m_streamed = 0; // the current script's testcases on the stream so far
    bool m_ended = false;
    bool m_reportFailed = false;
    QString m_reportPath;
    QString m_stopReason;
    RunOutcome m_outcome;
    QElapsedTimer m_clock;
    Output m_stream;
    Output m_summary;
};
