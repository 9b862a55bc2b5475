#pragma once

#include "channellog.h"
#include "options.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <array>

class Channel;
class NetworkChannel;
class ScriptSuite;
class SerialChannel;

// One run of the program: its four channels (the serial channel, then the three network
// channels), their logs and the script of --script. A window shows it; a run without a window
// drives it alone. It knows no widget.
class Session : public QObject {
    Q_OBJECT

public:
    // The clock dates the run's logs and stamps (tests pass a fixed one).
    explicit Session(ChannelLog::Clock clock = {}, QObject *parent = nullptr);
    ~Session() override;

    SerialChannel &serial() const { return *m_serial; }
    // Network channel 1, 2 or 3.
    NetworkChannel &network(int number) const { return *m_network[size_t(number) - 1]; }
    // 0 the serial channel, 1 to 3 the network channels.
    Channel &channel(int index) const { return *m_channels[size_t(index)]; }
    const std::array<Channel *, channelCount> &channels() const { return m_channels; }
    const ChannelLog::Clock &clock() const { return m_clock; }

    // What every channel of the run is told: line endings, stamps, reconnection, control lines.
    void configure(const RunOptions &options);

    // The scripts of the run as the command line gives them (its scripts, their arguments and
    // time limit, the report), each with its log among the run's; null before.
    ScriptSuite *makeScripts(const RunOptions &options);
    ScriptSuite *script() const { return m_script; }
    // The scripts' checks as TAP on standard output as they happen, the run's summary on
    // standard error.
    void reportScriptsOnConsole();
    // Starts the scripts once no link is opening any more (at most 15 s from now).
    void startScriptWhenLinksSettle();
    // 0 unless a script ran: then its verdict (0 passed, 1 a check failed, 3 an error).
    int exitStatus() const;

    // The run's logs, each with the end of its file name: the four channels', then the script's.
    QList<QPair<QString, ChannelLog *>> logs() const;
    // Creates every log of the run in the folder, made if missing; false when one could not be,
    // which that log has reported.
    bool createLogs(const QString &folder);
    // At exit: the periodic sends stop before any link closes, and the links close, taking in
    // what they still hold, before any log does; then the logs are kept or removed.
    void shutDown(bool keepLogs);

private:
    ChannelLog::Clock m_clock;
    SerialChannel *m_serial;
    std::array<NetworkChannel *, 3> m_network {};
    std::array<Channel *, channelCount> m_channels {};
    ScriptSuite *m_script = nullptr;
};
