#include "expectbuffer.h"

#include <QtTest>

#include <lua.hpp>

using Queries = QVector<ExpectBuffer::Query>;
Q_DECLARE_METATYPE(Queries)

// The matching of expect and readline, without a channel: plain text and Lua patterns must find
// what Lua's own string.find finds in the same bytes, however the bytes arrive.
class ExpectBufferTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_lua = luaL_newstate(), luaL_openlibs(m_lua); }
    void cleanup() { lua_close(m_lua); }
    void asStringFind_data();
    void asStringFind();
    void alternatives_data();
    void alternatives();
    void lines_data();
    void lines();
    void refused_data();
    void refused();
    void keepsTheLastMegabyte();
    void escaped_data();
    void escaped();

private:
    std::optional<ExpectBuffer::Match> luaFind(const QByteArray &subject, const QByteArray &what,
                                               bool pattern, QString *error = nullptr);
    std::optional<ExpectBuffer::Match> luaFindAny(const QByteArray &subject,
                                                  const Queries &queries);
    lua_State *m_lua = nullptr;
};

// What string.find gives, as expect returns it: the bytes up to the end of the match, and the
// captures of a pattern that has any.
std::optional<ExpectBuffer::Match> ExpectBufferTest::luaFind(const QByteArray &subject,
                                                             const QByteArray &what, bool pattern,
                                                             QString *error)
{
    lua_settop(m_lua, 0);
    lua_getglobal(m_lua, "string");
    lua_getfield(m_lua, 1, "find");
    lua_pushlstring(m_lua, subject.constData(), size_t(subject.size()));
    lua_pushlstring(m_lua, what.constData(), size_t(what.size()));
    lua_pushinteger(m_lua, 1);
    lua_pushboolean(m_lua, !pattern);
    if (lua_pcall(m_lua, 4, LUA_MULTRET, 0) != LUA_OK) {
        if (error)
            *error = QString::fromUtf8(lua_tostring(m_lua, -1));
        return std::nullopt;
    }
    if (lua_isnil(m_lua, 2))
        return std::nullopt;
    ExpectBuffer::Match match { subject.left(int(lua_tointeger(m_lua, 3))), {} };
    for (int i = 4; i <= lua_gettop(m_lua); ++i) {
        // Checked first: tolstring turns a number into a string in place.
        if (lua_isinteger(m_lua, i)) {
            match.captures << qint64(lua_tointeger(m_lua, i));
            continue;
        }
        size_t size = 0;
        const char *text = lua_tolstring(m_lua, i, &size);
        match.captures << QByteArray(text, int(size));
    }
    return match;
}

// What expect with alternatives gives, by string.find: of the queries that match, the one whose
// match ends first, the earlier one on a tie.
std::optional<ExpectBuffer::Match> ExpectBufferTest::luaFindAny(const QByteArray &subject,
                                                                const Queries &queries)
{
    std::optional<ExpectBuffer::Match> best;
    for (int i = 0; i < queries.size(); ++i) {
        std::optional<ExpectBuffer::Match> found
            = luaFind(subject, queries.at(i).text, queries.at(i).pattern);
        if (found && (!best || found->text.size() < best->text.size())) {
            best = found;
            best->alternative = i;
        }
    }
    return best;
}

