#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// A view shows a carriage return, alone or before a line feed, as one paragraph break; the log
// keeps the character.
inline QString shownAs(QString logged)
{
    return logged.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// What the hex mode shows for these bytes: two upper-case digits and a space per byte.
inline QString hexOf(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes)
        text += QStringLiteral("%1 ").arg(uint(uchar(c)), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

// What the ASCII mode shows for these bytes when none of them is part of a valid UTF-8
// sequence: ASCII passes unchanged, a zero byte shows as the NUL symbol, every byte from 80 on
// as one replacement character (never as some other character), and nothing is lost.
inline QString shownAsText(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes)
        text += c == 0        ? QChar(0x2400)
            : uchar(c) < 0x80 ? QChar(uchar(c))
                              : QChar(QChar::ReplacementCharacter);
    return text;
}
