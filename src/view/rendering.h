#pragma once

#include <QByteArray>
#include <QString>

// Pure text transformations shared by the channels. They take whatever a device or peer sends
// and must hold up against any byte sequence.

// Two upper-case hex digits and a space per byte: 3 characters per byte, no line break.
QString hexRendering(const QByteArray &bytes);

// The serial view's hex rendering: a line feed byte keeps its pair and ends the line ("0A" and a
// line break), since a serial device's replies are lines; every other byte as in hexRendering.
QString serialHexRendering(const QByteArray &bytes);

// The bytes decoded as UTF-8 (malformed input becomes U+FFFD), each zero byte shown as U+2400,
// the symbol for NUL, so that nothing after it is lost.
QString textRendering(const QByteArray &bytes);

// How many bytes at the end of `bytes` start a UTF-8 sequence that the next bytes would complete
// (0 to 3).
int incompleteUtf8Tail(const QByteArray &bytes);

// Text rendering of a channel's arrivals one after another: a character whose bytes are split
// between two arrivals (a read limit or a block size can cut anywhere) is shown whole, with the
// later arrival.
class ReceivedText {
public:
    QString render(const QByteArray &bytes);
    // What is still waiting for the rest of its character, shown as U+FFFD since the rest will
    // not come (the mode changes, the view is cleared, the link closes); empty when nothing is.
    QString takeIncomplete();

private:
    QByteArray m_incomplete;
};

// What the serial view shows for a piece of traffic text, tidied as a terminal would show it: an
// optional line break is added, and doubled carriage returns and backspace-space-backspace
// erasures are dropped. Only the view is tidied; the serial log keeps every byte.
QString serialCleanup(QString text, bool lineBreak);

// The bytes a command line's text stands for. Outside hex mode: the text in the local 8-bit
// encoding plus the line end (a line feed unless the channel was told otherwise). In hex mode:
// pairs of hex digits, separated or not by spaces, tabs, commas, colons or dashes, and bytes
// written as 0x41 (one or two digits after 0x or 0X). A command with any other character, no digit,
// or a digit without a partner gives no bytes and says why in `problem`: half a command, or a guess
// at one, is never sent.
QByteArray encodeCommand(const QString &text, bool hexMode, QString *problem = nullptr,
                         const QByteArray &lineEnd = QByteArrayLiteral("\n"));

// A view lays out a whole paragraph again on every insertion into it, so a peer that never sends
// a line break would make each append slower than the last. The views therefore start a new
// paragraph once one reaches this length; the logs keep the exact text.
constexpr int maxDisplayParagraph = 4096;
// Past maxDisplayParagraph, how long a break waits for a space before it is made anyway.
constexpr int displayBreakGrace = 16;

// The text as a view shows it when inserted into a paragraph that already holds `column`
// characters: a line break is added wherever a paragraph reaches maxDisplayParagraph, right
// after a space where one comes soon (so hex pairs stay whole), never inside a surrogate pair.
QString withDisplayBreaks(const QString &text, int column);

// Where the part of `text` starts that a view holding at most `maxBlocks` paragraphs keeps when
// the text is added at its end: 0 when fewer than `maxBlocks` paragraph breaks follow, else the
// position after the break that starts the first surviving paragraph.
int survivingTailStart(const QString &text, int maxBlocks);

// Characters that end a paragraph when plain text is inserted into a view (a CR LF pair inserted
// together ends just one).
inline bool isParagraphBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator
        || c.unicode() == 0xfdd0 || c.unicode() == 0xfdd1;
}
