#include "tapreport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

Q_DECLARE_METATYPE(ScriptOutcome::Case)
Q_DECLARE_METATYPE(RunOutcome)

// The console's TAP stream, line by line as the runner writes it, and as perl's TAP::Parser
// (Debian's prove) reads it.
class TapReportTest : public QObject {
    Q_OBJECT

private slots:
    void points_data();
    void points();
    void stream();
    void summary_data();
    void summary();
    void readByProve();

private:
    // What perl's TAP::Parser makes of a stream: its points, the bytes each YAML block says
    // arrived (in hex), and its parse errors.
    QStringList parsed(const QStringList &stream);
};

namespace {
ScriptOutcome::Case check(const QString &name, const QVector<ScriptOutcome::Failure> &failures)
{
    return { name, false, "t.lua:4", 0.1, 1, failures, std::nullopt, false };
}

const ExpectMiss busy { "Serial", "expect pattern \"%+CSQ: (%d+)\"", "no match within 2000 ms",
                        "\r\n+CSQ: 99,99\r\n\x01\xff" };

// A test failed by two checks and then by an error with its traceback.
ScriptOutcome::Case thrown()
{
    ScriptOutcome::Case test {
        "setup # 2\nsecond line", true, "t.lua:8", 0.2, 2, {}, std::nullopt, false
    };
    test.failures = { { "check \"low\" failed at t.lua:9", "t.lua:9", std::nullopt },
                      { "check \"high\" failed at t.lua:11", "t.lua:11", std::nullopt } };
    test.error
        = ScriptOutcome::Error { "t.lua:10: boom",
                                 "t.lua:10",
                                 { "t.lua:10: in function <t.lua:8>", "t.lua:8: in main chunk" } };
    return test;
}

RunOutcome twoScripts()
{
    RunOutcome run;
    ScriptOutcome modem;
    modem.name = "modem";
    modem.file = "modem.lua";
    modem.addCheck("modem answers AT", true, 0.1, "modem.lua:2");
    modem.addCheck("signal in range", false, 0.2, "modem.lua:4", busy);
    modem.addOutput("signal 99 99");
    modem.ended = true;
    ScriptOutcome empty;
    empty.name = "empty";
    empty.file = "empty.lua";
    empty.ended = true;
    run.scripts << modem << empty;
    run.seconds = 12.43;
    return run;
}
} // namespace

void TapReportTest::points_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<ScriptOutcome::Case>("testcase");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("passed") << 3 << check("modem answers AT", {})
                            << QStringList { "    ok 3 - modem answers AT" };
    QTest::newRow("failed, with what arrived instead")
        << 4
        << check("signal in range",
                 { { "check \"signal in range\" failed at t.lua:4", "t.lua:4", busy } })
        << QStringList {
               "    not ok 4 - signal in range",
               "      ---",
               "      message: \"check \\\"signal in range\\\" failed at t.lua:4\"",
               "      at: \"t.lua:4\"",
               "      expected: \"Serial: expect pattern \\\"%+CSQ: (%d+)\\\"\"",
               "      reason: \"no match within 2000 ms\"",
               "      arrived: \"\\r\\n+CSQ: 99,99\\r\\n\\x01\\xff\"",
               "      ...",
           };
    QTest::newRow("an error and a failure, the name made one description")
        << 1 << thrown()
        << QStringList {
               "    not ok 1 - setup \\# 2 second line",
               "      ---",
               "      message: \"t.lua:10: boom\"",
               "      at: \"t.lua:10\"",
               "      traceback: \"t.lua:10: in function <t.lua:8>\\nt.lua:8: in main chunk\"",
               "      more: \"check \\\"low\\\" failed at t.lua:9\\ncheck \\\"high\\\" failed at "
               "t.lua:11\"",
               "      ...",
           };
}

void TapReportTest::points()
{
    QFETCH(int, number);
    QFETCH(ScriptOutcome::Case, testcase);
    QFETCH(QStringList, lines);
    QCOMPARE(tapCase(number, testcase), lines);
}

