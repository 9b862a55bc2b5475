#pragma once

#include "luapattern.h"

#include <QByteArray>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>

// What a channel received while a script runs, for the script's expect: the bytes since the
// last match, of which at most the last 1 MiB is kept. A search looks at what arrived since its
// previous look and at the few places where a match could still begin, never at the whole
// buffer again, so that matching never slows the intake.
class ExpectBuffer {
public:
    static constexpr qsizetype capacity = 1024 * 1024;

    // Plain text, or a Lua pattern, as string.find takes them.
    struct Query {
        QByteArray text;
        bool pattern = false;
    };
    // The bytes up to the end of the match (the match included), and the pattern's captures:
    // QByteArray, or a qint64 1-based position for "()".
    struct Match {
        QByteArray text;
        QVariantList captures;
    };

    ExpectBuffer();
    ~ExpectBuffer();

    void append(const QByteArray &bytes);
    // Forgets what arrived and was not matched yet.
    void discard();
    QByteArray unmatched() const { return m_bytes.mid(m_start); }

    // Starts looking for the query; empty, or Lua's words for a pattern that is malformed.
    QString expect(const Query &query);
    // Looks at what is new since the last look. A match takes what it returns out of the
    // buffer and ends the search.
    std::optional<Match> match();
    // Ends the search without a match; what arrived stays.
    void cancel();
    bool expecting() const { return bool(m_query); }
    // The last look gave up on a pattern as Lua would ("pattern too complex").
    bool tooComplex() const { return m_tooComplex; }

private:
    qsizetype size() const { return m_bytes.size(); }
    std::optional<qsizetype> findText();
    // The start of the leftmost match of `pattern`, with its attempt; positions before
    // `m_scanned` are tried again only where an attempt looked past the end.
    std::optional<qsizetype> findPattern(const LuaPattern &pattern, LuaPattern::Attempt *found);
    // Returns the bytes up to `end` with the captures and drops them from the buffer.
    Match take(qsizetype end, const LuaPattern::Attempt *found);

    // What is kept starts at m_start; the bytes before it are dropped in bulk, now and then.
    QByteArray m_bytes;
    qsizetype m_start = 0;
    std::optional<Query> m_query;
    std::unique_ptr<LuaPattern> m_pattern;
    // A pattern that starts with ".-" or "(.-)" matches from the first byte kept as soon as the
    // rest of it matches anywhere: only the rest is looked for.
    std::unique_ptr<LuaPattern> m_rest;
    bool m_lazyCapture = false;
    qsizetype m_scanned = 0; // the first start position never tried
    QVector<qsizetype> m_open; // start positions whose attempt looked past the end
    bool m_tooComplex = false;
};
