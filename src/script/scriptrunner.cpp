#include "scriptrunner.h"

#include "networkchannel.h"
#include "serialchannel.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <QVariantMap>

#include <lua.hpp>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {
// A script computes for at most this long before the window gets its turn.
constexpr int sliceMs = 10;
// How often the hook looks at the clock, in Lua instructions.
constexpr int sliceCheck = 1000;
constexpr size_t heapLimit = size_t(512) * 1024 * 1024;

QString chunkName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// Lua names the chunk by its file name; the one-line refusal names the file as given.
QString namedAfterPath(const QString &path, const QString &message)
{
    const QString name = chunkName(path) + QLatin1Char(':');
    if (message.startsWith(name))
        return path + message.mid(name.size() - 1);
    return path + QStringLiteral(": ") + message;
}

int loadChunk(lua_State *lua, const QString &path, const QByteArray &source)
{
    const QByteArray name = '@' + chunkName(path).toUtf8();
    return luaL_loadbufferx(lua, source.constData(), size_t(source.size()), name.constData(), "t");
}

int panic(lua_State *lua)
{
    std::fprintf(stderr, "teskmanager: the script's Lua state failed: %s\n", lua_tostring(lua, -1));
    std::abort();
}
} // namespace

ScriptRunner::ScriptRunner(const QString &path, const QByteArray &source, const Channels &channels,
                           Api api, ChannelLog::Clock clock, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_source(source)
    , m_api(api)
    , m_serial(channels.serial)
    , m_network(channels.network)
    , m_timeLimit(new QTimer(this))
    , m_log(std::move(clock))
    , m_deadline(new QTimer(this))
    , m_wake(new QTimer(this))
{
    setObjectName(QStringLiteral("scriptRunner"));
    m_channels[0] = channels.serial;
    for (size_t i = 0; i < channels.network.size(); ++i)
        m_channels[i + 1] = channels.network[i];
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer);
    connect(m_deadline, &QTimer::timeout, this, &ScriptRunner::expired);
    m_wake->setSingleShot(true);
    m_wake->setInterval(0);
    connect(m_wake, &QTimer::timeout, this, &ScriptRunner::resume);
    m_timeLimit->setSingleShot(true);
    connect(m_timeLimit, &QTimer::timeout, this, &ScriptRunner::timeLimitReached);
    m_outcome.file = chunkName(path);
    m_outcome.name = m_outcome.file;
    if (m_outcome.name.endsWith(QLatin1String(".lua")))
        m_outcome.name.chop(4);
}

ScriptRunner::~ScriptRunner()
{
    m_closing = true;
    if (m_lua)
        lua_close(m_lua);
}

QString ScriptRunner::compileError(const QString &path, const QByteArray &source)
{
    lua_State *lua = luaL_newstate();
    if (!lua)
        return path + QStringLiteral(": not enough memory to read the script");
    QString error;
    if (loadChunk(lua, path, source) != LUA_OK)
        error = namedAfterPath(path, QString::fromUtf8(lua_tostring(lua, -1)));
    lua_close(lua);
    return error;
}

ScriptRunner *ScriptRunner::of(lua_State *lua)
{
    return *static_cast<ScriptRunner **>(lua_getextraspace(lua));
}

void *ScriptRunner::allocate(void *heap, void *block, size_t oldSize, size_t newSize)
{
    auto *h = static_cast<Heap *>(heap);
    const size_t old = block ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        h->used -= old;
        return nullptr;
    }
    if (newSize > old && h->used - old + newSize > h->limit)
        return nullptr;
    void *grown = std::realloc(block, newSize);
    if (grown)
        h->used = h->used - old + newSize;
    return grown;
}

void ScriptRunner::sliceHook(lua_State *lua, lua_Debug *debug)
{
    ScriptRunner *runner = of(lua);
    // Past its limit the script stops where it computes, whatever catches the error on the way.
    if (!runner->m_timedOut.isEmpty()) {
        lua_getinfo(lua, "Sl", debug);
        // luaL_error jumps out of this frame, past any destructor: the text goes onto Lua's stack,
        // which Lua frees, and nothing of ours is left to be destroyed.
        lua_pushfstring(lua, "%s:%d: ", debug->short_src, debug->currentline);
        {
            const QByteArray why = runner->m_timedOut.toUtf8();
            lua_pushlstring(lua, why.constData(), size_t(why.size()));
        }
        lua_concat(lua, 2);
        lua_error(lua);
    }
    if (runner->m_slice.elapsed() >= sliceMs && lua_isyieldable(lua))
        lua_yield(lua, 0);
}

