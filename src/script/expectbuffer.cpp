#include "expectbuffer.h"

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
// Whether the pattern refers back to a capture (%0 to %9) anywhere.
bool hasBackReference(const QByteArray &pattern)
{
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern.at(i) != '%')
            continue;
        if (pattern.at(i + 1) >= '0' && pattern.at(i + 1) <= '9')
            return true;
        ++i;
    }
    return false;
}
} // namespace

ExpectBuffer::ExpectBuffer() = default;
ExpectBuffer::~ExpectBuffer() = default;

void ExpectBuffer::append(const QByteArray &bytes)
{
    m_bytes.append(bytes);
    const qsizetype excess = held() - m_start - capacity;
    if (excess > 0) {
        // What falls out of the buffer can no longer begin a match.
        m_start += excess;
        for (Search &search : m_searches) {
            search.open.erase(std::remove_if(search.open.begin(), search.open.end(),
                                             [this](qsizetype at) { return at < m_start; }),
                              search.open.end());
            search.scanned = qMax(search.scanned, m_start);
        }
        m_lineScanned = qMax(m_lineScanned, m_start);
    }
    // Dropped bytes leave memory once they outgrow what is kept, so that a flood costs one move
    // per megabyte rather than one per arrival.
    if (m_start > capacity) {
        m_bytes.remove(0, int(m_start));
        for (Search &search : m_searches) {
            for (qsizetype &at : search.open)
                at -= m_start;
            search.scanned -= m_start;
        }
        m_lineScanned -= m_start;
        m_start = 0;
    }
}

void ExpectBuffer::discard()
{
    m_start = held();
    for (Search &search : m_searches) {
        search.open.clear();
        search.scanned = m_start;
    }
    m_lineScanned = m_start;
}

QByteArray ExpectBuffer::recent() const
{
    return m_bytes.mid(int(qMax(m_start, held() - contextSize)));
}

QString ExpectBuffer::expect(const Query &query)
{
    return expect(QVector<Query> { query });
}

QString ExpectBuffer::expect(const QVector<Query> &alternatives, int *refused)
{
    cancel();
    if (alternatives.isEmpty())
        return QStringLiteral("nothing to expect");
    std::vector<Search> searches(size_t(alternatives.size()));
    for (int i = 0; i < alternatives.size(); ++i) {
        Search &search = searches[size_t(i)];
        search.query = alternatives.at(i);
        search.scanned = m_start;
        if (!search.query.pattern)
            continue;
        search.pattern = std::make_unique<LuaPattern>(search.query.text);
        if (!search.pattern->error().isEmpty()) {
            if (refused)
                *refused = i;
            return search.pattern->error();
        }
        const QByteArray body = search.query.text.mid(search.pattern->anchored() ? 1 : 0);
        const int prefix = body.startsWith("(.-)") ? 4 : body.startsWith(".-") ? 2 : 0;
        if (prefix && !hasBackReference(body)) {
            search.rest = std::make_unique<LuaPattern>(body.mid(prefix), false);
            search.lazyCapture = prefix == 4;
        }
    }
    m_searches = std::move(searches);
    return {};
}

void ExpectBuffer::expectLine()
{
    cancel();
    m_line = true;
}

void ExpectBuffer::cancel()
{
    m_searches.clear();
    m_line = false;
    m_lineScanned = m_start;
    m_tooComplex = false;
}

std::optional<ExpectBuffer::Match> ExpectBuffer::match()
{
    m_tooComplex = false;
    if (m_line)
        return findLine();
    std::optional<Hit> best;
    int winner = -1;
    for (int i = 0; i < int(m_searches.size()); ++i) {
        // A later query wins only with a match that ends sooner, so it must start sooner too.
        const qsizetype last = best ? best->end - 1 : held();
        if (last < m_start)
            break;
        std::optional<Hit> hit = find(m_searches[size_t(i)], last);
        if (m_tooComplex)
            return std::nullopt;
        if (hit && (!best || hit->end < best->end)) {
            best = std::move(hit);
            winner = i;
        }
    }
    if (!best)
        return std::nullopt;
    Match found = take(best->end, best->pattern ? &best->attempt : nullptr);
    found.alternative = winner;
    return found;
}

// Once another query has matched in this look, the search stops early and its state is left
// behind: the match ends every search.
std::optional<ExpectBuffer::Hit> ExpectBuffer::find(Search &search, qsizetype last)
{
    if (!search.query.pattern) {
        const std::optional<qsizetype> at = findText(search, last);
        if (!at)
            return std::nullopt;
        return Hit { *at + search.query.text.size(), {}, false };
    }
    Hit hit;
    hit.pattern = true;
    const std::optional<qsizetype> at
        = findPattern(search, search.rest ? *search.rest : *search.pattern, last, &hit.attempt);
    if (!at)
        return std::nullopt;
    // ".-" took everything from the first byte kept up to where the rest matched.
    if (search.rest && search.lazyCapture)
        hit.attempt.captures.prepend({ 0, *at - m_start, false });
    hit.end = m_start + hit.attempt.end;
    return hit;
}

