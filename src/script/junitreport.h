#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// What a failed expect or readline waited for, and what had arrived on its channel instead.
struct ExpectMiss {
    QString channel; // "Serial", "Network2"
    QString waitedFor; // `expect "OK" or "ERROR"`, `readline`
    QString reason; // "no match within 2000 ms", "link lost: ..."
    QByteArray arrived; // the last bytes, at most ExpectBuffer::contextSize

    // `Serial: expect "OK": no match within 2000 ms; arrived "\r\nBUSY\r\n"`
    QString text() const;
};

// What one script comes to, as its testsuite tells it: its testcases in the order they ended
// and what it printed. The runner adds to it as the script goes; both reports render it.
struct ScriptOutcome {
    struct Failure {
        QString message; // `check "signal in range" failed at t2.lua:4`
        QString where; // "t2.lua:4"
        std::optional<ExpectMiss> miss; // the last failed expect since the check before

        // The message and what the expect missed: `...; Serial: expect ...`.
        QString text() const;
    };
    struct Error {
        QString message; // Lua's; it often starts with the file and the line already
        QString where; // "file.lua:7", when known
        QStringList traceback; // the script's own lines of it, innermost first

        // The message with its file:line in front, once.
        QString text() const;
    };
    // A testcase: a check outside any test, or the test(name, fn) with the checks inside it.
    struct Case {
        QString name;
        bool test = false;
        QString where;
        double seconds = 0;
        int assertions = 0;
        QVector<Failure> failures;
        std::optional<Error> error;
        bool open = false; // a test that has not ended

        bool passed() const { return failures.isEmpty() && !error; }
    };

    QString name; // the script's file name without .lua
    QString file; // the script's file name as Lua names its chunk, "t2.lua"
    QDateTime started;
    double seconds = 0;
    bool ended = false;
    QVector<Case> cases;
    // The error that stopped the script outside any test, with when it came since the last
    // testcase ended (or the start).
    QString error;
    double errorSeconds = 0;
    QString errorWhere;
    QStringList errorTraceback;
    QStringList output; // what note and print wrote, line by line

    // A check at `at` seconds since the script began: a testcase of its own outside a test, one
    // assertion of the test under way inside one.
    void addCheck(const QString &checkName, bool passed, double at, const QString &where,
                  const std::optional<ExpectMiss> &miss = std::nullopt);
    // Opens the testcase of test(name, fn); false, and nothing opened, when this script ran a
    // test of that name already or one is under way.
    bool beginTest(const QString &testName, const QString &where, double at);
    // Ends the test under way, failed by an error inside it when there is one.
    void endTest(double at, const std::optional<Error> &error = std::nullopt);
    bool inTest() const { return !cases.isEmpty() && cases.last().open; }
    void addOutput(const QString &text);

    // The testcases both reports give: those above, a test still open taking the error that
    // stopped the script, a "script error" for one outside any test, and the failure "no checks"
    // of a script that ended with neither a check nor a test (`ended`).
    QVector<Case> reportedCases() const;
    // Testcases passed, failed, or failed by an error, of the reported ones.
    int passed() const;
    int failed() const;
    int errors() const;
    // 3 when an error failed a testcase, 1 when a check failed, else 0.
    int status() const;

private:
    double m_lastSeconds = 0; // when the last testcase began or ended
};

// A run of several scripts, one testsuite each, with what the run was given.
struct RunOutcome {
    QVector<ScriptOutcome> scripts;
    // In every testsuite's <properties>: "arg.port_speed" = "115200", "port.serial" =
    // "/dev/ttyUSB0".
    QVector<QPair<QString, QString>> properties;
    double seconds = 0;

    int passed() const;
    int failed() const;
    int errors() const;
    // The worst of the scripts' (0 < 1 < 3).
    int status() const;
};

// The script's own lines of a traceback luaL_traceback wrote, for the chunk `file`.
QStringList scriptTraceback(const QString &luaTraceback, const QString &file);

// The JUnit XML report of a run: one testsuite per script in one <testsuites>, as the strictest
// common reader (Jenkins' junit-4 schema) takes it. Pure: the file is written below.
QByteArray junitXml(const RunOutcome &run);

// Writes the report of the run; false, with the reason, when the file could not be written.
bool writeJUnitReport(const QString &path, const RunOutcome &run, QString *why);
bool writeJUnitReport(const QString &path, const ScriptOutcome &outcome, QString *why);
