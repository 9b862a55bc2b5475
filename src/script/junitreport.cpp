#include "junitreport.h"

#include "expectbuffer.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <algorithm>

QString ExpectMiss::text() const
{
    const QString got = arrived.isEmpty()
        ? QStringLiteral("nothing arrived")
        : QStringLiteral("arrived \"%1\"").arg(escapedBytes(arrived));
    return QStringLiteral("%1: %2: %3; %4").arg(channel, waitedFor, reason, got);
}

QString ScriptOutcome::Failure::text() const
{
    return miss ? message + QLatin1String("; ") + miss->text() : message;
}

QString ScriptOutcome::Error::text() const
{
    // Lua puts the place in front of most messages; where it did not, the report does.
    static const QRegularExpression placed(QStringLiteral("^[^\\s:]+:\\d+:"));
    if (where.isEmpty() || placed.match(message).hasMatch())
        return message;
    return where + QLatin1String(": ") + message;
}

void ScriptOutcome::addCheck(const QString &checkName, bool passed, double at, const QString &where,
                             const std::optional<ExpectMiss> &miss)
{
    const Failure failure { QStringLiteral("check \"%1\" failed at %2").arg(checkName, where),
                            where, miss };
    if (inTest()) {
        Case &test = cases.last();
        test.assertions++;
        if (!passed)
            test.failures.append(failure);
        return;
    }
    Case check { checkName, false, where, at - m_lastSeconds, 1, {}, std::nullopt, false };
    if (!passed)
        check.failures.append(failure);
    cases.append(check);
    m_lastSeconds = at;
}

bool ScriptOutcome::beginTest(const QString &testName, const QString &where, double at)
{
    const bool used = std::any_of(cases.begin(), cases.end(),
                                  [&](const Case &c) { return c.test && c.name == testName; });
    if (used || inTest())
        return false;
    cases.append({ testName, true, where, 0, 0, {}, std::nullopt, true });
    m_lastSeconds = at;
    return true;
}

void ScriptOutcome::endTest(double at, const std::optional<Error> &failedBy)
{
    if (!inTest())
        return;
    Case &test = cases.last();
    test.open = false;
    test.seconds = at - m_lastSeconds;
    test.error = failedBy;
    m_lastSeconds = at;
}

void ScriptOutcome::addOutput(const QString &text)
{
    output << text.split(QLatin1Char('\n'));
}

QVector<ScriptOutcome::Case> ScriptOutcome::reportedCases() const
{
    QVector<Case> reported = cases;
    const std::optional<Error> stoppedBy = error.isEmpty()
        ? std::nullopt
        : std::optional<Error>(Error { error, errorWhere, errorTraceback });
    if (inTest()) {
        // The test was under way when the script stopped: what stopped it failed the test.
        Case &test = reported.last();
        test.open = false;
        test.seconds = qMax(0.0, seconds - m_lastSeconds);
        if (!test.error)
            test.error = stoppedBy;
    } else if (stoppedBy) {
        reported.append({ QStringLiteral("script error"),
                          false,
                          errorWhere,
                          errorSeconds,
                          0,
                          {},
                          stoppedBy,
                          false });
    }
    if (ended && reported.isEmpty()) {
        const Failure none { QStringLiteral("no checks: %1 ended with neither a check nor a test")
                                 .arg(file.isEmpty() ? name : file),
                             file, std::nullopt };
        reported.append({ QStringLiteral("no checks"),
                          false,
                          file,
                          seconds,
                          0,
                          { none },
                          std::nullopt,
                          false });
    }
    return reported;
}

namespace {
int countCases(const QVector<ScriptOutcome::Case> &cases,
               bool (*counted)(const ScriptOutcome::Case &))
{
    return int(std::count_if(cases.begin(), cases.end(), counted));
}

bool passedCase(const ScriptOutcome::Case &c)
{
    return c.passed();
}

bool failedCase(const ScriptOutcome::Case &c)
{
    return !c.error && !c.failures.isEmpty();
}

bool errorCase(const ScriptOutcome::Case &c)
{
    return bool(c.error);
}

template<typename Count> int sum(const QVector<ScriptOutcome> &scripts, Count count)
{
    int total = 0;
    for (const ScriptOutcome &script : scripts)
        total += (script.*count)();
    return total;
}
} // namespace

int ScriptOutcome::passed() const
{
    return countCases(reportedCases(), passedCase);
}

int ScriptOutcome::failed() const
{
    return countCases(reportedCases(), failedCase);
}

int ScriptOutcome::errors() const
{
    return countCases(reportedCases(), errorCase);
}

int ScriptOutcome::status() const
{
    const QVector<Case> reported = reportedCases();
    if (countCases(reported, errorCase) > 0)
        return 3;
    return countCases(reported, failedCase) > 0 ? 1 : 0;
}

int RunOutcome::passed() const
{
    return sum(scripts, &ScriptOutcome::passed);
}

int RunOutcome::failed() const
{
    return sum(scripts, &ScriptOutcome::failed);
}

int RunOutcome::errors() const
{
    return sum(scripts, &ScriptOutcome::errors);
}

