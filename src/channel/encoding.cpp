#include "encoding.h"

namespace {

QString hexPairs(const QByteArray &bytes, bool breakAfterLineFeed)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out(bytes.size() * 3, Qt::Uninitialized);
    QChar *p = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *p++ = QLatin1Char(digits[b >> 4]);
        *p++ = QLatin1Char(digits[b & 0x0f]);
        *p++ = QLatin1Char(breakAfterLineFeed && b == '\n' ? '\n' : ' ');
    }
    return out;
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

bool isHexSeparator(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == ',' || u == ':' || u == '-';
}

} // namespace

QString hexRendering(const QByteArray &bytes)
{
    return hexPairs(bytes, false);
}

QString serialHexRendering(const QByteArray &bytes)
{
    return hexPairs(bytes, true);
}

QString textRendering(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes.constData(), bytes.size());
    text.replace(QChar(0), QChar(0x2400));
    return text;
}

int incompleteUtf8Tail(const QByteArray &bytes)
{
    // Look back over at most three continuation bytes for the byte that starts the sequence.
    const int size = bytes.size();
    for (int start = size - 1; start >= qMax(0, size - 4); --start) {
        const auto byte = static_cast<unsigned char>(bytes.at(start));
        if ((byte & 0xC0) == 0x80)
            continue;
        const int length = byte >= 0xC2 && byte <= 0xDF ? 2
            : (byte & 0xF0) == 0xE0                     ? 3
            : byte >= 0xF0 && byte <= 0xF4              ? 4
                                                        : 1;
        return size - start < length ? size - start : 0;
    }
    return 0;
}

QString ReceivedText::render(const QByteArray &bytes)
{
    QByteArray all = m_incomplete + bytes;
    const int tail = incompleteUtf8Tail(all);
    m_incomplete = all.right(tail);
    all.chop(tail);
    return textRendering(all);
}

QString ReceivedText::takeIncomplete()
{
    if (m_incomplete.isEmpty())
        return {};
    m_incomplete.clear();
    return QString(QChar::ReplacementCharacter);
}

namespace {

// The byte written as 0x41 (or 0X4) at `at`: appended, or why not; where its word ends.
int prefixedByte(const QString &text, int at, int loneDigitAt, QByteArray &bytes, QString &why)
{
    int end = at + 2;
    while (end < text.size() && isHexDigit(text.at(end)))
        ++end;
    const QString word = text.mid(at, end - at);
    if (end == at + 2)
        why = QStringLiteral("%1 at position %2 has no hexadecimal digit after it")
                  .arg(word)
                  .arg(at + 1);
    else if (end > at + 4)
        why = QStringLiteral("%1 at position %2 has more than two hexadecimal digits for one byte")
                  .arg(word)
                  .arg(at + 1);
    else if (loneDigitAt >= 0)
        why = QStringLiteral("the hexadecimal digit at position %1 has no partner before %2 at "
                             "position %3")
                  .arg(loneDigitAt + 1)
                  .arg(word)
                  .arg(at + 1);
    else
        bytes.append(char(word.mid(2).toUInt(nullptr, 16)));
    return end;
}

QByteArray hexCommandBytes(const QString &text, QString &why)
{
    QByteArray bytes;
    int plainDigits = 0;
    int loneDigitAt = -1; // where a digit waits for its partner
    const int size = text.size();
    for (int i = 0; i < size && why.isEmpty();) {
        const QChar c = text.at(i);
        if (isHexSeparator(c)) {
            ++i;
        } else if ((i == 0 || isHexSeparator(text.at(i - 1))) && c == QLatin1Char('0')
                   && i + 1 < size && text.at(i + 1).toLower() == QLatin1Char('x')) {
            // A character glued to the byte is looked at next, and refused there.
            i = prefixedByte(text, i, loneDigitAt, bytes, why);
        } else if (isHexDigit(c)) {
            ++plainDigits;
            if (loneDigitAt < 0) {
                loneDigitAt = i;
            } else {
                bytes.append(char(text.mid(loneDigitAt, 1).append(c).toUInt(nullptr, 16)));
                loneDigitAt = -1;
            }
            ++i;
        } else {
            why = QStringLiteral("the command holds '%1' at position %2, which is neither a "
                                 "hexadecimal digit nor a separator")
                      .arg(text.mid(i, c.isHighSurrogate() ? 2 : 1))
                      .arg(i + 1);
        }
    }
    if (why.isEmpty() && loneDigitAt >= 0)
        why = QStringLiteral("the command holds an odd number of hexadecimal digits (%1), and "
                             "every byte needs two")
                  .arg(plainDigits);
    if (why.isEmpty() && bytes.isEmpty())
        why = QStringLiteral("the command holds no hexadecimal digit");
    return bytes;
}

} // namespace

QByteArray encodeCommand(const QString &text, bool hexMode, QString *problem,
                         const QByteArray &lineEnd)
{
    if (!hexMode)
        return text.toLocal8Bit() + lineEnd;
    QString why;
    const QByteArray bytes = hexCommandBytes(text, why);
    if (problem)
        *problem = why;
    return why.isEmpty() ? bytes : QByteArray();
}