void ExpectBufferTest::asStringFind_data()
{
    QTest::addColumn<QByteArray>("what");
    QTest::addColumn<bool>("pattern");
    QTest::addColumn<QByteArray>("subject");
    const std::tuple<const char *, bool, const char *> rows[] = {
        { "OK", false, "AT\r\r\nOK\r\n" },
        { "", false, "anything" },
        { "%d+", false, "plain: no 100%d+ here, %d+ there" },
        { "absent", false, "abso absen absent" },
        { "%+CSQ: (%d+),(%d+)", true, "AT+CSQ\r\n+CSQ: 23,99\r\nOK\r\n" },
        { "^OK", true, "OK fine" },
        { "^OK", true, "not OK" },
        { "(.-)\r\n", true, "line one\r\nline two\r\n" },
        { ".-OK", true, "wait... OK" },
        { "^(.-)%s*$", true, "trailing   " },
        { ".*END", true, "a END b END c" },
        { "%d+", true, "abc 12345 x" },
        { "%b()", true, "f((a)(b)) x" },
        { "%b()", true, "((() unbalanced" },
        { "%f[%w]%w+", true, "  hello world" },
        { "(%a+)=%1", true, "k=v x=xy" },
        { "()(%d+)()", true, "at 42." },
        { "[%]x]+", true, "a]x]y" },
        { "[^%s]+$", true, "two words" },
        { "a.-b", true, "xxaxxbxb" },
        { "x*y", true, "xxxz xxy" },
        { "%d?%d", true, "a1b23" },
        { "[a-c%d]+", true, "zzab3cz" },
        { "%x%x", true, "gg0Fh" },
        { "(h)(e)(l)", true, "shell" },
        { "%.%d", true, "v1.2" },
        { "[[]", true, "a[b" },
        { "100%%", true, "is 100%" },
        { "a%cb", true,
          "xa\x01"
          "b" },
        { "$", true, "end" },
        { "%s*$", true, "ends   " },
        { "%u%l*", true, "hello World" },
        { "[^\n]*\n", true, "first\nsecond\n" },
        { "no match here", true, "nothing like it at all" },
        { "(O)(K)", true, "not OK" },
        { "%-%d+", true, "a-b -12" },
        { "b?c", true, "aac" },
    };
    auto tag = [](const char *text) {
        return QByteArray(text).replace('\r', "\\r").replace('\n', "\\n").replace('\x01', "\\x01");
    };
    for (const auto &[what, pattern, subject] : rows)
        QTest::addRow("%s %s in \"%s\"", pattern ? "pattern" : "text", tag(what).constData(),
                      tag(subject).constData())
            << QByteArray(what) << pattern << QByteArray(subject);
    QTest::newRow("a zero byte") << QByteArray("a\0b", 3) << false << QByteArray("xa\0b", 4);
    QTest::newRow("pattern %Z+%z, the zero byte's class")
        << QByteArray("%Z+%z") << true << QByteArray("\0ab\0c", 5);
}

// The subject given whole, and byte by byte with a look after each: the first prefix in which
// string.find finds a match is where expect finds it, with the same text and captures.
void ExpectBufferTest::asStringFind()
{
    QFETCH(QByteArray, what);
    QFETCH(bool, pattern);
    QFETCH(QByteArray, subject);

    ExpectBuffer whole;
    whole.append(subject);
    QCOMPARE(whole.expect({ what, pattern }), QString());
    const std::optional<ExpectBuffer::Match> found = whole.match();
    const std::optional<ExpectBuffer::Match> expected = luaFind(subject, what, pattern);
    QCOMPARE(bool(found), bool(expected));
    if (found) {
        QCOMPARE(found->text, expected->text);
        QCOMPARE(found->captures, expected->captures);
        QCOMPARE(whole.unmatched(), subject.mid(found->text.size()));
    }

    ExpectBuffer trickle;
    QCOMPARE(trickle.expect({ what, pattern }), QString());
    std::optional<ExpectBuffer::Match> first = trickle.match();
    std::optional<ExpectBuffer::Match> firstExpected = luaFind({}, what, pattern);
    for (int i = 1; i <= subject.size() && !first && !firstExpected; ++i) {
        trickle.append(subject.mid(i - 1, 1));
        first = trickle.match();
        firstExpected = luaFind(subject.left(i), what, pattern);
    }
    QCOMPARE(bool(first), bool(firstExpected));
    if (first) {
        QCOMPARE(first->text, firstExpected->text);
        QCOMPARE(first->captures, firstExpected->captures);
    }
}