int RunOutcome::status() const
{
    int worst = 0;
    for (const ScriptOutcome &script : scripts)
        worst = qMax(worst, script.status());
    return worst;
}

QStringList scriptTraceback(const QString &luaTraceback, const QString &file)
{
    const QString own = file + QLatin1Char(':');
    QStringList lines;
    for (const QString &line : luaTraceback.split(QLatin1Char('\n'))) {
        const QString step = line.trimmed();
        if (step.startsWith(own))
            lines << step;
    }
    return lines;
}

namespace {
QString seconds(double value)
{
    return QString::number(value, 'f', 3);
}

// What XML 1.0 cannot hold, a script's text may: control characters are written as Lua would
// escape them, and what is no character at all as the replacement character.
QString xmlSafe(const QString &text)
{
    QString safe;
    safe.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') {
            safe += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            safe += c;
            safe += text.at(++i);
        } else if (c.isSurrogate() || u == 0xfffe || u == 0xffff) {
            safe += QChar(QChar::ReplacementCharacter);
        } else {
            safe += c;
        }
    }
    return safe;
}

void writeProblem(QXmlStreamWriter &xml, const QString &element, const QString &type,
                  const QString &message, const QString &body)
{
    xml.writeStartElement(element);
    xml.writeAttribute(QStringLiteral("message"), xmlSafe(message));
    xml.writeAttribute(QStringLiteral("type"), type);
    xml.writeCharacters(xmlSafe(body));
    xml.writeEndElement();
}

QString failureBody(const ScriptOutcome::Failure &failure)
{
    if (!failure.miss)
        return failure.message;
    const ExpectMiss &miss = *failure.miss;
    return QStringLiteral("%1\n%2: %3: %4\narrived: \"%5\"")
        .arg(failure.message, miss.channel, miss.waitedFor, miss.reason,
             escapedBytes(miss.arrived));
}

// A testcase's children come in the order the schema wants: the error, then the failures.
void writeCase(QXmlStreamWriter &xml, const QString &suite, const ScriptOutcome::Case &c)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), xmlSafe(c.name));
    xml.writeAttribute(QStringLiteral("classname"), xmlSafe(suite));
    xml.writeAttribute(QStringLiteral("time"), seconds(c.seconds));
    xml.writeAttribute(QStringLiteral("assertions"), QString::number(c.assertions));
    if (c.error) {
        QString body = c.error->text();
        if (!c.error->traceback.isEmpty())
            body += QLatin1String("\nstack traceback:\n\t")
                + c.error->traceback.join(QLatin1String("\n\t"));
        writeProblem(xml, QStringLiteral("error"), QStringLiteral("error"), c.error->text(), body);
    }
    for (const ScriptOutcome::Failure &failure : c.failures)
        writeProblem(xml, QStringLiteral("failure"), QStringLiteral("check"), failure.text(),
                     failureBody(failure));
    xml.writeEndElement();
}

void writeTotals(QXmlStreamWriter &xml, int tests, int failures, int errors)
{
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
}

// Properties first, then the testcases, then what the script wrote.
void writeSuite(QXmlStreamWriter &xml, const ScriptOutcome &o, const RunOutcome &run)
{
    const QVector<ScriptOutcome::Case> cases = o.reportedCases();
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), xmlSafe(o.name));
    writeTotals(xml, int(cases.size()), countCases(cases, failedCase),
                countCases(cases, errorCase));
    xml.writeAttribute(QStringLiteral("time"), seconds(o.seconds));
    if (o.started.isValid())
        xml.writeAttribute(QStringLiteral("timestamp"), o.started.toString(Qt::ISODate));
    if (!run.properties.isEmpty()) {
        xml.writeStartElement(QStringLiteral("properties"));
        for (const auto &[name, value] : run.properties) {
            xml.writeStartElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), xmlSafe(name));
            xml.writeAttribute(QStringLiteral("value"), xmlSafe(value));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    for (const ScriptOutcome::Case &c : cases)
        writeCase(xml, o.name, c);
    if (!o.output.isEmpty())
        xml.writeTextElement(QStringLiteral("system-out"),
                             xmlSafe(o.output.join(QLatin1Char('\n')) + QLatin1Char('\n')));
    xml.writeEndElement();
}
} // namespace

QByteArray junitXml(const RunOutcome &run)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    int tests = 0;
    for (const ScriptOutcome &script : run.scripts)
        tests += int(script.reportedCases().size());
    writeTotals(xml, tests, run.failed(), run.errors());
    xml.writeAttribute(QStringLiteral("time"), seconds(run.seconds));
    for (const ScriptOutcome &script : run.scripts)
        writeSuite(xml, script, run);
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

bool writeJUnitReport(const QString &path, const RunOutcome &run, QString *why)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const QByteArray xml = junitXml(run);
        if (file.write(xml) == xml.size() && file.commit())
            return true;
    }
    if (why)
        *why = file.errorString();
    return false;
}

bool writeJUnitReport(const QString &path, const ScriptOutcome &outcome, QString *why)
{
    RunOutcome run;
    run.scripts << outcome;
    run.seconds = outcome.seconds;
    return writeJUnitReport(path, run, why);
}
