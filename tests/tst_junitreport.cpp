#include "junitreport.h"
#include "testenvironment.h"

#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>

using Build = std::function<void(RunOutcome &)>;
Q_DECLARE_METATYPE(Build)

// The report of a run, as the outcomes the runner builds come out in it: what each testcase
// says, and that the strictest common reader takes the file.
class JUnitReportTest : public QObject {
    Q_OBJECT

private slots:
    void report_data();
    void report();
    void namedTests();
    void traceback();
    void writesTheFile();
};

namespace {
// The schema Jenkins reads JUnit reports by (junit-4): what a testcase and a testsuite may
// carry, and in which order.
const char schema[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" elementFormDefault="qualified">
  <xs:element name="failure">
    <xs:complexType mixed="true">
      <xs:attribute name="type" type="xs:string" use="optional"/>
      <xs:attribute name="message" type="xs:string" use="optional"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="error">
    <xs:complexType mixed="true">
      <xs:attribute name="type" type="xs:string" use="optional"/>
      <xs:attribute name="message" type="xs:string" use="optional"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="properties">
    <xs:complexType>
      <xs:sequence>
        <xs:element ref="property" maxOccurs="unbounded"/>
      </xs:sequence>
    </xs:complexType>
  </xs:element>
  <xs:element name="property">
    <xs:complexType>
      <xs:attribute name="name" type="xs:string" use="required"/>
      <xs:attribute name="value" type="xs:string" use="required"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="skipped">
    <xs:complexType mixed="true">
      <xs:attribute name="message" type="xs:string" use="optional"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="system-err" type="xs:string"/>
  <xs:element name="system-out" type="xs:string"/>
  <xs:element name="testcase">
    <xs:complexType>
      <xs:sequence>
        <xs:element ref="skipped" minOccurs="0" maxOccurs="1"/>
        <xs:element ref="error" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element ref="failure" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element ref="system-out" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element ref="system-err" minOccurs="0" maxOccurs="unbounded"/>
      </xs:sequence>
      <xs:attribute name="name" type="xs:string" use="required"/>
      <xs:attribute name="assertions" type="xs:string" use="optional"/>
      <xs:attribute name="time" type="xs:string" use="optional"/>
      <xs:attribute name="classname" type="xs:string" use="optional"/>
      <xs:attribute name="status" type="xs:string" use="optional"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="testsuite">
    <xs:complexType>
      <xs:sequence>
        <xs:element ref="properties" minOccurs="0" maxOccurs="1"/>
        <xs:element ref="testcase" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element ref="system-out" minOccurs="0" maxOccurs="1"/>
        <xs:element ref="system-err" minOccurs="0" maxOccurs="1"/>
      </xs:sequence>
      <xs:attribute name="name" type="xs:string" use="required"/>
      <xs:attribute name="tests" type="xs:string" use="required"/>
      <xs:attribute name="failures" type="xs:string" use="optional"/>
      <xs:attribute name="errors" type="xs:string" use="optional"/>
      <xs:attribute name="time" type="xs:string" use="optional"/>
      <xs:attribute name="disabled" type="xs:string" use="optional"/>
      <xs:attribute name="skipped" type="xs:string" use="optional"/>
      <xs:attribute name="timestamp" type="xs:string" use="optional"/>
      <xs:attribute name="hostname" type="xs:string" use="optional"/>
      <xs:attribute name="id" type="xs:string" use="optional"/>
      <xs:attribute name="package" type="xs:string" use="optional"/>
    </xs:complexType>
  </xs:element>
  <xs:element name="testsuites">
    <xs:complexType>
      <xs:sequence>
        <xs:element ref="testsuite" minOccurs="0" maxOccurs="unbounded"/>
      </xs:sequence>
      <xs:attribute name="name" type="xs:string" use="optional"/>
      <xs:attribute name="time" type="xs:string" use="optional"/>
      <xs:attribute name="tests" type="xs:string" use="optional"/>
      <xs:attribute name="failures" type="xs:string" use="optional"/>
      <xs:attribute name="disabled" type="xs:string" use="optional"/>
      <xs:attribute name="errors" type="xs:string" use="optional"/>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

QString counts(const QXmlStreamAttributes &a)
{
    return QStringLiteral("%1 tests, %2 failures, %3 errors")
        .arg(a.value("tests").toString(), a.value("failures").toString(),
             a.value("errors").toString());
}

// The report line by line: the run's and each suite's counts, the properties, each testcase with
// its assertions and what failed it (an error's text after its message), what the script wrote.
QStringList describe(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    QStringList lines;
    while (reader.readNext() != QXmlStreamReader::Invalid && !reader.atEnd()) {
        if (!reader.isStartElement())
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        auto a = [&attributes](const char *name) { return attributes.value(name).toString(); };
        const QString element = reader.name().toString();
        if (element == QLatin1String("testsuites"))
            lines << "run: " + counts(attributes);
        else if (element == QLatin1String("testsuite"))
            lines << "suite " + a("name") + ": " + counts(attributes);
        else if (element == QLatin1String("property"))
            lines << "property " + a("name") + "=" + a("value");
        else if (element == QLatin1String("testcase"))
            lines << QStringLiteral("case %1 (%2)").arg(a("name"), a("assertions"));
        else if (element == QLatin1String("failure"))
            lines << "  failure " + a("message");
        else if (element == QLatin1String("error"))
            lines << "  error " + a("message") + " | " + reader.readElementText();
        else if (element == QLatin1String("system-out"))
            lines << "out: " + reader.readElementText();
    }
    if (reader.hasError())
        return { "malformed: " + reader.errorString() };
    return lines;
}

ScriptOutcome script(const QString &name)
{
    ScriptOutcome outcome;
    outcome.name = name;
    outcome.file = name + QLatin1String(".lua");
    outcome.started = QDateTime(QDate(2024, 5, 1), QTime(12, 0));
    return outcome;
}

const ExpectMiss busy { "Serial", "expect \"OK\" or pattern \"%+CSQ: (%d+)\"",
                        "no match within 2000 ms", "\r\n+CSQ: 99,99\r\nBUSY\r\n" };
} // namespace

void JUnitReportTest::report_data()
{
    QTest::addColumn<Build>("build");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("described");

    QTest::newRow("checks outside a test, one missing its answer")
        << Build([](RunOutcome &run) {
               ScriptOutcome s = script("t1");
               s.addCheck("modem answers AT", true, 0.1, "t1.lua:3");
               s.addCheck("signal in range", false, 0.4, "t1.lua:5", busy);
               s.ended = true;
               run.scripts << s;
           })
        << 1
        << QStringList {
               "run: 2 tests, 1 failures, 0 errors",
               "suite t1: 2 tests, 1 failures, 0 errors",
               "case modem answers AT (1)",
               "case signal in range (1)",
               "  failure check \"signal in range\" failed at t1.lua:5; Serial: expect \"OK\" or "
               "pattern \"%+CSQ: (%d+)\": no match within 2000 ms; arrived "
               "\"\\r\\n+CSQ: 99,99\\r\\nBUSY\\r\\n\"",
           };
    QTest::newRow("named tests: passed, failed by two checks, failed by an error")
        << Build([](RunOutcome &run) {
               ScriptOutcome s = script("t2");
               QVERIFY(s.beginTest("answers", "t2.lua:1", 0));
               s.addCheck("first", true, 0.1, "t2.lua:2");
               s.addCheck("second", true, 0.2, "t2.lua:3");
               s.endTest(0.3);
               s.addCheck("between", true, 0.35, "t2.lua:5");
               QVERIFY(s.beginTest("fails", "t2.lua:6", 0.4));
               s.addCheck("low", false, 0.5, "t2.lua:7");
               s.addCheck("high", false, 0.6, "t2.lua:8", busy);
               s.endTest(0.7);
               QVERIFY(s.beginTest("throws", "t2.lua:10", 0.8));
               s.endTest(0.9,
                         ScriptOutcome::Error { "t2.lua:11: boom",
                                                "t2.lua:11",
                                                { "t2.lua:11: in function <t2.lua:10>",
                                                  "t2.lua:10: in main chunk" } });
               s.ended = true;
               run.scripts << s;
           })
        << 3
        << QStringList {
               "run: 4 tests, 1 failures, 1 errors",
               "suite t2: 4 tests, 1 failures, 1 errors",
               "case answers (2)",
               "case between (1)",
               "case fails (2)",
               "  failure check \"low\" failed at t2.lua:7",
               "  failure check \"high\" failed at t2.lua:8; Serial: expect \"OK\" or pattern "
               "\"%+CSQ: (%d+)\": no match within 2000 ms; arrived "
               "\"\\r\\n+CSQ: 99,99\\r\\nBUSY\\r\\n\"",
               "case throws (0)",
               "  error t2.lua:11: boom | t2.lua:11: boom\nstack traceback:\n\tt2.lua:11: in "
               "function <t2.lua:10>\n\tt2.lua:10: in main chunk",
           };
    QTest::newRow("an error outside a test, and one its message does not place")
        << Build([](RunOutcome &run) {
               ScriptOutcome s = script("t3");
               s.addCheck("before", true, 0.1, "t3.lua:1");
               s.error = "t3.lua:4: attempt to index a nil value (local 't')";
               s.errorWhere = "t3.lua:4";
               s.ended = true;
               run.scripts << s;
               ScriptOutcome late = script("t4");
               late.error = "the script ran longer than its limit of 1 h";
               late.errorWhere = "t4.lua:12";
               late.ended = true;
               run.scripts << late;
           })
        << 3
        << QStringList {
               "run: 3 tests, 0 failures, 2 errors",
               "suite t3: 2 tests, 0 failures, 1 errors",
               "case before (1)",
               "case script error (0)",
               "  error t3.lua:4: attempt to index a nil value (local 't') | t3.lua:4: attempt "
               "to index a nil value (local 't')",
               "suite t4: 1 tests, 0 failures, 1 errors",
               "case script error (0)",
               "  error t4.lua:12: the script ran longer than its limit of 1 h | t4.lua:12: the "
               "script ran longer than its limit of 1 h",
           };
    QTest::newRow("stopped inside a test: the test takes the error")
        << Build([](RunOutcome &run) {
               ScriptOutcome s = script("t5");
               QVERIFY(s.beginTest("waits", "t5.lua:1", 0));
               s.addCheck("opened", true, 0.1, "t5.lua:2");
               s.error = "stopped: the run was told to end";
               s.errorWhere = "t5.lua:3";
               s.seconds = 2;
               s.ended = true;
               run.scripts << s;
           })
        << 3
        << QStringList {
               "run: 1 tests, 0 failures, 1 errors",
               "suite t5: 1 tests, 0 failures, 1 errors",
               "case waits (1)",
               "  error t5.lua:3: stopped: the run was told to end | t5.lua:3: stopped: the run "
               "was told to end",
           };
    QTest::newRow("a script with no check is a failure")
        << Build([](RunOutcome &run) {
               ScriptOutcome s = script("t6");
               s.addOutput("only a note");
               s.ended = true;
               run.scripts << s;
           })
        << 1
        << QStringList {
               "run: 1 tests, 1 failures, 0 errors",
               "suite t6: 1 tests, 1 failures, 0 errors",
               "case no checks (0)",
               "  failure no checks: t6.lua ended with neither a check nor a test",
               "out: only a note\n",
           };
    QTest::newRow("properties in every suite, and what scripts wrote, made fit for XML")
        << Build([](RunOutcome &run) {
               run.properties = { { "arg.port_speed", "115200" }, { "port.serial", "/dev/pts/3" } };
               ScriptOutcome s = script("t7");
               s.addCheck(QString::fromUtf8("t\xc2\xb0 \x01 ok"), true, 0.1, "t7.lua:1");
               s.addOutput(QString::fromUtf8("signal 23 99\nbell \x07, \xef\xbf\xbf, \xc2\xb0"
                                             "C"));
               s.ended = true;
               run.scripts << s << script("t8");
               run.scripts.last().addCheck("second", true, 0.1, "t8.lua:1");
               run.scripts.last().ended = true;
           })
        << 0
        << QStringList {
               "run: 2 tests, 0 failures, 0 errors",
               "suite t7: 1 tests, 0 failures, 0 errors",
               "property arg.port_speed=115200",
               "property port.serial=/dev/pts/3",
               QString::fromUtf8("case t\xc2\xb0 \\x01 ok (1)"),
               QString::fromUtf8("out: signal 23 99\nbell \\x07, \xef\xbf\xbd, \xc2\xb0"
                                 "C\n"),
               "suite t8: 1 tests, 0 failures, 0 errors",
               "property arg.port_speed=115200",
               "property port.serial=/dev/pts/3",
               "case second (1)",
           };
    QTest::newRow("a run before any script")
        << Build([](RunOutcome &) {}) << 0 << QStringList { "run: 0 tests, 0 failures, 0 errors" };
}

// What each testcase says, the run's status, and the schema's word on the file.
void JUnitReportTest::report()
{
    QFETCH(Build, build);
    QFETCH(int, status);
    QFETCH(QStringList, described);
    RunOutcome run;
    build(run);
    if (QTest::currentTestFailed())
        return;
    const QByteArray xml = junitXml(run);
    QCOMPARE(describe(xml), described);
    QCOMPARE(run.status(), status);

    const QString xmllint = QStandardPaths::findExecutable("xmllint");
    QVERIFY2(!xmllint.isEmpty(), "xmllint (libxml2-utils) checks the report against the schema");
    TestEnvironment env;
    QVERIFY(writeFile(env.workPath() + "/junit.xsd", schema));
    QVERIFY(writeFile(env.workPath() + "/report.xml", xml));
    QProcess lint;
    lint.setWorkingDirectory(env.workPath());
    lint.start(xmllint, { "--noout", "--schema", "junit.xsd", "report.xml" });
    QVERIFY(lint.waitForFinished(60000));
    QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().constData());
}

