#pragma once

#include <QByteArray>
#include <QString>

// Pure text transformations shared by the channels. They take whatever a device or peer sends
// and must hold up against any byte sequence.

// Two upper-case hex digits and a space per byte: 3 characters per byte, no line break.
QString hexRendering(const QByteArray &bytes);

// The bytes up to the first zero byte, decoded as UTF-8 (malformed input becomes U+FFFD).
QString textRendering(const QByteArray &bytes);

// What the serial view shows for a piece of traffic text: each "0A " (a rendered line feed
// byte) becomes a line break, an optional line break is added, and terminal noise is dropped:
// doubled carriage returns and backspace-space-backspace erasures.
QString serialCleanup(QString text, bool lineBreak);

// The bytes a command line's text stands for: in hex mode the hex digit pairs of the trimmed
// text (anything else is skipped), otherwise the text in the local 8-bit encoding plus a line
// feed.
QByteArray encodeCommand(const QString &text, bool hexMode);
