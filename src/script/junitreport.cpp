#include "junitreport.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

#include <algorithm>

int ScriptOutcome::passed() const
{
    return int(
        std::count_if(checks.begin(), checks.end(), [](const Check &c) { return c.passed; }));
}

int ScriptOutcome::failed() const
{
    return int(checks.size()) - passed();
}

namespace {
QString seconds(double value)
{
    return QString::number(value, 'f', 3);
}

void writeCase(QXmlStreamWriter &xml, const QString &suite, const QString &name, double time)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), name);
    xml.writeAttribute(QStringLiteral("classname"), suite);
    xml.writeAttribute(QStringLiteral("time"), seconds(time));
}

// The suite and the file as a whole say the same totals.
void writeTotals(QXmlStreamWriter &xml, const ScriptOutcome &o)
{
    const int errors = o.error.isEmpty() ? 0 : 1;
    xml.writeAttribute(QStringLiteral("name"), o.name);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(o.checks.size() + errors));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(o.failed()));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
}

void writeSuite(QXmlStreamWriter &xml, const ScriptOutcome &o)
{
    xml.writeStartElement(QStringLiteral("testsuite"));
    writeTotals(xml, o);
    xml.writeAttribute(QStringLiteral("time"), seconds(o.seconds));
    xml.writeAttribute(QStringLiteral("timestamp"), o.started.toString(Qt::ISODate));
    for (const ScriptOutcome::Check &check : o.checks) {
        writeCase(xml, o.name, check.name, check.seconds);
        if (!check.passed) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), check.name);
            xml.writeAttribute(QStringLiteral("type"), QStringLiteral("check"));
            xml.writeCharacters(QStringLiteral("check failed at %1").arg(check.where));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    if (!o.error.isEmpty()) {
        writeCase(xml, o.name, QStringLiteral("script error"), o.errorSeconds);
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("message"), o.error);
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("error"));
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
}
} // namespace

bool writeJUnitReport(const QString &path, const ScriptOutcome &outcome, QString *why)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QXmlStreamWriter xml(&file);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeStartElement(QStringLiteral("testsuites"));
        writeTotals(xml, outcome);
        writeSuite(xml, outcome);
        xml.writeEndElement();
        xml.writeEndDocument();
        if (!xml.hasError() && file.commit())
            return true;
    }
    if (why)
        *why = file.errorString();
    return false;
}
