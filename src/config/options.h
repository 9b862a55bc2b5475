#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

// What a bench may ask of a run beyond the form: each is a key of the settings file and an
// option of the command line (which wins for that run). Unset, the program behaves as the form
// alone says.

// What ends an ASCII command on the wire.
enum class LineEnding { LF, CR, CRLF, None };
// Where lines carry their time and direction.
enum class Timestamps { Off, Log, View };

// The value paired with the word the text is (case aside, spaces around ignored); none for any
// other text. The words are given in lower case.
template<class T>
std::optional<T> wordFromText(const QString &text,
                              std::initializer_list<std::pair<const char *, T>> words)
{
    const QString word = text.trimmed().toLower();
    for (const auto &[name, value] : words)
        if (word == QLatin1String(name))
            return value;
    return std::nullopt;
}
// Digits 0 to 9 and nothing else, not even a sign or a space: the number they write.
std::optional<qint64> decimalFromText(const QString &digits);

std::optional<LineEnding> lineEndingFromText(const QString &text); // LF, CR, CRLF, None
QByteArray lineEndingBytes(LineEnding ending);
std::optional<Timestamps> timestampsFromText(const QString &text); // off, log, view
std::optional<bool> switchFromText(const QString &text); // on, off
std::optional<qint32> baudRateFromText(const QString &text); // a whole number above 0
// A length of time as people write it for a run: 90 or 90s, 15m, 8h; in milliseconds.
std::optional<qint64> durationFromText(const QString &text);
// A TCP port as people type it: decimal digits, white space around them aside, naming a port
// from 1 to 65535; 0 for anything else, which names no port a channel can connect to.
quint16 portFromText(const QString &text);
// The channels a command-line CH names: "serial" is 0, "1" to "3" the network channels, "all"
// every one; empty for anything else.
QList<int> channelsFromText(const QString &text);
// Makes the folder where it is missing and tries a file in it: what keeps logs from being
// written there ("cannot be made: Not a directory", "cannot be written: ..."), or nothing.
QString logFolderProblem(const QString &path);

constexpr int channelCount = 4;

struct RunOptions {
    QStringList serialPorts; // listed after the found ports; the first is selected
    std::array<std::optional<LineEnding>, channelCount> lineEndings;
    std::optional<Timestamps> timestamps;
    std::optional<bool> dtr;
    std::optional<bool> rts;
    std::optional<qint32> baudRate;

    // An unattended run: links opened at start, lost ones recovered, an end on time.
    bool openSerial = false;
    std::optional<QString> host;
    std::optional<QString> port;
    QList<int> connect; // network channels 1 to 3
    std::array<std::optional<QString>, channelCount> commands;
    std::array<std::optional<bool>, channelCount> hexModes;
    std::array<std::optional<int>, channelCount> periodsMs; // and start the periodic send
    std::optional<bool> reconnect;
    QString logDir;
    std::optional<bool> keepLogs; // the answer to the question at exit, given ahead
    std::optional<qint64> quitAfterMs;

    // Scripted tests: the scripts, each as read when the command line was, in the order they run;
    // what they are given; how long each may take; where the one JUnit report goes, and whether
    // the window closes when they have ended.
    struct Script {
        QString path;
        QByteArray source;
    };
    QList<Script> scripts;
    QList<QPair<QString, QString>> scriptArgs;
    qint64 scriptTimeLimitMs = 3600 * 1000;
    QString reportPath;
    bool quitAfterScript = false;
    // The checks as TAP on standard output as they happen: what a program's command line asks.
    bool scriptsOnConsole = false;

    // Nobody is there to answer a box: the run ends on its own, or a script drives it.
    bool unattended() const { return quitAfterMs || quitAfterScript || !scripts.isEmpty(); }

    // The other's settings where it has them.
    void overrideWith(const RunOptions &other);
};
