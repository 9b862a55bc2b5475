#include "expectbuffer.h"
#include "fuzzsupport.h"

#include <lua.hpp>

#include <optional>

// The pattern matcher is a second implementation of Lua's: it must find what Lua 5.4's own
// string.find finds, for a pattern alone and among alternatives, whether the subject comes whole
// or in pieces. The input is two lengths and a piece size, then pattern A, pattern B and the
// subject, as corpus/luapattern/README tells.

namespace {
using Queries = QVector<ExpectBuffer::Query>;

// What string.find gives, as expect returns it; `complex` when Lua gave up on the pattern.
struct Found {
    std::optional<ExpectBuffer::Match> match;
    bool complex = false;
};

lua_State *lua()
{
    static lua_State *state = [] {
        lua_State *l = luaL_newstate();
        luaL_openlibs(l);
        return l;
    }();
    return state;
}

Found luaFind(const QByteArray &subject, const ExpectBuffer::Query &query)
{
    lua_State *l = lua();
    lua_settop(l, 0);
    lua_getglobal(l, "string");
    lua_getfield(l, 1, "find");
    lua_pushlstring(l, subject.constData(), size_t(subject.size()));
    lua_pushlstring(l, query.text.constData(), size_t(query.text.size()));
    lua_pushinteger(l, 1);
    lua_pushboolean(l, !query.pattern);
    Found found;
    if (lua_pcall(l, 4, LUA_MULTRET, 0) != LUA_OK) {
        // A pattern the program took must be one Lua takes too: only its depth may run out.
        const QByteArray error = lua_tostring(l, -1);
        FUZZ_CHECK(error.endsWith("pattern too complex"));
        found.complex = true;
        return found;
    }
    if (lua_isnil(l, 2))
        return found;
    found.match = ExpectBuffer::Match { subject.left(int(lua_tointeger(l, 3))), {}, 0 };
    for (int i = 4; i <= lua_gettop(l); ++i) {
        if (lua_isinteger(l, i)) {
            found.match->captures << qint64(lua_tointeger(l, i));
            continue;
        }
        size_t size = 0;
        const char *text = lua_tolstring(l, i, &size);
        found.match->captures << QByteArray(text, int(size));
    }
    return found;
}

// Of the queries that match, the one whose match ends first, the earlier one on a tie.
Found luaFindAny(const QByteArray &subject, const Queries &queries)
{
    Found best;
    for (int i = 0; i < queries.size(); ++i) {
        Found found = luaFind(subject, queries.at(i));
        if (found.complex)
            return found;
        if (found.match && (!best.match || found.match->text.size() < best.match->text.size())) {
            best = found;
            best.match->alternative = i;
        }
    }
    return best;
}

void checkSame(const std::optional<ExpectBuffer::Match> &found, const ExpectBuffer &buffer,
               const Found &expected, bool alone)
{
    if (expected.complex) {
        // Among alternatives Lua may give up on one the program never had to try.
        FUZZ_CHECK(!found);
        FUZZ_CHECK(buffer.tooComplex() || !alone);
        return;
    }
    FUZZ_CHECK(!buffer.tooComplex());
    FUZZ_CHECK(bool(found) == bool(expected.match));
    if (!found)
        return;
    FUZZ_CHECK(found->alternative == expected.match->alternative);
    FUZZ_CHECK(found->text == expected.match->text);
    FUZZ_CHECK(found->captures == expected.match->captures);
}

// The subject whole, then in pieces with a look after each: the first piece after which Lua
// finds a match is the one after which the buffer finds it, the same.
void compare(const Queries &queries, const QByteArray &subject, int piece)
{
    ExpectBuffer whole;
    whole.append(subject);
    FUZZ_CHECK(whole.expect(queries).isEmpty());
    const std::optional<ExpectBuffer::Match> found = whole.match();
    const Found expected = luaFindAny(subject, queries);
    checkSame(found, whole, expected, queries.size() == 1);
    if (found)
        FUZZ_CHECK(whole.unmatched() == subject.mid(found->text.size()));

    ExpectBuffer pieces;
    FUZZ_CHECK(pieces.expect(queries).isEmpty());
    Found step = luaFindAny({}, queries);
    std::optional<ExpectBuffer::Match> first = pieces.match();
    for (int at = 0; at < subject.size() && !first && !step.match && !step.complex; at += piece) {
        pieces.append(subject.mid(at, piece));
        first = pieces.match();
        step = luaFindAny(subject.left(at + piece), queries);
    }
    checkSame(first, pieces, step, queries.size() == 1);
}

// Lines end at a line feed with the carriage returns before it, however the bytes come.
void compareLines(const QByteArray &subject, int piece)
{
    QByteArrayList expected = subject.split('\n');
    expected.removeLast(); // what no line feed ended
    for (QByteArray &line : expected) {
        while (line.endsWith('\r'))
            line.chop(1);
    }
    ExpectBuffer buffer;
    QByteArrayList lines;
    buffer.expectLine();
    for (int at = 0; at < subject.size(); at += piece) {
        buffer.append(subject.mid(at, piece));
        while (const std::optional<ExpectBuffer::Match> line = buffer.match()) {
            lines << line->text;
            buffer.expectLine();
        }
    }
    FUZZ_CHECK(lines == expected);
    FUZZ_CHECK(buffer.unmatched() == subject.mid(subject.lastIndexOf('\n') + 1));
}

bool takenUpFront(const QByteArray &pattern)
{
    return LuaPattern(pattern).error().isEmpty();
}

// Lua's matcher backtracks: each repeated item may multiply the steps by the subject's length,
// and an input that runs for hours finds nothing. An estimate of the steps, from above (every
// "*+-?" byte counts, in a set or escaped too), keeps each input within milliseconds.
bool quickEnough(const QByteArray &pattern, qsizetype subjectSize, int piece)
{
    double steps = double(subjectSize + 1) * double(subjectSize / piece + 4);
    for (const char c : pattern) {
        if (c == '*' || c == '+' || c == '-')
            steps *= double(subjectSize + 1);
        else if (c == '?')
            steps *= 2;
        if (steps > 4e6)
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5 || size > 1200)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 5, int(size - 5));
    const int aSize = (data[0] | data[1] << 8) % (input.size() + 1);
    const int bSize = (data[2] | data[3] << 8) % (input.size() - aSize + 1);
    const int piece = 1 + data[4] % 16;
    const QByteArray a = input.left(aSize);
    const QByteArray b = input.mid(aSize, bSize);
    const QByteArray subject = input.mid(aSize + bSize);

    compareLines(subject, piece);
    compare({ { a, false } }, subject, piece);
    // A pattern the program refuses up front Lua may take until a match reaches the mistake:
    // the one difference there is, and none to compare.
    if (!takenUpFront(a) || !quickEnough(a, subject.size(), piece))
        return 0;
    compare({ { a, true } }, subject, piece);
    if (takenUpFront(b) && quickEnough(a + b, subject.size(), piece))
        compare({ { a, true }, { b, true }, { a, false } }, subject, piece);
    return 0;
}
