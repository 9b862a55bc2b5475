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
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end);
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

QByteArray encodeCommand(const QString &text, bool hexMode)
{
    if (hexMode)
        return QByteArray::fromHex(text.trimmed().toLocal8Bit());
    return text.toLocal8Bit() + '\n';
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
