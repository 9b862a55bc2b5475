#include "expectbuffer.h"

#include <algorithm>
#include <cstring>

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
    const qsizetype excess = size() - m_start - capacity;
    if (excess > 0) {
        // What falls out of the buffer can no longer begin a match.
        m_start += excess;
        m_open.erase(std::remove_if(m_open.begin(), m_open.end(),
                                    [this](qsizetype at) { return at < m_start; }),
                     m_open.end());
        m_scanned = qMax(m_scanned, m_start);
    }
    // Dropped bytes leave memory once they outgrow what is kept, so that a flood costs one move
    // per megabyte rather than one per arrival.
    if (m_start > capacity) {
        m_bytes.remove(0, int(m_start));
        for (qsizetype &at : m_open)
            at -= m_start;
        m_scanned -= m_start;
        m_start = 0;
    }
}

void ExpectBuffer::discard()
{
    m_start = size();
    m_open.clear();
    m_scanned = m_start;
}

QString ExpectBuffer::expect(const Query &query)
{
    cancel();
    if (query.pattern) {
        auto pattern = std::make_unique<LuaPattern>(query.text);
        if (!pattern->error().isEmpty())
            return pattern->error();
        const QByteArray body = query.text.mid(pattern->anchored() ? 1 : 0);
        const int prefix = body.startsWith("(.-)") ? 4 : body.startsWith(".-") ? 2 : 0;
        if (prefix && !hasBackReference(body)) {
            m_rest = std::make_unique<LuaPattern>(body.mid(prefix), false);
            m_lazyCapture = prefix == 4;
        }
        m_pattern = std::move(pattern);
    }
    m_query = query;
    return {};
}

void ExpectBuffer::cancel()
{
    m_query.reset();
    m_pattern.reset();
    m_rest.reset();
    m_lazyCapture = false;
    m_open.clear();
    m_scanned = m_start;
    m_tooComplex = false;
}

std::optional<ExpectBuffer::Match> ExpectBuffer::match()
{
    if (!m_query)
        return std::nullopt;
    if (!m_query->pattern) {
        const std::optional<qsizetype> at = findText();
        if (!at)
            return std::nullopt;
        return take(*at + m_query->text.size(), nullptr);
    }
    LuaPattern::Attempt found;
    std::optional<qsizetype> at = findPattern(m_rest ? *m_rest : *m_pattern, &found);
    if (!at)
        return std::nullopt;
    // ".-" took everything from the first byte kept up to where the rest matched.
    if (m_rest && m_lazyCapture)
        found.captures.prepend({ 0, *at - m_start, false });
    return take(m_start + found.end, &found);
}

std::optional<qsizetype> ExpectBuffer::findText()
{
    const QByteArray &needle = m_query->text;
    // A match may have begun in the last bytes of the previous look.
    const qsizetype from = qMax(m_start, m_scanned - qMax<qsizetype>(needle.size() - 1, 0));
    const qsizetype at = m_bytes.indexOf(needle, int(from));
    m_scanned = size();
    if (at < 0)
        return std::nullopt;
    return at;
}

std::optional<qsizetype> ExpectBuffer::findPattern(const LuaPattern &pattern,
                                                   LuaPattern::Attempt *found)
{
    const char *data = m_bytes.constData() + m_start;
    const qsizetype length = size() - m_start;
    std::optional<qsizetype> hit;
    auto matchesAt = [&](qsizetype at) {
        LuaPattern::Attempt attempt = pattern.attempt(data, length, at - m_start);
        m_tooComplex = attempt.tooComplex;
        if (attempt.end >= 0) {
            *found = attempt;
            hit = at;
        } else if (attempt.reachedEnd) {
            m_open.append(at);
        }
        return hit || m_tooComplex;
    };
    // The places that were waiting for more bytes come first: they lie before the new ones, and
    // the leftmost match is the one string.find would give.
    const QVector<qsizetype> open = std::exchange(m_open, {});
    for (qsizetype at : open) {
        if (matchesAt(at))
            return hit;
    }
    const qsizetype last = pattern.anchored() ? m_start : size();
    for (qsizetype at = qMax(m_scanned, m_start); at <= last; ++at) {
        // Where the first byte is not the one every match starts with, no match starts.
        if (pattern.firstByte() >= 0 && at < size()) {
            const void *next
                = std::memchr(m_bytes.constData() + at, pattern.firstByte(), size_t(size() - at));
            at = next ? static_cast<const char *>(next) - m_bytes.constData() : size();
            if (at > last)
                break;
        }
        if (matchesAt(at))
            return hit;
    }
    m_scanned = qMax(m_scanned, last + 1);
    return std::nullopt;
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