std::optional<qsizetype> ExpectBuffer::findText(Search &search, qsizetype last)
{
    const QByteArray &needle = search.query.text;
    // A match may have begun in the last bytes of the previous look.
    const qsizetype from = qMax(m_start, search.scanned - qMax<qsizetype>(needle.size() - 1, 0));
    const qsizetype at = m_bytes.indexOf(needle, int(from));
    search.scanned = held();
    if (at < 0 || at > last)
        return std::nullopt;
    return at;
}

std::optional<qsizetype> ExpectBuffer::findPattern(Search &search, const LuaPattern &pattern,
                                                   qsizetype last, LuaPattern::Attempt *found)
{
    const char *data = m_bytes.constData() + m_start;
    const qsizetype length = held() - m_start;
    std::optional<qsizetype> hit;
    auto matchesAt = [&](qsizetype at) {
        LuaPattern::Attempt attempt = pattern.attempt(data, length, at - m_start);
        m_tooComplex = attempt.tooComplex;
        if (attempt.end >= 0) {
            *found = attempt;
            hit = at;
        } else if (attempt.reachedEnd) {
            search.open.append(at);
        }
        return hit || m_tooComplex;
    };
    // The places that were waiting for more bytes come first: they lie before the new ones, and
    // the leftmost match is the one string.find would give.
    const QVector<qsizetype> open = std::exchange(search.open, {});
    for (qsizetype at : open) {
        if (at > last)
            return std::nullopt;
        if (matchesAt(at))
            return hit;
    }
    const qsizetype stop = qMin(pattern.anchored() ? m_start : held(), last);
    for (qsizetype at = qMax(search.scanned, m_start); at <= stop; ++at) {
        // Where the first byte is not one a match can start with, no match starts.
        if (pattern.firstByte() >= 0 && at < held()) {
            const void *next
                = std::memchr(m_bytes.constData() + at, pattern.firstByte(), size_t(held() - at));
            at = next ? static_cast<const char *>(next) - m_bytes.constData() : held();
        } else {
            while (at < held() && !pattern.canStart(m_bytes.at(at)))
                ++at;
        }
        if (at > stop)
            break;
        if (matchesAt(at))
            return hit;
    }
    search.scanned = qMax(search.scanned, stop + 1);
    return std::nullopt;
}

std::optional<ExpectBuffer::Match> ExpectBuffer::findLine()
{
    const qsizetype from = qMax(m_lineScanned, m_start);
    const char *data = m_bytes.constData();
    const void *feed = std::memchr(data + from, '\n', size_t(held() - from));
    if (!feed) {
        m_lineScanned = held();
        return std::nullopt;
    }
    const qsizetype at = static_cast<const char *>(feed) - data;
    qsizetype end = at;
    while (end > m_start && data[end - 1] == '\r')
        --end;
    Match line { m_bytes.mid(int(m_start), int(end - m_start)), {}, 0 };
    m_start = at + 1;
    cancel();
    return line;
}

ExpectBuffer::Match ExpectBuffer::take(qsizetype end, const LuaPattern::Attempt *found)
{
    Match match;
    match.text = m_bytes.mid(int(m_start), int(end - m_start));
    if (found) {
        for (const LuaPattern::Capture &capture : found->captures) {
            if (capture.position)
                match.captures.append(qint64(capture.start + 1));
            else
                match.captures.append(
                    m_bytes.mid(int(m_start + capture.start), int(capture.length)));
        }
    }
    m_start = end;
    cancel();
    return match;
}

QString escapedBytes(const QByteArray &bytes)
{
    QString text;
    text.reserve(int(bytes.size()));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\r':
            text += QLatin1String("\\r");
            break;
        case '\n':
            text += QLatin1String("\\n");
            break;
        case '\t':
            text += QLatin1String("\\t");
            break;
        case '\\':
        case '"':
            text += QLatin1Char('\\');
            text += QLatin1Char(c);
            break;
        default:
            if (byte < 0x20 || byte >= 0x7f)
                text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
            else
                text += QLatin1Char(c);
        }
    }
    return text;
}

QString describeQueries(const QVector<ExpectBuffer::Query> &queries)
{
    QStringList alternatives;
    for (const ExpectBuffer::Query &query : queries)
        alternatives << QStringLiteral("%1\"%2\"")
                            .arg(query.pattern ? QStringLiteral("pattern ") : QString(),
                                 escapedBytes(query.text));
    return alternatives.join(QLatin1String(" or "));
}
