#include "channellog.h"

#include <QDir>
#include <QFile>

ChannelLog::ChannelLog(Clock clock)
    : m_clock(std::move(clock))
{
}

ChannelLog::~ChannelLog() = default;

QString ChannelLog::folderPath()
{
    return QDir::homePath() + QStringLiteral("/Documents/TeskManager");
}

QDateTime ChannelLog::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

QString ChannelLog::stamp() const
{
    return now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

QString ChannelLog::runPrefix(const QString &folder, const QStringList &suffixes,
                              const QDateTime &started)
{
    const QString stamp = started.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    for (int attempt = 1;; ++attempt) {
        QString prefix = QDir(folder).absolutePath() + QLatin1Char('/') + stamp;
        if (attempt > 1)
            prefix += QLatin1Char('_') + QString::number(attempt);
        bool free = true;
        for (const QString &suffix : suffixes)
            free = free && !QFile::exists(prefix + suffix);
        if (free)
            return prefix;
    }
}

bool ChannelLog::open(const QString &path)
{
    m_file = std::make_unique<QFile>(path);
    m_reported = false;
    // NewOnly: a file that appeared since its name was chosen is never truncated.
    // Unbuffered: every append is flushed at once anyway, and a buffer would keep growing with
    // text that a full disk refuses.
    return m_file->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly
                        | QIODevice::Unbuffered);
}

void ChannelLog::reportError()
{
    if (m_reported || !m_file)
        return;
    m_reported = true;
    if (m_reporter)
        m_reporter(m_file->fileName(), m_file->errorString());
}

void ChannelLog::write(const QString &text)
{
    // A log that could not be opened has been reported already; writing to it would only
    // produce a warning per append.
    if (!m_file || !m_file->isOpen())
        return;
    const QByteArray bytes = text.toLocal8Bit();
    if (m_gap.lostBytes > 0 && !writeGapNote()) {
        m_gap.lostBytes += bytes.size();
        return;
    }
    writeBytes(bytes);
}

bool ChannelLog::writeBytes(const QByteArray &bytes)
{
    // Encoded as a text stream on the file would, but written here: a disk that fills up (or a
    // file size limit) takes the start of a write and refuses the rest without saying why, and
    // only a second attempt at the rest yields the reason the user is shown.
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = m_file->write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            if (m_gap.lostBytes == 0) {
                m_gap.since = now();
                m_gap.reason = m_file->errorString();
            }
            m_gap.lostBytes += bytes.size() - done;
            reportError();
            return false;
        }
        done += written;
        m_lineOpen = bytes.at(done - 1) != '\n';
    }
    return true;
}

bool ChannelLog::writeGapNote()
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QString note
        = QStringLiteral("%1--- %2 bytes of traffic from %3 to %4 could not be "
                         "logged: %5 ---\n")
              .arg(m_lineOpen ? QStringLiteral("\n") : QString())
              .arg(m_gap.lostBytes)
              .arg(m_gap.since.toString(format), now().toString(format), m_gap.reason);
    const Gap gap = m_gap;
    m_gap = {};
    if (writeBytes(note.toLocal8Bit()))
        return true;
    // The note itself did not fit: the gap goes on, as wide as it was.
    m_gap = gap;
    return false;
}

void ChannelLog::keep()
{
    if (m_file)
        m_file->close();
}

void ChannelLog::discard()
{
    // Never delete a file that this run did not create.
    if (m_file && m_file->isOpen())
        m_file->remove();
}
