#include "rendering.h"

QString serialCleanup(QString text, bool lineBreak)
{
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

QString withDisplayBreaks(const QString &text, int column)
{
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
    // Copied a stretch at a time: a flood passes megabytes through here.
    int copied = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (run >= maxDisplayParagraph && !isParagraphBreak(c) && !c.isLowSurrogate()) {
            // What precedes the text is already in the view; a break right at its start is fine.
            const QChar previous = i > 0 ? text.at(i - 1) : QLatin1Char(' ');
            if (previous == QLatin1Char(' ') || run >= maxDisplayParagraph + displayBreakGrace) {
                out.append(text.constData() + copied, i - copied);
                out.append(QLatin1Char('\n'));
                copied = i;
                run = 0;
            }
        }
        run = isParagraphBreak(c) ? 0 : run + 1;
    }
    out.append(text.constData() + copied, text.size() - copied);
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
