#pragma once

#include "luapattern.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

// What a channel received while a script runs, for the script's expect and readline: the bytes
// since the last match, of which at most the last 1 MiB is kept. A search looks at what arrived
// since its previous look and at the few places where a match could still begin, never at the
// whole buffer again, so that matching never slows the intake.
class ExpectBuffer {
public:
    static constexpr qsizetype capacity = 1024 * 1024;
    // How much of what arrived a failed expect tells: enough for a few answers of a device.
    static constexpr qsizetype contextSize = 200;

    // Plain text, or a Lua pattern, as string.find takes them.
    struct Query {
        QByteArray text;
        bool pattern = false;
    };
    // The bytes up to the end of the match (the match included), and the pattern's captures:
    // QByteArray, or a qint64 1-based position for "()". For a line, the line without its end.
    struct Match {
        QByteArray text;
        QVariantList captures;
        int alternative = 0; // the index of the query that matched, from 0
    };

    ExpectBuffer();
    ~ExpectBuffer();

    void append(const QByteArray &bytes);
    // Forgets what arrived and was not matched yet.
    void discard();
    QByteArray unmatched() const { return m_bytes.mid(m_start); }
    // The last of the bytes not matched yet, at most contextSize: what arrived instead of what a
    // failed expect waited for.
    QByteArray recent() const;

    // Starts looking for the query; empty, or Lua's words for a pattern that is malformed.
    QString expect(const Query &query);
    // Starts looking for any of the queries. At each look every query is matched as string.find
    // would match it in what is kept; of those that match, the one whose match ends first wins,
    // the earlier query on a tie, so that what a device sent first decides. Empty, or Lua's words
    // for the first malformed pattern, whose index goes to `refused`.
    QString expect(const QVector<Query> &alternatives, int *refused = nullptr);
    // Starts looking for the next line. A line ends at a line feed, and the carriage returns just
    // before it belong to its end: "\n", "\r\n" and a modem's "\r\r\n" all end one. A carriage
    // return anywhere else is a byte of the line, so that a line never ends on a guess about
    // what the next byte will be.
    void expectLine();
    // Looks at what is new since the last look. A match takes what it returns out of the
    // buffer, with the line's end for a line, and ends the search.
    std::optional<Match> match();
    // Ends the search without a match; what arrived stays.
    void cancel();
    bool expecting() const { return !m_searches.empty() || m_line; }
    // The last look gave up on a pattern as Lua would ("pattern too complex").
    bool tooComplex() const { return m_tooComplex; }

private:
    // The state of one query's search.
    struct Search {
        Query query;
        std::unique_ptr<LuaPattern> pattern;
        // A pattern that starts with ".-" or "(.-)" matches from the first byte kept as soon as
        // the rest of it matches anywhere: only the rest is looked for.
        std::unique_ptr<LuaPattern> rest;
        bool lazyCapture = false;
        qsizetype scanned = 0; // the first start position never tried
        QVector<qsizetype> open; // start positions whose attempt looked past the end
    };
    // A match a search found in this look: where it ends, and what the pattern captured.
    struct Hit {
        qsizetype end = -1;
        LuaPattern::Attempt attempt;
        bool pattern = false;
    };

    qsizetype held() const { return m_bytes.size(); }
    // The leftmost match of the search that starts no later than `last`.
    std::optional<Hit> find(Search &search, qsizetype last);
    std::optional<qsizetype> findText(Search &search, qsizetype last);
    // The start of the leftmost match of `pattern`, with its attempt; positions before
    // `scanned` are tried again only where an attempt looked past the end.
    std::optional<qsizetype> findPattern(Search &search, const LuaPattern &pattern, qsizetype last,
                                         LuaPattern::Attempt *found);
    std::optional<Match> findLine();
    // Returns the bytes up to `end` with the captures and drops them from the buffer.
    Match take(qsizetype end, const LuaPattern::Attempt *found);

    // What is kept starts at m_start; the bytes before it are dropped in bulk, now and then.
    QByteArray m_bytes;
    qsizetype m_start = 0;
    std::vector<Search> m_searches;
    bool m_line = false;
    qsizetype m_lineScanned = 0; // no line feed before it
    bool m_tooComplex = false;
};

// Bytes as a Lua (and YAML) double-quoted string holds them, without the quotes: printable ASCII
// as it is, "\r", "\n", "\t", "\\" and "\"" escaped, every other byte as "\xHH".
QString escapedBytes(const QByteArray &bytes);
// What an expect waits for, as its failure tells it: `"OK" or pattern "%+CME ERROR: (%d+)"`.
QString describeQueries(const QVector<ExpectBuffer::Query> &queries);