void ExpectBufferTest::alternatives_data()
{
    QTest::addColumn<Queries>("queries");
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<int>("winner"); // -1: none
    using Q = ExpectBuffer::Query;
    auto p = [](const char *text) { return Q { text, true }; };
    QTest::newRow("the second answers")
        << Queries { Q { "OK" }, Q { "ERROR" } } << QByteArray("AT\r\r\nERROR\r\n") << 1;
    QTest::newRow("the first answers, the second follows")
        << Queries { Q { "OK" }, Q { "ERROR" } } << QByteArray("\r\nOK\r\nERROR\r\n") << 0;
    QTest::newRow("what ends first wins, not what is listed first")
        << Queries { Q { "ERROR" }, Q { "OK" } } << QByteArray("OK ERROR") << 1;
    QTest::newRow("a long match loses to a short one inside it")
        << Queries { p("A.-Z"), Q { "B" } } << QByteArray("A B Z") << 1;
    QTest::newRow("the plain ERROR inside a +CME ERROR ends first")
        << Queries { Q { "OK" }, Q { "ERROR" }, p("%+CME ERROR: (%d+)") }
        << QByteArray("\r\n+CME ERROR: 10\r\n") << 1;
    QTest::newRow("a pattern that tells them apart")
        << Queries { Q { "OK" }, p("\nERROR"), p("%+CME ERROR: (%d+)") }
        << QByteArray("\r\n+CME ERROR: 10\r\n") << 2;
    QTest::newRow("a tie goes to the one listed first")
        << Queries { p("O(K)"), p("(O)K"), Q { "K" } } << QByteArray("xOK") << 0;
    QTest::newRow("an empty text matches at once")
        << Queries { Q { "X" }, Q { "" } } << QByteArray("aX") << 1;
    QTest::newRow("an anchored pattern only at the start")
        << Queries { p("^OK"), Q { "READY" } } << QByteArray("READY OK") << 1;
    QTest::newRow("lazy prefixes, the later one shorter")
        << Queries { p("(.-)\r\n"), p(".-;") } << QByteArray("a;b\r\n") << 1;
    QTest::newRow("positions and captures of the winner")
        << Queries { p("()(%d+)()"), p("(%a+)=(%a+)") } << QByteArray("k=v 42.") << 1;
    QTest::newRow("none matches") << Queries { Q { "OK" }, p("%d%d") } << QByteArray("no 1 ok")
                                  << -1;
    QTest::newRow("one alone, as the single form")
        << Queries { p("%+CSQ: (%d+),(%d+)") } << QByteArray("+CSQ: 23,99\r\n") << 0;
}

// Whole and byte by byte: the query and the match string.find gives for the first of them to
// end, with its captures, and what follows it left for the next expect.
void ExpectBufferTest::alternatives()
{
    QFETCH(Queries, queries);
    QFETCH(QByteArray, subject);
    QFETCH(int, winner);

    ExpectBuffer whole;
    whole.append(subject);
    QCOMPARE(whole.expect(queries), QString());
    const std::optional<ExpectBuffer::Match> found = whole.match();
    const std::optional<ExpectBuffer::Match> expected = luaFindAny(subject, queries);
    QCOMPARE(found ? found->alternative : -1, winner);
    QCOMPARE(expected ? expected->alternative : -1, winner);
    if (found) {
        QCOMPARE(found->text, expected->text);
        QCOMPARE(found->captures, expected->captures);
        QCOMPARE(whole.unmatched(), subject.mid(found->text.size()));
        QVERIFY(!whole.expecting());
    }

    ExpectBuffer trickle;
    QCOMPARE(trickle.expect(queries), QString());
    std::optional<ExpectBuffer::Match> first;
    std::optional<ExpectBuffer::Match> firstExpected;
    for (int i = 1; i <= subject.size() && !first && !firstExpected; ++i) {
        trickle.append(subject.mid(i - 1, 1));
        first = trickle.match();
        firstExpected = luaFindAny(subject.left(i), queries);
    }
    QCOMPARE(bool(first), bool(firstExpected));
    if (first) {
        QCOMPARE(first->alternative, firstExpected->alternative);
        QCOMPARE(first->text, firstExpected->text);
        QCOMPARE(first->captures, firstExpected->captures);
    }
}

