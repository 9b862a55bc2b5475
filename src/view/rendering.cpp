#include "rendering.h"

QString hexRendering(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out(bytes.size() * 3, Qt::Uninitialized);
    QChar *p = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *p++ = QLatin1Char(digits[b >> 4]);
        *p++ = QLatin1Char(digits[b & 0x0f]);
        *p++ = QLatin1Char(' ');
    }
    return out;
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

QString serialCleanup(QString text, bool lineBreak)
{
    text.replace(QLatin1String("0A "), QLatin1String("\n"));
    if (lineBreak)
        text.append(QLatin1Char('\n'));

    // One left-to-right pass can join the remains of two matches into a new one (CR, BS SP BS,
    // CR leaves CR CR), so repeat until neither pattern is left. On plain runs this gives the
    // same result as a single pass: three CRs leave one, four leave none.
    const QString doubleCr = QStringLiteral("\r\r");
    const QString erase = QString::fromLatin1(QByteArray::fromHex("082008"));
    while (text.contains(doubleCr) || text.contains(erase)) {
        text.remove(doubleCr);
        text.remove(erase);
    }
    return text;
}

QByteArray encodeCommand(const QString &text, bool hexMode, QString *problem)
{
    if (!hexMode)
        return text.toLocal8Bit() + '\n';

    int digits = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        digits += (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    }
    QString why;
    if (digits == 0)
        why = QStringLiteral("the command holds no hexadecimal digit");
    else if (digits % 2)
        why = QStringLiteral("the command holds an odd number of hexadecimal digits (%1), and "
                             "every byte needs two")
                  .arg(digits);
    if (problem)
        *problem = why;
    // With an even count, pairing from the right as fromHex does is pairing from the left.
    return why.isEmpty() ? QByteArray::fromHex(text.trimmed().toLocal8Bit()) : QByteArray();
}

QString withDisplayBreaks(const QString &text, int column)
{
    // Past the limit, a break waits this long for a space before it is made anyway.
    constexpr int spaceGrace = 16;

    int run = column;
    int longest = column;
    for (const QChar c : text) {
        run = isParagraphBreak(c) ? 0 : run + 1;
        longest = qMax(longest, run);
    }
    if (longest <= maxDisplayParagraph)
        return text;

    QString out;
    out.reserve(text.size() + text.size() / maxDisplayParagraph + 2);
    run = column;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (run >= maxDisplayParagraph && !isParagraphBreak(c) && !c.isLowSurrogate()) {
            // What precedes the text is already in the view; a break right at its start is fine.
            const QChar previous = i > 0 ? text.at(i - 1) : QLatin1Char(' ');
            if (previous == QLatin1Char(' ') || run >= maxDisplayParagraph + spaceGrace) {
                out.append(QLatin1Char('\n'));
                run = 0;
            }
        }
        out.append(c);
        run = isParagraphBreak(c) ? 0 : run + 1;
    }
    return out;
}

int survivingTailStart(const QString &text, int maxBlocks)
{
    int breaks = 0;
    for (int i = text.size() - 1; i >= 0; --i) {
        if (!isParagraphBreak(text.at(i)))
            continue;
        // A CR LF pair inserted together is one break.
        if (text.at(i) == QLatin1Char('\n') && i > 0 && text.at(i - 1) == QLatin1Char('\r'))
            --i;
        if (++breaks == maxBlocks)
            return i
                + (text.at(i) == QLatin1Char('\r') && i + 1 < text.size()
                           && text.at(i + 1) == QLatin1Char('\n')
                       ? 2
                       : 1);
    }
    return 0;
}
