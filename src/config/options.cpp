#include "options.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>

std::optional<qint64> decimalFromText(const QString &digits)
{
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

std::optional<LineEnding> lineEndingFromText(const QString &text)
{
    return wordFromText<LineEnding>(text,
                                    { { "lf", LineEnding::LF },
                                      { "cr", LineEnding::CR },
                                      { "crlf", LineEnding::CRLF },
                                      { "none", LineEnding::None } });
}

QByteArray lineEndingBytes(LineEnding ending)
{
    switch (ending) {
    case LineEnding::LF:
        return QByteArrayLiteral("\n");
    case LineEnding::CR:
        return QByteArrayLiteral("\r");
    case LineEnding::CRLF:
        return QByteArrayLiteral("\r\n");
    case LineEnding::None:
        break;
    }
    return {};
}

std::optional<Timestamps> timestampsFromText(const QString &text)
{
    return wordFromText<Timestamps>(
        text,
        { { "off", Timestamps::Off }, { "log", Timestamps::Log }, { "view", Timestamps::View } });
}

std::optional<bool> switchFromText(const QString &text)
{
    return wordFromText<bool>(text, { { "on", true }, { "off", false } });
}

std::optional<qint32> baudRateFromText(const QString &text)
{
    const std::optional<qint64> rate = decimalFromText(text.trimmed());
    return rate && *rate > 0 && *rate <= std::numeric_limits<qint32>::max()
        ? std::optional<qint32>(qint32(*rate))
        : std::nullopt;
}

std::optional<qint64> durationFromText(const QString &text)
{
    QString number = text.trimmed().toLower();
    qint64 unitMs = 1000;
    if (number.endsWith(QLatin1Char('h')))
        unitMs = 3600 * 1000;
    else if (number.endsWith(QLatin1Char('m')))
        unitMs = 60 * 1000;
    if (number.endsWith(QLatin1Char('h')) || number.endsWith(QLatin1Char('m'))
        || number.endsWith(QLatin1Char('s')))
        number.chop(1);
    const std::optional<qint64> count = decimalFromText(number);
    // A week is far beyond any bench run, and keeps the milliseconds well within a timer's reach.
    if (!count || *count <= 0 || *count > qint64(7) * 24 * 3600 * 1000 / unitMs)
        return std::nullopt;
    return *count * unitMs;
}

quint16 portFromText(const QString &text)
{
    const std::optional<qint64> port = decimalFromText(text.trimmed());
    return port && *port >= 1 && *port <= 65535 ? quint16(*port) : 0;
}

QList<int> channelsFromText(const QString &text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("all"))
        return { 0, 1, 2, 3 };
    if (word == QLatin1String("serial"))
        return { 0 };
    for (int n = 1; n < channelCount; ++n)
        if (word == QString::number(n))
            return { n };
    return {};
}

QString logFolderProblem(const QString &path)
{
    // Made a level at a time, so that the level that cannot be made tells why.
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    QString level;
    for (const QString &name : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        level += QLatin1Char('/') + name;
        if (QFileInfo(level).isDir())
            continue;
        if (::mkdir(QFile::encodeName(level).constData(), 0777) != 0)
            return QStringLiteral("cannot be made: %1")
                .arg(QString::fromLocal8Bit(std::strerror(errno == EEXIST ? ENOTDIR : errno)));
    }
    QTemporaryFile probe(folder + QStringLiteral("/.teskmanager-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot be written: %1").arg(probe.errorString());
    return {};
}

void RunOptions::overrideWith(const RunOptions &other)
{
    for (int i = 0; i < channelCount; ++i)
        if (other.lineEndings[i])
            lineEndings[i] = other.lineEndings[i];
    if (other.timestamps)
        timestamps = other.timestamps;
    if (other.dtr)
        dtr = other.dtr;
    if (other.rts)
        rts = other.rts;
    if (other.baudRate)
        baudRate = other.baudRate;
    if (other.reconnect)
        reconnect = other.reconnect;
}