void ExpectBufferTest::lines_data()
{
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArray>("left"); // what no line end closed yet
    QTest::newRow("a modem's echo and answer")
        << QByteArray("AT\r\r\nOK\r\n") << QByteArrayList { "AT", "OK" } << QByteArray();
    QTest::newRow("an answer after an empty line")
        << QByteArray("\r\nOK\r\n") << QByteArrayList { "", "OK" } << QByteArray();
    QTest::newRow("line feeds alone, and a line not ended yet")
        << QByteArray("one\ntwo\n\nthree") << QByteArrayList { "one", "two", "" }
        << QByteArray("three");
    QTest::newRow("a carriage return inside a line stays in it")
        << QByteArray("10%\r20%\r\n") << QByteArrayList { "10%\r20%" } << QByteArray();
    QTest::newRow("a carriage return at the end waits for what follows")
        << QByteArray("prompt\r") << QByteArrayList {} << QByteArray("prompt\r");
    QTest::newRow("every carriage return before the line feed ends the line")
        << QByteArray("x\r\r\r\ny") << QByteArrayList { "x" } << QByteArray("y");
    QTest::newRow("a zero byte is a byte of the line")
        << QByteArray("a\0b\n", 4) << QByteArrayList { QByteArray("a\0b", 3) } << QByteArray();
}

// Whole and byte by byte, the same lines, each without its end, and what is left after them.
void ExpectBufferTest::lines()
{
    QFETCH(QByteArray, subject);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, left);
    for (const int piece : { int(subject.size()), 1 }) {
        ExpectBuffer buffer;
        QByteArrayList read;
        buffer.expectLine();
        for (int at = 0; at < subject.size(); at += piece) {
            buffer.append(subject.mid(at, piece));
            while (std::optional<ExpectBuffer::Match> line = buffer.match()) {
                QVERIFY(!buffer.expecting());
                read << line->text;
                buffer.expectLine();
            }
        }
        QCOMPARE(read, lines);
        QCOMPARE(buffer.unmatched(), left);
    }
}

void ExpectBufferTest::refused_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("subject"); // one in which Lua gets to the mistake
    QTest::addColumn<QString>("error");
    QTest::newRow("ends with %") << QByteArray("a%") << QByteArray("a")
                                 << "malformed pattern (ends with '%')";
    QTest::newRow("set not closed")
        << QByteArray("[a") << QByteArray("x") << "malformed pattern (missing ']')";
    QTest::newRow("%b without two characters")
        << QByteArray("%b(") << QByteArray("x") << "malformed pattern (missing arguments to '%b')";
    QTest::newRow("%f without a set")
        << QByteArray("%fa") << QByteArray("x") << "missing '[' after '%f' in pattern";
    QTest::newRow("reference to an open capture")
        << QByteArray("(a%1)") << QByteArray("a") << "invalid capture index %1";
    QTest::newRow("reference to no capture")
        << QByteArray("%2") << QByteArray("x") << "invalid capture index %2";
    QTest::newRow("closing no capture")
        << QByteArray("%a)") << QByteArray("a") << "invalid pattern capture";
    QTest::newRow("capture left open")
        << QByteArray("(a") << QByteArray("a") << "unfinished capture";
    QTest::newRow("33 captures") << QByteArray("()").repeated(33) << QByteArray("x")
                                 << "too many captures";
    // A pattern Lua accepts, but gives up on as too deep a search.
    QTest::newRow("too complex") << QByteArray("a?").repeated(250) << QByteArray(300, 'a')
                                 << "pattern too complex";
}

// A malformed pattern is refused at once, in Lua's words, and one Lua gives up on is given up on.
void ExpectBufferTest::refused()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, subject);
    QFETCH(QString, error);
    QString luaError;
    QVERIFY(!luaFind(subject, pattern, true, &luaError));
    QVERIFY2(luaError.endsWith(error), qPrintable(luaError));

    ExpectBuffer buffer;
    buffer.append(subject);
    const QString refusal = buffer.expect({ pattern, true });
    // The same pattern among alternatives, after one that never matches.
    ExpectBuffer among;
    among.append(subject);
    int refusedAt = -1;
    const QString amongRefusal
        = among.expect(Queries { { "never", false }, { pattern, true } }, &refusedAt);
    if (error == QLatin1String("pattern too complex")) {
        QCOMPARE(refusal, QString());
        QVERIFY(!buffer.match());
        QVERIFY(buffer.tooComplex());
        QCOMPARE(amongRefusal, QString());
        QVERIFY(!among.match());
        QVERIFY(among.tooComplex());
    } else {
        QCOMPARE(refusal, error);
        QCOMPARE(amongRefusal, error);
        QCOMPARE(refusedAt, 1);
    }
}

