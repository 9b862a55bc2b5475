#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

// What a script run comes to: every check in order, and the error that stopped it, if any.
struct ScriptOutcome {
    struct Check {
        QString name;
        bool passed = false;
        // Since the previous check, or the start: the time of the step the check ends.
        double seconds = 0;
        QString where; // "file.lua:12"
    };
    QString name; // the script's file name without .lua
    QDateTime started;
    double seconds = 0;
    QVector<Check> checks;
    QString error;
    // Since the last check, or the start, up to the error.
    double errorSeconds = 0;

    int passed() const;
    int failed() const;
};

// Writes the outcome as a JUnit XML report, which CI servers read: one testsuite named after the
// script, a testcase per check with its time and a failure element when it failed, and a
// testcase "script error" with an error element when an error stopped the script. False, with
// the reason, when the file could not be written.
bool writeJUnitReport(const QString &path, const ScriptOutcome &outcome, QString *why);
