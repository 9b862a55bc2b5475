#include "luapattern.h"

#include <cctype>
#include <cstring>
#include <functional>

// The matcher follows Lua 5.4's own (lstrlib.c) step by step, so that a script's pattern means
// here what it means to string.find; what it adds is the note of every look past the subject's
// last byte.

namespace {

constexpr char escape = '%';
constexpr int maxCaptures = 32; // LUA_MAXCAPTURES
constexpr int maxDepth = 200; // MAXCCALLS of lstrlib.c
constexpr qsizetype unfinished = -1;
constexpr qsizetype positionCapture = -2;

int byteOf(char c)
{
    return static_cast<unsigned char>(c);
}

bool matchClass(int c, int cl)
{
    bool res;
    switch (std::tolower(cl)) {
    case 'a':
        res = std::isalpha(c);
        break;
    case 'c':
        res = std::iscntrl(c);
        break;
    case 'd':
        res = std::isdigit(c);
        break;
    case 'g':
        res = std::isgraph(c);
        break;
    case 'l':
        res = std::islower(c);
        break;
    case 'p':
        res = std::ispunct(c);
        break;
    case 's':
        res = std::isspace(c);
        break;
    case 'u':
        res = std::isupper(c);
        break;
    case 'w':
        res = std::isalnum(c);
        break;
    case 'x':
        res = std::isxdigit(c);
        break;
    case 'z': // the zero byte: deprecated, but Lua 5.4 still takes it
        res = c == 0;
        break;
    default:
        return cl == c;
    }
    return std::isupper(cl) ? !res : res;
}

// `p` is the '[' of a set, `ec` its ']'.
bool matchBracketClass(int c, const char *p, const char *ec)
{
    bool sig = true;
    if (*(p + 1) == '^') {
        sig = false;
        p++;
    }
    while (++p < ec) {
        if (*p == escape) {
            p++;
            if (matchClass(c, byteOf(*p)))
                return sig;
        } else if (*(p + 1) == '-' && p + 2 < ec) {
            p += 2;
            if (byteOf(*(p - 2)) <= c && c <= byteOf(*p))
                return sig;
        } else if (byteOf(*p) == c) {
            return sig;
        }
    }
    return !sig;
}

// One attempt's state; the pattern is known to be well formed.
struct MatchState {
    const char *srcInit;
    const char *srcEnd;
    const char *pEnd;
    int level = 0;
    int depth = maxDepth;
    bool reachedEnd = false;
    bool tooComplex = false;
    struct {
        const char *init;
        qsizetype len;
    } capture[maxCaptures];

    static const char *classEnd(const char *p)
    {
        switch (*p++) {
        case escape:
            return p + 1;
        case '[':
            if (*p == '^')
                p++;
            do {
                if (*(p++) == escape)
                    p++;
            } while (*p != ']');
            return p + 1;
        default:
            return p;
        }
    }

    bool singleMatch(const char *s, const char *p, const char *ep)
    {
        if (s >= srcEnd) {
            reachedEnd = true;
            return false;
        }
        const int c = byteOf(*s);
        switch (*p) {
        case '.':
            return true;
        case escape:
            return matchClass(c, byteOf(*(p + 1)));
        case '[':
            return matchBracketClass(c, p, ep - 1);
        default:
            return byteOf(*p) == c;
        }
    }

    const char *matchBalance(const char *s, const char *p)
    {
        if (s >= srcEnd) {
            reachedEnd = true;
            return nullptr;
        }
        if (*s != *p)
            return nullptr;
        const char b = *p;
        const char e = *(p + 1);
        int open = 1;
        while (++s < srcEnd) {
            if (*s == e) {
                if (--open == 0)
                    return s + 1;
            } else if (*s == b) {
                open++;
            }
        }
        reachedEnd = true;
        return nullptr;
    }

    const char *maxExpand(const char *s, const char *p, const char *ep)
    {
        qsizetype i = 0;
        while (singleMatch(s + i, p, ep))
            i++;
        for (; i >= 0; i--) {
            if (const char *res = match(s + i, ep + 1))
                return res;
        }
        return nullptr;
    }

    const char *minExpand(const char *s, const char *p, const char *ep)
    {
        for (;;) {
            if (const char *res = match(s, ep + 1))
                return res;
            if (!singleMatch(s, p, ep))
                return nullptr;
            s++;
        }
    }

    const char *startCapture(const char *s, const char *p, qsizetype what)
    {
        capture[level].init = s;
        capture[level].len = what;
        level++;
        const char *res = match(s, p);
        if (!res)
            level--;
        return res;
    }

    const char *endCapture(const char *s, const char *p)
    {
        int l = level - 1;
        while (capture[l].len != unfinished)
            l--;
        capture[l].len = s - capture[l].init;
        const char *res = match(s, p);
        if (!res)
            capture[l].len = unfinished;
        return res;
    }

