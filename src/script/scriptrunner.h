#pragma once

#include "channellog.h"
#include "expectbuffer.h"
#include "junitreport.h"
#include "options.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <optional>

#include <array>

class Channel;
class NetworkChannel;
class QTimer;
class SerialChannel;
struct lua_State;

// Runs one Lua 5.4 script against the channels: the script is a coroutine on the GUI thread
// that yields whenever it waits (expect, sleep, a connect) and every few milliseconds of
// computing, and is resumed by the event loop, so the window, its views, the periodic sends and
// every link go on meanwhile. It sees only a sandbox (no files, no programs, no binary chunks)
// and the channels' API (scriptapi.cpp). Its record goes to its own log; its outcome to its
// signals, a JUnit report and the exit status.
class ScriptRunner : public QObject {
    Q_OBJECT

public:
    // The channels the script reaches as serial, net1, net2, net3; a missing one is nil.
    struct Channels {
        SerialChannel *serial = nullptr;
        std::array<NetworkChannel *, 3> network {};
    };

    // What a script sees of the runner and the channels, installed into its Lua state when it
    // starts: the API lives apart from the runner that drives the coroutine.
    using Api
        = void (*)(lua_State *lua, ScriptRunner *runner, const std::array<Channel *, 4> &channels);

    ScriptRunner(const QString &path, const QByteArray &source, const Channels &channels, Api api,
                 ChannelLog::Clock clock = {}, QObject *parent = nullptr);
    // The runner whose script the state runs.
    static ScriptRunner *of(lua_State *lua);
    ~ScriptRunner() override;

    // Empty when the source compiles as a text chunk; else one line naming the file as given,
    // the line and Lua's message.
    static QString compileError(const QString &path, const QByteArray &source);

    ChannelLog &log() { return m_log; }
    void setTimestamps(Timestamps timestamps) { m_timestamps = timestamps; }
    // What the script reads as args.NAME.
    void setArgs(const QList<QPair<QString, QString>> &args) { m_args = args; }
    // How long the script may run before it is stopped with an error where it is.
    void setTimeLimitMs(qint64 ms) { m_timeLimitMs = ms; }
    // Where a network channel's connect() goes when the script names no host or port.
    void setDefaultPeer(const QString &host, const QString &port)
    {
        m_defaultHost = host;
        m_defaultPort = port;
    }

    void run();
    bool started() const { return m_lua != nullptr || m_ended; }
    bool ended() const { return m_ended; }
    // Ends a script that has not ended where it waits, as an error with this reason; the
    // script's log tells it. Nothing the script asked for happens afterwards.
    void interrupt(const QString &reason);
    const ScriptOutcome &outcome() const { return m_outcome; }
    // A line of the script's log, stamped where the run wants stamps.
    void logLine(const QString &line) { writeLine(line); }
    // 0 when every check passed, 1 when one failed, 3 when an error stopped the script or failed
    // a test; 0 while it has not ended.
    int exitStatus() const { return m_ended ? m_outcome.status() : 0; }

signals:
    // A check was recorded, or the script ended.
    void progressChanged();
    // The testcase at this index of the outcome's cases has ended: a check outside a test, or a
    // test.
    void caseEnded(int index);
    // What note or print wrote.
    void noted(const QString &text);
    void finished();

private:
    friend struct ScriptApi;
    enum class Wait { Nothing, Slice, Sleep, Expect, Line, Link };

    // The state's own memory, bounded so that a runaway script fails instead of the machine.
    struct Heap {
        size_t used = 0;
        size_t limit = 0;
    };
    static void *allocate(void *heap, void *block, size_t oldSize, size_t newSize);
    static void sliceHook(lua_State *lua, struct lua_Debug *);