void ScriptRunner::run()
{
    if (started())
        return;
    m_heap.limit = heapLimit;
    m_lua = lua_newstate(&ScriptRunner::allocate, &m_heap);
    lua_atpanic(m_lua, panic);
    *static_cast<ScriptRunner **>(lua_getextraspace(m_lua)) = this;
    m_api(m_lua, this, m_channels);
    m_thread = lua_newthread(m_lua);
    // Kept in the registry, so that the collector leaves the coroutine alone.
    luaL_ref(m_lua, LUA_REGISTRYINDEX);
    lua_sethook(m_thread, &ScriptRunner::sliceHook, LUA_MASKCOUNT, sliceCheck);
    m_clock.start();
    m_timeLimit->start(int(qMin<qint64>(m_timeLimitMs, std::numeric_limits<int>::max())));
    m_outcome.started = m_log.now();
    writeLine(QStringLiteral("--- script %1 started ---").arg(m_path));
    connectChannels();
    emit progressChanged();
    if (loadChunk(m_thread, m_path, m_source) != LUA_OK) {
        finish(QString::fromUtf8(lua_tostring(m_thread, -1)));
        return;
    }
    resume();
}

void ScriptRunner::connectChannels()
{
    for (int i = 0; i < int(m_channels.size()); ++i) {
        if (!m_channels[size_t(i)])
            continue;
        m_connections << connect(m_channels[size_t(i)], &Channel::received, this,
                                 [this, i](const QByteArray &bytes) { receive(i, bytes); });
        m_connections << connect(m_channels[size_t(i)], &Channel::linkStateChanged, this,
                                 [this, i] { linkChanged(i); });
        m_connections << connect(m_channels[size_t(i)], &Channel::linkLost, this,
                                 [this, i](const QString &reason) { onLinkLost(i, reason); });
    }
}

void ScriptRunner::resume()
{
    if (m_ended || m_running)
        return;
    m_wait = Wait::Nothing;
    m_running = true;
    m_slice.start();
    int yielded = 0;
    const int status = lua_resume(m_thread, nullptr, 0, &yielded);
    m_running = false;
    if (!m_stopReason.isEmpty()) {
        halt(m_stopReason);
    } else if (status == LUA_YIELD) {
        lua_pop(m_thread, yielded);
        // A yield of the hook: the script only gives the window its turn.
        if (m_wait == Wait::Nothing)
            wake();
    } else if (status == LUA_OK) {
        finish({});
    } else {
        const char *message = lua_tostring(m_thread, -1);
        const QString error = message ? QString::fromUtf8(message)
                                      : QStringLiteral("(error object is a %1 value)")
                                            .arg(QLatin1String(luaL_typename(m_thread, -1)));
        // The coroutine's stack is still there after its error: where it was, line by line.
        luaL_traceback(m_lua, m_thread, nullptr, 0);
        m_outcome.errorTraceback
            = scriptTraceback(QString::fromUtf8(lua_tostring(m_lua, -1)), m_outcome.file);
        lua_pop(m_lua, 1);
        finish(error);
    }
}

void ScriptRunner::wake(const QVariantList &results)
{
    m_deadline->stop();
    m_results = results;
    m_wait = Wait::Slice;
    m_wake->start();
}

void ScriptRunner::interrupt(const QString &reason)
{
    if (m_ended)
        return;
    if (m_running)
        m_stopReason = reason;
    else
        halt(reason);
}

void ScriptRunner::halt(const QString &reason)
{
    writeLine(QStringLiteral("--- stopped: %1 ---").arg(reason));
    finish(reason, true);
}

void ScriptRunner::finish(const QString &error, bool stopped)
{
    m_ended = true;
    m_wait = Wait::Nothing;
    m_deadline->stop();
    m_wake->stop();
    m_timeLimit->stop();
    for (const QMetaObject::Connection &connection : qAsConst(m_connections))
        disconnect(connection);
    m_connections.clear();
    const double seconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_outcome.seconds = seconds;
    m_outcome.ended = true;
    m_outcome.error = error;
    m_outcome.errorSeconds = seconds - m_lastCheckSeconds;
    if (!error.isEmpty() && m_outcome.errorTraceback.isEmpty() && !stopped)
        m_outcome.errorWhere = error.section(QStringLiteral(": "), 0, 0);
    else if (!m_outcome.errorTraceback.isEmpty())
        m_outcome.errorWhere
            = m_outcome.errorTraceback.constFirst().section(QLatin1Char(':'), 0, 1);
    if (!error.isEmpty() && !stopped)
        writeLine(QStringLiteral("--- error: %1 ---").arg(error));
    writeLine(QStringLiteral("--- script %1: %2 passed, %3 failed ---")
                  .arg(error.isEmpty() ? QStringLiteral("ended") : QStringLiteral("stopped"))
                  .arg(m_outcome.passed())
                  .arg(m_outcome.failed()));
    emit progressChanged();
    if (m_lua) {
        m_closing = true;
        lua_close(m_lua);
        m_lua = nullptr;
        m_thread = nullptr;
    }
    emit finished();
}