    const char *matchCapture(const char *s, int l)
    {
        const qsizetype len = capture[l].len;
        if (len == positionCapture)
            return nullptr;
        const qsizetype available = srcEnd - s;
        if (std::memcmp(capture[l].init, s, size_t(qMin(len, available))) != 0)
            return nullptr;
        if (available < len) {
            reachedEnd = true;
            return nullptr;
        }
        return s + len;
    }

    const char *frontier(const char *s, const char *p, const char *ep)
    {
        const char previous = s == srcInit ? '\0' : *(s - 1);
        if (s == srcEnd)
            reachedEnd = true;
        const char current = s < srcEnd ? *s : '\0';
        if (!matchBracketClass(byteOf(previous), p, ep - 1)
            && matchBracketClass(byteOf(current), p, ep - 1))
            return s;
        return nullptr;
    }

    const char *match(const char *s, const char *p);
    bool escapeStep(const char *&s, const char *&p);
    void itemStep(const char *&s, const char *&p);
};

// Lua's matcher goes on in a loop where it can instead of calling itself, and counts only the
// calls against its depth: so does this one, so that "pattern too complex" comes where Lua's does.
// Each step moves `s` and `p` on; a step that matched the rest of the pattern itself sets `p` to
// the end, one that failed sets `s` to null.

// An item with its optional suffix: a character, a class or a set, then * + - or ?.
void MatchState::itemStep(const char *&s, const char *&p)
{
    const char *ep = classEnd(p);
    if (!singleMatch(s, p, ep)) {
        if (*ep == '*' || *ep == '?' || *ep == '-')
            p = ep + 1;
        else
            s = nullptr;
        return;
    }
    switch (*ep) {
    case '?':
        if (const char *res = match(s + 1, ep + 1)) {
            s = res;
            p = pEnd;
        } else {
            p = ep + 1;
        }
        return;
    case '+':
        s = maxExpand(s + 1, p, ep);
        break;
    case '*':
        s = maxExpand(s, p, ep);
        break;
    case '-':
        s = minExpand(s, p, ep);
        break;
    default:
        s++;
        p = ep;
        return;
    }
    p = pEnd;
}

// %b, %f and back references; false for any other escape, which is a class item.
bool MatchState::escapeStep(const char *&s, const char *&p)
{
    switch (*(p + 1)) {
    case 'b':
        s = matchBalance(s, p + 2);
        p += 4;
        return true;
    case 'f': {
        p += 2;
        const char *ep = classEnd(p);
        if (!frontier(s, p, ep))
            s = nullptr;
        p = ep;
        return true;
    }
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        s = matchCapture(s, byteOf(*(p + 1)) - '1');
        p += 2;
        return true;
    default:
        return false;
    }
}

const char *MatchState::match(const char *s, const char *p)
{
    if (tooComplex || depth-- == 0) {
        tooComplex = true;
        return nullptr;
    }
    while (s && p != pEnd && !tooComplex) {
        switch (*p) {
        case '(':
            s = *(p + 1) == ')' ? startCapture(s, p + 2, positionCapture)
                                : startCapture(s, p + 1, unfinished);
            p = pEnd;
            continue;
        case ')':
            s = endCapture(s, p + 1);
            p = pEnd;
            continue;
        case '$':
            if (p + 1 != pEnd)
                break;
            if (s == srcEnd)
                reachedEnd = true;
            else
                s = nullptr;
            p = pEnd;
            continue;
        case escape:
            if (escapeStep(s, p))
                continue;
            break;
        default:
            break;
        }
        itemStep(s, p);
    }
    depth++;
    return tooComplex ? nullptr : s;
}

} // namespace

LuaPattern::LuaPattern(const QByteArray &pattern, bool anchorable)
    : m_pattern(pattern)
{
    if (anchorable && m_pattern.startsWith('^')) {
        m_anchored = true;
        m_pattern.remove(0, 1);
    }
    m_starts.fill(true);
    m_error = validate();
    if (m_error.isEmpty()) {
        m_firstByte = findFirstByte();
        findStarts();
    }
}

void LuaPattern::findStarts()
{
    const char *p = m_pattern.constData();
    const char *end = p + m_pattern.size();
    while (p < end && *p == '(')
        p += p + 1 < end && *(p + 1) == ')' ? 2 : 1;
    // Any byte, or none at all, may start a match of these.
    if (p == end || *p == '.' || (*p == '$' && p + 1 == end))
        return;
    const char *ep = p + 1;
    std::function<bool(int)> starts = [p](int c) { return byteOf(*p) == c; };
    if (*p == escape) {
        const char what = *(p + 1);
        if (what == 'f' || (what >= '0' && what <= '9'))
            return;
        if (what == 'b') {
            // A balance has no suffix: what follows it is an item of its own.
            starts = [p](int c) { return byteOf(*(p + 2)) == c; };
            ep = end;
        } else {
            starts = [what](int c) { return matchClass(c, byteOf(what)); };
            ep = p + 2;
        }
    } else if (*p == '[') {
        QString ignored;
        ep = classEnd(p, &ignored);
        starts = [p, ep](int c) { return matchBracketClass(c, p, ep - 1); };
    }
    // An item that may occur no times rules nothing out.
    if (ep < end && (*ep == '*' || *ep == '?' || *ep == '-'))
        return;
    for (int c = 0; c < 256; ++c)
        m_starts[size_t(c)] = starts(c);
}

