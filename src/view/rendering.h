#pragma once

#include <QString>

// How a view shows traffic text. They take whatever a device or peer sends and must hold up
// against any text.

// What the serial view shows for a piece of traffic text, tidied as a terminal would show it: an
// optional line break is added, and doubled carriage returns and backspace-space-backspace
// erasures are dropped. Only the view is tidied; the serial log keeps every byte.
QString serialCleanup(QString text, bool lineBreak);

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