void ScriptRunner::writeLine(const QString &line)
{
    // Each line of a note or an error is a line of the log, stamped like every other; the line
    // break that ends a note adds none.
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = line.split(lineBreak);
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    const QString stamp
        = m_timestamps == Timestamps::Off ? QString() : m_log.stamp() + QLatin1Char(' ');
    QString text;
    for (const QString &one : qAsConst(lines))
        text += stamp + one + QLatin1Char('\n');
    m_log.write(text);
}

void ScriptRunner::recordCheck(bool passed, const char *name, const char *source, int line)
{
    const QString where = QStringLiteral("%1:%2").arg(QString::fromUtf8(source)).arg(line);
    const QString named
        = name ? QString::fromUtf8(name) : QStringLiteral("check at line %1").arg(line);
    const double now = double(m_clock.nsecsElapsed()) / 1e9;
    // A check that fails explains itself with the expect that failed before it.
    const std::optional<ExpectMiss> miss = std::exchange(m_lastMiss, std::nullopt);
    m_outcome.addCheck(named, passed, now, where, passed ? std::nullopt : miss);
    m_lastCheckSeconds = now;
    writeLine(QStringLiteral("--- check \"%1\": %2 ---")
                  .arg(named, passed ? QStringLiteral("passed") : QStringLiteral("failed")));
    if (!passed && miss)
        writeLine(QStringLiteral("--- %1 ---").arg(miss->text()));
    if (!m_outcome.inTest())
        emit caseEnded(m_outcome.cases.size() - 1);
    emit progressChanged();
}

ScriptRunner::Call ScriptRunner::beginTest(const QString &name, const char *source, int line)
{
    const QString where = QStringLiteral("%1:%2").arg(QString::fromUtf8(source)).arg(line);
    const double now = double(m_clock.nsecsElapsed()) / 1e9;
    if (m_outcome.inTest()) {
        m_apiError = QStringLiteral("test \"%1\" is inside test \"%2\": tests do not nest")
                         .arg(name, m_outcome.cases.constLast().name)
                         .toUtf8();
        return Call::Fail;
    }
    if (!m_outcome.beginTest(name, where, now)) {
        m_apiError = QStringLiteral("a test named \"%1\" ran already").arg(name).toUtf8();
        return Call::Fail;
    }
    m_lastCheckSeconds = now;
    writeLine(QStringLiteral("--- test \"%1\" started ---").arg(name));
    return Call::Done;
}

void ScriptRunner::endTest(const char *error)
{
    const double now = double(m_clock.nsecsElapsed()) / 1e9;
    const QString name = m_outcome.cases.constLast().name;
    std::optional<ScriptOutcome::Error> failedBy;
    if (error) {
        const QStringList traceback
            = scriptTraceback(std::exchange(m_traceback, {}), m_outcome.file);
        const QString message = QString::fromUtf8(error);
        failedBy = ScriptOutcome::Error {
            message, traceback.isEmpty() ? QString() : traceback.constFirst().section(':', 0, 1),
            traceback
        };
        writeLine(QStringLiteral("--- error in test \"%1\": %2 ---").arg(name, message));
    }
    m_outcome.endTest(now, failedBy);
    m_lastCheckSeconds = now;
    const bool passed = m_outcome.cases.constLast().passed();
    writeLine(QStringLiteral("--- test \"%1\": %2 ---")
                  .arg(name, passed ? QStringLiteral("passed") : QStringLiteral("failed")));
    emit caseEnded(m_outcome.cases.size() - 1);
    emit progressChanged();
}

void ScriptRunner::note(const char *text, size_t size)
{
    const QString line = QString::fromUtf8(text, int(size));
    writeLine(line);
    m_outcome.addOutput(line);
    emit noted(line);
}

void ScriptRunner::receive(int channel, const QByteArray &bytes)
{
    m_buffers[size_t(channel)].append(bytes);
    if ((m_wait == Wait::Expect || m_wait == Wait::Line) && m_waitChannel == channel)
        lookForMatch();
}

void ScriptRunner::lookForMatch()
{
    ExpectBuffer &buffer = m_buffers[size_t(m_waitChannel)];
    const std::optional<ExpectBuffer::Match> match = buffer.match();
    if (buffer.tooComplex()) {
        buffer.cancel();
        m_apiError = "pattern too complex";
        wake();
    } else if (match) {
        matched(*match);
        wake(m_results);
    }
}