int LuaPattern::findFirstByte() const
{
    const char *p = m_pattern.constData();
    const char *end = p + m_pattern.size();
    // Captures take no byte of their own.
    while (p < end && *p == '(')
        p += p + 1 < end && *(p + 1) == ')' ? 2 : 1;
    if (p == end)
        return -1;
    int byte = byteOf(*p);
    if (*p == escape && p + 1 < end && !std::isalnum(byteOf(*(p + 1)))) {
        byte = byteOf(*(p + 1));
        p++;
    } else if (std::strchr("^$*+?.([%-)", *p)) {
        return -1;
    }
    // An item that may occur no times starts nothing.
    const char next = p + 1 < end ? *(p + 1) : '\0';
    return next == '*' || next == '?' || next == '-' ? -1 : byte;
}

const char *LuaPattern::classEnd(const char *p, QString *error) const
{
    const char *end = m_pattern.constData() + m_pattern.size();
    if (*p == escape) {
        if (p + 1 == end)
            *error = QStringLiteral("malformed pattern (ends with '%')");
        return p + 2;
    }
    if (*p == '[') {
        p++;
        if (p < end && *p == '^')
            p++;
        do {
            if (p >= end) {
                *error = QStringLiteral("malformed pattern (missing ']')");
                return end;
            }
            if (*(p++) == escape && p < end)
                p++;
        } while (p >= end || *p != ']');
        return p + 1;
    }
    return p + 1;
}

// Walks the whole pattern once, as a match that got everywhere would.
QString LuaPattern::validate() const
{
    const char *p = m_pattern.constData();
    const char *end = p + m_pattern.size();
    QVector<int> open;
    QVector<bool> closed;
    QString error;
    while (p < end && error.isEmpty()) {
        if (*p == '(' || *p == ')') {
            if (*p == ')' && open.isEmpty())
                return QStringLiteral("invalid pattern capture");
            if (*p == ')') {
                closed[open.takeLast()] = true;
            } else if (closed.size() == maxCaptures) {
                return QStringLiteral("too many captures");
            } else {
                const bool position = p + 1 < end && *(p + 1) == ')';
                if (!position)
                    open.append(closed.size());
                closed.append(position);
                p += position ? 1 : 0;
            }
            p++;
            continue;
        }
        if (*p == escape && p + 1 < end) {
            const char what = *(p + 1);
            if (what == 'b') {
                if (end - (p + 2) < 2)
                    return QStringLiteral("malformed pattern (missing arguments to '%b')");
                p += 4;
                continue;
            }
            if (what == 'f') {
                p += 2;
                if (p == end || *p != '[')
                    return QStringLiteral("missing '[' after '%f' in pattern");
                p = classEnd(p, &error);
                continue;
            }
            if (what >= '0' && what <= '9') {
                const int l = what - '1';
                if (l < 0 || l >= closed.size() || !closed[l])
                    return QStringLiteral("invalid capture index %1")
                        .arg(QLatin1Char('%') + QString::number(l + 1));
                p += 2;
                continue;
            }
        }
        p = classEnd(p, &error);
        if (p < end && (*p == '*' || *p == '+' || *p == '-' || *p == '?'))
            p++;
    }
    if (error.isEmpty() && !open.isEmpty())
        error = QStringLiteral("unfinished capture");
    return error;
}

LuaPattern::Attempt LuaPattern::attempt(const char *subject, qsizetype size, qsizetype start) const
{
    Attempt result;
    if (!m_error.isEmpty())
        return result;
    MatchState ms;
    ms.srcInit = subject;
    ms.srcEnd = subject + size;
    ms.pEnd = m_pattern.constData() + m_pattern.size();
    const char *end = ms.match(subject + start, m_pattern.constData());
    result.reachedEnd = ms.reachedEnd;
    result.tooComplex = ms.tooComplex;
    if (!end)
        return result;
    result.end = end - subject;
    for (int i = 0; i < ms.level; i++) {
        const bool position = ms.capture[i].len == positionCapture;
        result.captures.append(
            { ms.capture[i].init - subject, position ? 0 : ms.capture[i].len, position });
    }
    return result;
}