    void resume();
    // The coroutine is resumed from the event loop; the function it waits in returns `results`.
    void wake(const QVariantList &results = {});
    // `stopped`: the run was ended from outside, and the log says so already.
    void finish(const QString &error, bool stopped = false);
    void halt(const QString &reason);
    void writeLine(const QString &line);
    void connectChannels();
    void receive(int channel, const QByteArray &bytes);
    void linkChanged(int channel);
    void onLinkLost(int channel, const QString &reason);
    void lookForMatch();
    void expired();
    void timeLimitReached();
    // What a failed expect or readline tells the next check, and the script's log.
    void missed(const QString &reason);

    // The API's work, done before the API function returns or waits. Done: the function
    // returns m_results; Fail: it raises m_apiError.
    enum class Call { Done, Wait, Fail };
    // An expect of m_queries: of one, or of several alternatives (the first to match wins).
    Call beginExpect(int channel, bool alternatives, qint64 ms);
    Call beginReadline(int channel, qint64 ms);
    // Looks for the match m_wait names in what arrived, and waits for it at most `ms`.
    Call awaitMatch(int channel, qint64 ms);
    // Opens test(name, fn); it fails, with the reason, for a name used before or inside a test.
    Call beginTest(const QString &name, const char *source, int line);
    // Ends the test under way, failed by the error, when there is one.
    void endTest(const char *error);
    Call beginConnect(int channel, const char *host, const char *port);
    Call beginSleep(qint64 ms);
    // A wait for the channel's link ends when it is no longer opening.
    Call awaitLink(int channel);
    Call sendOn(int channel, const char *text, size_t size, bool hex);
    Call openSerial();
    Call closeLink(int channel);
    Call setLine(bool dtr, bool on);
    Call readLines();
    Call beginBreak(int ms);
    Call channelName(int channel);
    // The function returns true, or false and why not.
    Call answer(bool done, const QString &why);
    // What the API function that is returning gives the script.
    int pushResults(lua_State *lua);
    void matched(const ExpectBuffer::Match &match);
    // A check without a name is named after its line.
    void recordCheck(bool passed, const char *name, const char *source, int line);
    void note(const char *text, size_t size);
    Channel *channel(int index) const { return m_channels[size_t(index)]; }

    QString m_path;
    QByteArray m_source;
    Api m_api;
    std::array<Channel *, 4> m_channels {};
    std::array<ExpectBuffer, 4> m_buffers;
    // Why each channel's link was last lost, for an expect that the loss ends.
    std::array<QString, 4> m_lossReasons;
    // What the expect under way looks for, filled by the API before it asks.
    QVector<ExpectBuffer::Query> m_queries;
    bool m_alternatives = false;
    // The last failed expect since the last check, which a failed check explains itself with.
    std::optional<ExpectMiss> m_lastMiss;
    QList<QPair<QString, QString>> m_args;
    QString m_timedOut; // why the script is being stopped at its limit, once it is
    QString m_traceback; // of the last error inside a test
    QList<QMetaObject::Connection> m_connections;
    SerialChannel *m_serial;
    std::array<NetworkChannel *, 3> m_network;
    qint64 m_timeLimitMs = 3600 * 1000;
    QTimer *m_timeLimit;
    QString m_defaultHost;
    QString m_defaultPort;
    ChannelLog m_log;
    Timestamps m_timestamps = Timestamps::Off;

    Heap m_heap;
    lua_State *m_lua = nullptr;
    lua_State *m_thread = nullptr;
    bool m_running = false;
    bool m_ended = false;
    bool m_closing = false;
    QString m_stopReason;
    QElapsedTimer m_clock; // since the start
    QElapsedTimer m_slice; // since the last resume
    double m_lastCheckSeconds = 0;

    Wait m_wait = Wait::Nothing;
    int m_waitChannel = -1;
    QString m_waitingFor; // what an expect looks for, as the log shows it
    qint64 m_waitMs = 0;
    QTimer *m_deadline;
    QTimer *m_wake;
    // What the API function returns: nil (an invalid QVariant), a bool, a number, bytes.
    QVariantList m_results;
    // An error to raise in the script where it waits, or from the API call under way.
    QByteArray m_apiError;

    ScriptOutcome m_outcome;
};