void ScriptRunner::matched(const ExpectBuffer::Match &match)
{
    m_results.clear();
    // Of several alternatives, which one matched comes first.
    if (m_wait == Wait::Expect && m_alternatives)
        m_results << qint64(match.alternative + 1);
    if (match.captures.isEmpty() || m_wait == Wait::Line)
        m_results << match.text;
    else
        m_results << match.captures;
}

void ScriptRunner::missed(const QString &reason)
{
    ExpectBuffer &buffer = m_buffers[size_t(m_waitChannel)];
    const QString name = channel(m_waitChannel)->name();
    m_lastMiss = ExpectMiss { name, m_waitingFor, reason, buffer.recent() };
    buffer.cancel();
    writeLine(QStringLiteral("--- %1 on %2: %3 ---").arg(m_waitingFor, name, reason));
    wake({ QVariant(), reason });
}

void ScriptRunner::expired()
{
    if (m_wait == Wait::Expect)
        missed(QStringLiteral("no match within %1 ms").arg(m_waitMs));
    else if (m_wait == Wait::Line)
        missed(QStringLiteral("no line within %1 ms").arg(m_waitMs));
    else if (m_wait == Wait::Sleep)
        wake(m_results);
}

void ScriptRunner::timeLimitReached()
{
    const qint64 ms = m_timeLimitMs;
    const QString limit = ms % 3600000 == 0 ? QStringLiteral("%1 h").arg(ms / 3600000)
        : ms % 60000 == 0                   ? QStringLiteral("%1 min").arg(ms / 60000)
                                            : QStringLiteral("%1 s").arg(double(ms) / 1000);
    m_timedOut = QStringLiteral("the script ran longer than its limit of %1").arg(limit);
    // A script that waits is stopped in the call it waits in, which names its line; one that
    // computes is stopped by the hook, where it is.
    if (m_wait != Wait::Nothing && m_wait != Wait::Slice) {
        if (m_wait == Wait::Expect || m_wait == Wait::Line)
            m_buffers[size_t(m_waitChannel)].cancel();
        m_apiError = m_timedOut.toUtf8();
        wake();
    }
}

void ScriptRunner::linkChanged(int index)
{
    const LinkState state = channel(index)->linkState();
    if (m_waitChannel != index || state == LinkState::Opening)
        return;
    if (m_wait == Wait::Link) {
        if (state == LinkState::Open)
            wake({ true });
        else
            wake({ false, channel(index)->lastFailure() });
    } else if ((m_wait == Wait::Expect || m_wait == Wait::Line) && state == LinkState::Closed) {
        // Nothing more will come on a link that is gone for good: the expect fails now, not at
        // its time-out.
        const QString lost = std::exchange(m_lossReasons[size_t(index)], QString());
        missed(lost.isEmpty() ? QStringLiteral("%1 was closed").arg(channel(index)->name())
                              : QStringLiteral("link lost: %1").arg(lost));
    }
}

void ScriptRunner::onLinkLost(int index, const QString &reason)
{
    writeLine(QStringLiteral("--- link lost on %1: %2 ---").arg(channel(index)->name(), reason));
    m_lossReasons[size_t(index)] = reason;
}

ScriptRunner::Call ScriptRunner::awaitLink(int index)
{
    m_wait = Wait::Link;
    m_waitChannel = index;
    m_results.clear();
    linkChanged(index);
    if (m_wait == Wait::Link)
        return Call::Wait;
    m_wake->stop();
    m_wait = Wait::Nothing;
    return Call::Done;
}

ScriptRunner::Call ScriptRunner::beginExpect(int index, bool alternatives, qint64 ms)
{
    ExpectBuffer &buffer = m_buffers[size_t(index)];
    int refused = -1;
    const QString error = buffer.expect(m_queries, &refused);
    if (!error.isEmpty()) {
        m_apiError = (alternatives && refused >= 0
                          ? QStringLiteral("alternative %1: %2").arg(refused + 1).arg(error)
                          : error)
                         .toUtf8();
        return Call::Fail;
    }
    m_alternatives = alternatives;
    m_waitingFor = QStringLiteral("expect ") + describeQueries(m_queries);
    m_wait = Wait::Expect;
    return awaitMatch(index, ms);
}

ScriptRunner::Call ScriptRunner::beginReadline(int index, qint64 ms)
{
    m_buffers[size_t(index)].expectLine();
    m_waitingFor = QStringLiteral("readline");
    m_wait = Wait::Line;
    return awaitMatch(index, ms);
}

