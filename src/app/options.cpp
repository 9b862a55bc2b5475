#include "options.h"

std::optional<LineEnding> lineEndingFromText(const QString &text)
{
    const QString word = text.trimmed().toUpper();
    if (word == QLatin1String("LF"))
        return LineEnding::LF;
    if (word == QLatin1String("CR"))
        return LineEnding::CR;
    if (word == QLatin1String("CRLF"))
        return LineEnding::CRLF;
    if (word == QLatin1String("NONE"))
        return LineEnding::None;
    return std::nullopt;
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
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("off"))
        return Timestamps::Off;
    if (word == QLatin1String("log"))
        return Timestamps::Log;
    if (word == QLatin1String("view"))
        return Timestamps::View;
    return std::nullopt;
}

std::optional<bool> switchFromText(const QString &text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("on"))
        return true;
    if (word == QLatin1String("off"))
        return false;
    return std::nullopt;
}

std::optional<qint32> baudRateFromText(const QString &text)
{
    const QString digits = text.trimmed();
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const qint32 rate = digits.toInt(&ok, 10);
    return ok && rate > 0 ? std::optional<qint32>(rate) : std::nullopt;
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
    for (const QChar c : number)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const qint64 count = number.toLongLong(&ok, 10);
    // A week is far beyond any bench run, and keeps the milliseconds well within a timer's reach.
    if (!ok || count <= 0 || count * unitMs > qint64(7) * 24 * 3600 * 1000)
        return std::nullopt;
    return count * unitMs;
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