// The stream of a run: a subtest per script with its points, comments and plan, the script's
// own point, the run's plan; the testcases the script's end gives (here "no checks") come with
// the end.
void TapReportTest::stream()
{
    const RunOutcome run = twoScripts();
    const QStringList lines = tapStream(run);
    QCOMPARE(lines.mid(0, 4),
             QStringList({ "TAP version 13", "# Subtest: modem", "    ok 1 - modem answers AT",
                           "    not ok 2 - signal in range" }));
    QCOMPARE(lines.mid(11),
             QStringList({ "    # signal 99 99", "    1..2", "not ok 1 - modem", "# Subtest: empty",
                           "    not ok 1 - no checks", "      ---",
                           "      message: \"no checks: empty.lua ended with neither a check nor "
                           "a test\"",
                           "      at: \"empty.lua\"", "      ...", "    1..1", "not ok 2 - empty",
                           "1..2" }));
    // The runner streams the points as the testcases end; the end adds only what it made.
    const ScriptOutcome &empty = run.scripts.at(1);
    QCOMPARE(tapScriptEnds(2, empty, 0), lines.mid(15, 7));
    QCOMPARE(tapScriptEnds(1, run.scripts.at(0), 2), lines.mid(12, 2));
    QCOMPARE(tapComment("two\nlines"), QStringList({ "    # two", "    # lines" }));
}

void TapReportTest::summary_data()
{
    QTest::addColumn<RunOutcome>("run");
    QTest::addColumn<QString>("summary");
    QTest::newRow("two scripts") << twoScripts()
                                 << "2 scripts, 1 passed, 2 failed, 0 errors in 12.4 s";
    RunOutcome one;
    one.scripts << ScriptOutcome();
    one.scripts[0].error = "t.lua:1: boom";
    one.seconds = 0.04;
    QTest::newRow("one script, one error")
        << one << "1 script, 0 passed, 0 failed, 1 error in 0.0 s";
    QTest::newRow("nothing ran") << RunOutcome()
                                 << "0 scripts, 0 passed, 0 failed, 0 errors in 0.0 s";
}

void TapReportTest::summary()
{
    QFETCH(RunOutcome, run);
    QFETCH(QString, summary);
    QCOMPARE(tapSummary(run), summary);
}

QStringList TapReportTest::parsed(const QStringList &stream)
{
    const char *reader = R"(use TAP::Parser;
my $tap = do { local $/; <STDIN> };
my $parser = TAP::Parser->new({ tap => $tap });
while (my $result = $parser->next) {
    print $result->as_string, "\n" if $result->is_test || $result->is_plan;
    print "arrived ", unpack("H*", $result->data->{arrived}), "\n"
        if $result->is_yaml && defined $result->data->{arrived};
}
print "parse error: $_\n" for $parser->parse_errors;
)";
    QProcess perl;
    perl.start("perl", { "-e", reader });
    perl.write((stream.join('\n') + '\n').toUtf8());
    perl.closeWriteChannel();
    if (!perl.waitForFinished(60000) || perl.exitCode() != 0)
        return { "perl failed: " + perl.readAllStandardError() };
    return QString::fromUtf8(perl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// prove takes the whole stream and fails the run with the failed script; each subtest, read as
// a stream of its own, gives its points, and its YAML gives back the very bytes that arrived.
void TapReportTest::readByProve()
{
    const QString prove = QStandardPaths::findExecutable("prove");
    QVERIFY2(!prove.isEmpty(), "prove (perl) reads the stream as a CI would");
    RunOutcome passing = twoScripts();
    RunOutcome failing = passing;
    failing.scripts << ScriptOutcome();
    failing.scripts.last().name = "setup";
    failing.scripts.last().cases << thrown();
    passing.scripts.removeLast();
    passing.scripts[0].cases.removeLast();
    for (const RunOutcome &run : { failing, passing }) {
        const bool failed = run.status() != 0;
        QTemporaryFile file(QDir::tempPath() + "/stream-XXXXXX.tap");
        QVERIFY(file.open());
        file.write((tapStream(run).join('\n') + '\n').toUtf8());
        file.close();
        QProcess process;
        process.start(prove, { "--exec", "cat", file.fileName() });
        QVERIFY(process.waitForFinished(60000));
        const QByteArray said = process.readAllStandardOutput();
        QVERIFY2(!said.contains("Parse errors"), said.constData());
        QVERIFY2(said.contains(failed ? "Result: FAIL" : "Result: PASS"), said.constData());
        QCOMPARE(process.exitCode(), failed ? 1 : 0);
    }

    QStringList subtest;
    for (const QString &line : tapStream(twoScripts()).mid(2, 11))
        subtest << line.mid(4);
    QCOMPARE(parsed(QStringList { "TAP version 13" } + subtest),
             QStringList({ "ok 1 - modem answers AT", "not ok 2 - signal in range",
                           "arrived " + busy.arrived.toHex(), "1..2" }));
}

QTEST_APPLESS_MAIN(TapReportTest)
#include "tst_tapreport.moc"