ScriptRunner::Call ScriptRunner::awaitMatch(int index, qint64 ms)
{
    const Wait waiting = m_wait;
    m_waitChannel = index;
    m_waitMs = ms;
    m_results.clear();
    lookForMatch();
    if (m_wait != waiting) {
        // Found in what had arrived already: no need to wait for the event loop.
        m_wake->stop();
        m_wait = Wait::Nothing;
        return m_apiError.isEmpty() ? Call::Done : Call::Fail;
    }
    m_deadline->start(int(ms));
    return Call::Wait;
}

ScriptRunner::Call ScriptRunner::beginConnect(int index, const char *host, const char *port)
{
    const QString address = host ? QString::fromUtf8(host) : m_defaultHost;
    const quint16 number = portFromText(port ? QString::fromUtf8(port) : m_defaultPort);
    if (number == 0)
        return answer(false, windowText("The port must be a number from 1 to 65535."));
    m_network[size_t(index) - 1]->connectTo(address, number);
    return awaitLink(index);
}

ScriptRunner::Call ScriptRunner::beginSleep(qint64 ms)
{
    m_wait = Wait::Sleep;
    m_results.clear();
    m_deadline->start(int(ms));
    return Call::Wait;
}

ScriptRunner::Call ScriptRunner::sendOn(int index, const char *text, size_t size, bool hex)
{
    Channel *target = channel(index);
    // What the device sent before this command is logged before it.
    if (target == m_serial)
        m_serial->endBlock();
    QString why;
    return answer(target->send(QString::fromUtf8(text, int(size)), &why,
                               hex ? std::optional<bool>(true) : std::nullopt),
                  why);
}

int ScriptRunner::pushResults(lua_State *lua)
{
    const QVariantList results = std::exchange(m_results, {});
    luaL_checkstack(lua, int(results.size()), nullptr);
    for (const QVariant &value : results) {
        switch (value.userType()) {
        case QMetaType::Bool:
            lua_pushboolean(lua, value.toBool());
            break;
        case QMetaType::LongLong:
            lua_pushinteger(lua, value.toLongLong());
            break;
        case QMetaType::QVariantMap: {
            // A table of flags: the control lines.
            const QVariantMap map = value.toMap();
            lua_createtable(lua, 0, int(map.size()));
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                lua_pushboolean(lua, it.value().toBool());
                lua_setfield(lua, -2, it.key().toUtf8().constData());
            }
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            lua_pushlstring(lua, bytes.constData(), size_t(bytes.size()));
            break;
        }
        case QMetaType::QString:
            lua_pushstring(lua, value.toString().toUtf8().constData());
            break;
        default:
            lua_pushnil(lua);
        }
    }
    return int(results.size());
}

ScriptRunner::Call ScriptRunner::answer(bool done, const QString &why)
{
    m_results = done ? QVariantList { true } : QVariantList { false, why };
    return Call::Done;
}

ScriptRunner::Call ScriptRunner::openSerial()
{
    QString why;
    if (!m_serial->open(&why))
        return answer(false, why);
    return awaitLink(0);
}

ScriptRunner::Call ScriptRunner::closeLink(int index)
{
    channel(index)->closeLink();
    m_results = { true };
    return Call::Done;
}

ScriptRunner::Call ScriptRunner::setLine(bool dtr, bool on)
{
    QString why;
    return answer(m_serial->setControlLine(dtr, on, &why), why);
}

ScriptRunner::Call ScriptRunner::readLines()
{
    QSerialPort::PinoutSignals lines;
    QString why;
    if (!m_serial->lines(&lines, &why)) {
        m_results = { QVariant(), why };
        return Call::Done;
    }
    const QVariantMap table {
        { QStringLiteral("cts"), bool(lines & QSerialPort::ClearToSendSignal) },
        { QStringLiteral("dsr"), bool(lines & QSerialPort::DataSetReadySignal) },
        { QStringLiteral("dcd"), bool(lines & QSerialPort::DataCarrierDetectSignal) },
        { QStringLiteral("ri"), bool(lines & QSerialPort::RingIndicatorSignal) },
    };
    m_results = { table };
    return Call::Done;
}

ScriptRunner::Call ScriptRunner::beginBreak(int ms)
{
    QString why;
    if (!m_serial->sendBreak(ms, &why))
        return answer(false, why);
    // The script goes on once the break is over; the sleep hands the answer back.
    beginSleep(ms);
    m_results = { true };
    return Call::Wait;
}

ScriptRunner::Call ScriptRunner::channelName(int index)
{
    m_results = { channel(index)->name() };
    return Call::Done;
}
