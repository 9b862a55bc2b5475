#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QVector>

#include <algorithm>

// Reproducible test payloads: the same seed gives the same bytes in every run.

inline QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (int i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

// Characters drawn from `alphabet` only, e.g. text that no clean-up or rendering changes.
inline QByteArray plainText(int size, quint32 seed, const QByteArray &alphabet)
{
    QByteArray text(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char &c : text)
        c = alphabet.at(int(generator.bounded(alphabet.size())));
    return text;
}

// Letters, digits and spaces: text that no clean-up or rendering changes.
inline const QByteArray plainAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789 ";

// Printable ASCII with a line feed after lines of random length, or with none at all.
inline QByteArray randomText(int size, quint32 seed, bool lineBreaks)
{
    QByteArray text(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    int untilBreak = 0;
    for (int i = 0; i < size; ++i) {
        if (lineBreaks && untilBreak-- == 0) {
            text[i] = '\n';
            untilBreak = int(generator.bounded(200));
        } else {
            text[i] = char(' ' + generator.bounded(95));
        }
    }
    return text;
}

// Every byte value once, in the orders that matter to the renderings: a zero byte first or
// last, and the line ends either way round.
struct ByteValueRow {
    const char *tag;
    bool hex;
    QByteArray bytes;
};
inline QVector<ByteValueRow> everyByteValueRows()
{
    QByteArray ascending;
    for (int i = 0; i < 256; ++i)
        ascending += char(i);
    QByteArray descending = ascending;
    std::reverse(descending.begin(), descending.end());
    return { { "hex, 00 to FF", true, ascending },
             { "hex, FF to 00", true, descending },
             { "ASCII, 00 first shows as the NUL symbol", false, ascending },
             { "ASCII, 01 to FF then 00", false, ascending.mid(1) + '\0' },
             { "ASCII, FF to 00", false, descending } };
}

// What a channel's log holds when its traffic ends with the loss of its link: the note of the
// loss on a line of its own.
inline QByteArray lossNoted(const QByteArray &traffic, const QByteArray &reason)
{
    const bool lineOpen = !traffic.isEmpty() && !traffic.endsWith('\n');
    return traffic + (lineOpen ? "\n" : "") + "--- link lost: " + reason + " ---\n";
}

// The log up to the note of a lost link at its end, and the line break before it, which the
// traffic or the note may have brought: a prefix of the traffic.
inline QByteArray beforeLossNote(QByteArray log)
{
    const qsizetype note = log.lastIndexOf("--- link lost: ");
    if (note >= 0 && (note == 0 || log.at(note - 1) == '\n')) {
        log.truncate(note);
        if (log.endsWith('\n'))
            log.chop(1);
    }
    return log;
}