// A test's name is its own within a script; tests do not nest; a check after a test stands
// alone again.
void JUnitReportTest::namedTests()
{
    ScriptOutcome s = script("t");
    QVERIFY(s.beginTest("once", "t.lua:1", 0));
    QVERIFY(!s.beginTest("inner", "t.lua:2", 0.1));
    s.endTest(0.2);
    QVERIFY(!s.inTest());
    QVERIFY(!s.beginTest("once", "t.lua:4", 0.3));
    s.addCheck("alone", false, 0.5, "t.lua:5");
    QCOMPARE(s.cases.size(), 2);
    QCOMPARE(s.cases.at(0).seconds, 0.2);
    QCOMPARE(s.cases.at(1).name, "alone");
    QCOMPARE(s.cases.at(1).seconds, 0.3);
    QCOMPARE(s.status(), 1);
    QVERIFY(script("u").beginTest("once", "u.lua:1", 0));
}

// Of what luaL_traceback writes, the lines of the script itself.
void JUnitReportTest::traceback()
{
    const QString lua = "stack traceback:\n\t[C]: in function 'error'\n\tt.lua:7: in upvalue "
                        "'fail'\n\tt.lua:12: in function <t.lua:10>\n\t[C]: in function "
                        "'test'\n\tt.lua:10: in main chunk\n\t[C]: in ?";
    QCOMPARE(scriptTraceback(lua, "t.lua"),
             QStringList({ "t.lua:7: in upvalue 'fail'", "t.lua:12: in function <t.lua:10>",
                           "t.lua:10: in main chunk" }));
    QCOMPARE(scriptTraceback(lua, "other.lua"), QStringList());
}

// The file holds what junitXml gives; a folder that is not there is a reason, not a crash.
void JUnitReportTest::writesTheFile()
{
    TestEnvironment env;
    RunOutcome run;
    run.scripts << script("t");
    run.scripts.last().addCheck("c", true, 0.1, "t.lua:1");
    QString why;
    QVERIFY(writeJUnitReport(env.workPath() + "/r.xml", run, &why));
    QCOMPARE(fileContents(env.workPath() + "/r.xml"), junitXml(run));
    QVERIFY(!writeJUnitReport(env.workPath() + "/missing/r.xml", run, &why));
    QVERIFY(!why.isEmpty());
}

QTEST_APPLESS_MAIN(JUnitReportTest)
#include "tst_junitreport.moc"
