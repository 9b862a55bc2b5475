#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QFile;

// One channel's log of a run: a file under ~/Documents/TeskManager that receives exactly the
// text its traffic view gains. A log that cannot be written never stops the view; the user is
// told about its failure once.
class ChannelLog {
public:
    using Clock = std::function<QDateTime()>;
    using ErrorReporter = std::function<void(const QString &fileName, const QString &reason)>;

    // The clock dates the gaps a log notes; an empty one is the real clock.
    explicit ChannelLog(Clock clock = {});
    ~ChannelLog();
    ChannelLog(const ChannelLog &) = delete;
    ChannelLog &operator=(const ChannelLog &) = delete;

    // The folder that every run writes into.
    static QString folderPath();
    // Where a new run's file names start: the folder, the stamp of the run's start, and "_2",
    // "_3", ... when a file of that stamp with one of the suffixes exists already (two runs in
    // one second).
    static QString runPrefix(const QString &folder, const QStringList &suffixes,
                             const QDateTime &started);
    QDateTime now() const;
    // The time a stamped line starts with, "2026-12-08 14:03:07.125".
    QString stamp() const;

    void setErrorReporter(ErrorReporter reporter) { m_reporter = std::move(reporter); }

    // Creates the file; never over an existing one. On failure nothing is reported yet, so that
    // a start-up that fails for every log tells the user once.
    bool open(const QString &path);
    void reportError();
    // Writes all of the text or reports why it could not. What could not be written is told in
    // a line of its own once writing works again, so that a gap never passes for a join.
    void write(const QString &text);
    // Whether the last text written ended without a line feed.
    bool lineOpen() const { return m_lineOpen; }
    // At exit: the file stays, or is removed when this run created it.
    void keep();
    void discard();

private:
    // Writes as much as the file takes; false, with the rest counted as lost, when it stops.
    bool writeBytes(const QByteArray &bytes);
    bool writeGapNote();

    Clock m_clock;
    std::unique_ptr<QFile> m_file;
    ErrorReporter m_reporter;
    bool m_reported = false;
    bool m_lineOpen = false; // the last byte written was not a line feed
    struct Gap {
        qint64 lostBytes = 0;
        QDateTime since;
        QString reason;
    } m_gap;
};
