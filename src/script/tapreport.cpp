#include "tapreport.h"

#include "expectbuffer.h"

#include <utility>

namespace {
const QString subtest = QStringLiteral("    ");
const QString diagnostic = QStringLiteral("      ");

// A point's description ends at a line's end and a "#" starts a directive, so both are kept out.
QString description(const QString &name)
{
    QString text = name;
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('#'), QLatin1String("\\#"))
        .replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// A YAML double-quoted scalar. YAML shares the escapes of escapedBytes, but its "\xHH" is a
// character, not a byte: only ASCII goes through them.
QString quoted(const QString &text)
{
    QString escaped;
    QByteArray ascii;
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            ascii += char(c.unicode());
            continue;
        }
        escaped += escapedBytes(std::exchange(ascii, {})) + c;
    }
    return QLatin1Char('"') + escaped + escapedBytes(ascii) + QLatin1Char('"');
}

// The first problem of a failed testcase in full, the others by their message. Lists are
// strings of lines: perl's YAMLish reads `- "t.lua:7: in main chunk"` as a hash.
QStringList yamlBlock(const ScriptOutcome::Case &c)
{
    QStringList lines { QStringLiteral("---") };
    QStringList others;
    if (c.error) {
        lines << QStringLiteral("message: ") + quoted(c.error->text());
        if (!c.error->where.isEmpty())
            lines << QStringLiteral("at: ") + quoted(c.error->where);
        if (!c.error->traceback.isEmpty())
            lines << QStringLiteral("traceback: ")
                    + quoted(c.error->traceback.join(QLatin1Char('\n')));
    }
    for (int i = 0; i < c.failures.size(); ++i) {
        const ScriptOutcome::Failure &failure = c.failures.at(i);
        if (c.error || i > 0) {
            others << failure.text();
            continue;
        }
        lines << QStringLiteral("message: ") + quoted(failure.message);
        if (!failure.where.isEmpty())
            lines << QStringLiteral("at: ") + quoted(failure.where);
        if (failure.miss) {
            lines << QStringLiteral("expected: ")
                    + quoted(failure.miss->channel + QLatin1String(": ") + failure.miss->waitedFor)
                  << QStringLiteral("reason: ") + quoted(failure.miss->reason)
                  << QStringLiteral("arrived: \"%1\"").arg(escapedBytes(failure.miss->arrived));
        }
    }
    if (!others.isEmpty())
        lines << QStringLiteral("more: ") + quoted(others.join(QLatin1Char('\n')));
    lines << QStringLiteral("...");
    return lines;
}
} // namespace

QString tapHeader()
{
    return QStringLiteral("TAP version 13");
}

QStringList tapScriptBegins(const ScriptOutcome &script)
{
    return { QStringLiteral("# Subtest: ") + description(script.name) };
}

QStringList tapCase(int number, const ScriptOutcome::Case &testcase)
{
    QStringList lines { subtest
                        + QStringLiteral("%1 %2 - %3")
                              .arg(testcase.passed() ? QStringLiteral("ok")
                                                     : QStringLiteral("not ok"))
                              .arg(number)
                              .arg(description(testcase.name)) };
    if (!testcase.passed()) {
        for (const QString &line : yamlBlock(testcase))
            lines << diagnostic + line;
    }
    return lines;
}

QStringList tapComment(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n')))
        lines << subtest + QStringLiteral("# ") + line;
    return lines;
}

QStringList tapScriptEnds(int number, const ScriptOutcome &script, int streamed)
{
    const QVector<ScriptOutcome::Case> cases = script.reportedCases();
    QStringList lines;
    for (int i = qMax(streamed, 0); i < cases.size(); ++i)
        lines << tapCase(i + 1, cases.at(i));
    lines << subtest + tapPlan(int(cases.size()));
    lines << QStringLiteral("%1 %2 - %3")
                 .arg(script.status() == 0 ? QStringLiteral("ok") : QStringLiteral("not ok"))
                 .arg(number)
                 .arg(description(script.name));
    return lines;
}

QString tapPlan(int scripts)
{
    return QStringLiteral("1..%1").arg(scripts);
}

QString tapSummary(const RunOutcome &run)
{
    const int scripts = int(run.scripts.size());
    const int errors = run.errors();
    return QStringLiteral("%1 %2, %3 passed, %4 failed, %5 %6 in %7 s")
        .arg(scripts)
        .arg(scripts == 1 ? QStringLiteral("script") : QStringLiteral("scripts"))
        .arg(run.passed())
        .arg(run.failed())
        .arg(errors)
        .arg(errors == 1 ? QStringLiteral("error") : QStringLiteral("errors"))
        .arg(QString::number(run.seconds, 'f', 1));
}

QStringList tapStream(const RunOutcome &run)
{
    QStringList lines { tapHeader() };
    for (int i = 0; i < run.scripts.size(); ++i) {
        const ScriptOutcome &script = run.scripts.at(i);
        lines << tapScriptBegins(script);
        const QVector<ScriptOutcome::Case> cases = script.reportedCases();
        for (int c = 0; c < cases.size(); ++c)
            lines << tapCase(c + 1, cases.at(c));
        for (const QString &line : script.output)
            lines << tapComment(line);
        lines << tapScriptEnds(i + 1, script, int(cases.size()));
    }
    lines << tapPlan(int(run.scripts.size()));
    return lines;
}
