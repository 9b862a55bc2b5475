#pragma once

#include <QByteArray>
#include <QString>

// How a channel turns the bytes of its link into text and its commands into bytes. They take
// whatever a device or peer sends and must hold up against any byte sequence.

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

// The bytes a command line's text stands for. Outside hex mode: the text in the local 8-bit
// encoding plus the line end (a line feed unless the channel was told otherwise). In hex mode:
// pairs of hex digits, separated or not by spaces, tabs, commas, colons or dashes, and bytes
// written as 0x41 (one or two digits after 0x or 0X). A command with any other character, no digit,
// or a digit without a partner gives no bytes and says why in `problem`: half a command, or a guess
// at one, is never sent.
QByteArray encodeCommand(const QString &text, bool hexMode, QString *problem = nullptr,
                         const QByteArray &lineEnd = QByteArrayLiteral("\n"));