// A flood keeps only its last megabyte for matching; a match in it is found all the same, and
// what came before is gone.
void ExpectBufferTest::keepsTheLastMegabyte()
{
    ExpectBuffer buffer;
    QCOMPARE(buffer.expect({ "(%d+) END", true }), QString());
    const QByteArray filler(256 * 1024, 'x');
    for (int i = 0; i < 12; ++i) {
        buffer.append(filler);
        QVERIFY(!buffer.match());
    }
    QCOMPARE(buffer.unmatched().size(), int(ExpectBuffer::capacity));
    buffer.append("42 END tail");
    const std::optional<ExpectBuffer::Match> match = buffer.match();
    QVERIFY(match);
    QCOMPARE(match->captures, QVariantList { QByteArray("42") });
    QCOMPARE(buffer.unmatched(), QByteArray(" tail"));
    QCOMPARE(match->text.size() + 5, int(ExpectBuffer::capacity));
    QVERIFY(match->text.endsWith("xx42 END"));

    // A line longer than what is kept comes back as its last part.
    buffer.expectLine();
    for (int i = 0; i < 12; ++i) {
        buffer.append(filler);
        QVERIFY(!buffer.match());
    }
    buffer.append("end\r\nnext");
    const std::optional<ExpectBuffer::Match> line = buffer.match();
    QVERIFY(line);
    QCOMPARE(line->text.size(), int(ExpectBuffer::capacity) - 6);
    QVERIFY(line->text.endsWith("xxend"));
    QCOMPARE(buffer.unmatched(), QByteArray("next"));

    // What a failed expect tells is the last of what it looked at.
    QCOMPARE(buffer.expect({ "OK", false }), QString());
    buffer.append(filler + "\r\n+CSQ: 99,99\r\n");
    QVERIFY(!buffer.match());
    buffer.cancel();
    QCOMPARE(buffer.recent().size(), int(ExpectBuffer::contextSize));
    QVERIFY(escapedBytes(buffer.recent()).endsWith("xx\\r\\n+CSQ: 99,99\\r\\n"));
}

void ExpectBufferTest::escaped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("a modem's answer")
        << QByteArray("\r\n+CSQ: 99,99\r\n") << "\\r\\n+CSQ: 99,99\\r\\n";
    QTest::newRow("quotes and backslashes")
        << QByteArray("say \"a\\b\"\t") << "say \\\"a\\\\b\\\"\\t";
    QTest::newRow("control and high bytes")
        << QByteArray("\0\x1b[0m\x7f\xc3\xa9\xff", 9) << "\\x00\\x1b[0m\\x7f\\xc3\\xa9\\xff";
    QTest::newRow("nothing") << QByteArray() << QString();
}

// What arrived, as a report shows it: readable, and read back by Lua as the very same bytes.
void ExpectBufferTest::escaped()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, escaped);
    QCOMPARE(escapedBytes(bytes), escaped);
    const QByteArray chunk = "return \"" + escaped.toLatin1() + '"';
    QCOMPARE(luaL_loadbuffer(m_lua, chunk.constData(), size_t(chunk.size()), "escaped"), LUA_OK);
    QCOMPARE(lua_pcall(m_lua, 0, 1, 0), LUA_OK);
    size_t size = 0;
    const char *text = lua_tolstring(m_lua, -1, &size);
    QCOMPARE(QByteArray(text, int(size)), bytes);
    QCOMPARE(describeQueries({ { bytes, false }, { "%d+", true } }),
             QStringLiteral("\"%1\" or pattern \"%d+\"").arg(escaped));
}

QTEST_APPLESS_MAIN(ExpectBufferTest)
#include "tst_expectbuffer.moc"
