#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

// A Lua 5.4 pattern, matched exactly as string.find matches it, with one thing more: an attempt
// that fails says whether it looked past the last byte of the subject. Only such an attempt can
// succeed once more bytes arrive, so a search over a growing subject need not look at the others
// again.
class LuaPattern {
public:
    // What a capture holds: bytes of the subject, or the 1-based position "()" stands for.
    struct Capture {
        qsizetype start = 0;
        qsizetype length = 0;
        bool position = false;
    };

    // `anchorable`: a leading '^' anchors the pattern, as it does at the start of a pattern Lua
    // is given (elsewhere it is a plain character).
    explicit LuaPattern(const QByteArray &pattern, bool anchorable = true);

    // Empty when the pattern is well formed; what Lua says about it otherwise. Lua finds some
    // mistakes only when a match gets to them; here every mistake is found at once.
    QString error() const { return m_error; }
    bool anchored() const { return m_anchored; }
    // The byte every match starts with, when the pattern tells one (it begins with a plain
    // character that must be there); -1 otherwise. A search skips to it.
    int firstByte() const { return m_firstByte; }
    // Whether a match may start with this byte; false only where the first item of the pattern
    // rules the byte out (a class or a set that must be there). A search skips such bytes.
    bool canStart(char byte) const { return m_starts[static_cast<unsigned char>(byte)]; }

    // Tries a match starting at `start` (0 to size) of the subject. The end of the match, or -1
    // when there is none, with `reachedEnd` set when the attempt looked past the last byte, and
    // `tooComplex` when it gave up as Lua would ("pattern too complex").
    struct Attempt {
        qsizetype end = -1;
        bool reachedEnd = false;
        bool tooComplex = false;
        QVector<Capture> captures;
    };
    Attempt attempt(const char *subject, qsizetype size, qsizetype start) const;

private:
    QString validate() const;
    int findFirstByte() const;
    void findStarts();
    const char *classEnd(const char *p, QString *error) const;

    QByteArray m_pattern; // without the anchor
    bool m_anchored = false;
    int m_firstByte = -1;
    std::array<bool, 256> m_starts;
    QString m_error;
};
