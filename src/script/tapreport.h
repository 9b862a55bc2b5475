#pragma once

#include "junitreport.h"

#include <QString>
#include <QStringList>

// A run on the console as TAP version 13, written as it happens: the header, then per script a
// subtest of its testcases ("# Subtest: name", the points indented by four spaces, the subtest's
// plan after them) and the script's own point, then the plan of the run. A failed point carries a
// YAML block with the message, the file:line and what a failed expect got instead; note and print
// are comments. Debian's prove (perl's TAP::Parser) refuses a version 14 header; TAP 14 readers
// take 13 and read the indented subtests.

// "TAP version 13"
QString tapHeader();
// "# Subtest: t2", before the script's first line.
QStringList tapScriptBegins(const ScriptOutcome &script);
// The point of the script's testcase `number` (from 1), as it ends: "    ok 3 - modem answers
// AT", or "    not ok 4 - signal in range" and its YAML block.
QStringList tapCase(int number, const ScriptOutcome::Case &testcase);
// What note or print wrote, as comments among the script's points: "    # signal 23 99".
QStringList tapComment(const QString &text);
// After the script ended: the points of its reported testcases from `streamed` on (those
// tapCase was not given yet, such as the error that stopped it or "no checks"), the subtest's
// plan, and the script's own point `number` in the run.
QStringList tapScriptEnds(int number, const ScriptOutcome &script, int streamed);
// "1..3", the plan of the run: before the first script or after the last.
QString tapPlan(int scripts);
// The line that ends the run on stderr: "3 scripts, 41 passed, 2 failed, 1 error in 12.4 s".
QString tapSummary(const RunOutcome &run);
// The stream of a run that has ended, as the calls above give it piece by piece (header first,
// plan last), with what each script wrote after its points.
QStringList tapStream(const RunOutcome &run);
