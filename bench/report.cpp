#include "report.h"

#include <QJsonDocument>

#include <cstdio>

namespace {

void printLine(const QString &figure, const QString &app, const QString &baseline,
               const QString &ratio, const QString &target, const QString &verdict)
{
    QString line = QStringLiteral("%1 %2 %3 %4 %5 %6")
                       .arg(figure, -40)
                       .arg(app, 24)
                       .arg(baseline, 24)
                       .arg(ratio, 8)
                       .arg(target, -18)
                       .arg(verdict);
    // Trailing padding only: the leading spaces indent a section's rows.
    while (line.endsWith(QLatin1Char(' ')))
        line.chop(1);
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace

void Report::header() const
{
    printLine(QStringLiteral("figure"), QStringLiteral("TeskManager"), QStringLiteral("baseline"),
              QStringLiteral("ratio"), QStringLiteral("target"), QString());
    std::printf("%s\n", QString(124, QLatin1Char('-')).toLatin1().constData());
}

void Report::section(const QString &title) const
{
    std::printf("\n%s\n", title.toLocal8Bit().constData());
    std::fflush(stdout);
}

void Report::row(const QString &figure, const QString &app, const QString &baseline,
                 const QString &ratio, const QString &target, Verdict verdict)
{
    if (verdict == Verdict::Missed)
        ++missed;
    printLine(QStringLiteral("  ") + figure, app, baseline, ratio, target,
              verdict == Verdict::Met          ? QStringLiteral("ok")
                  : verdict == Verdict::Missed ? QStringLiteral("MISSED")
                                               : QString());
}

void Report::printJson() const
{
    std::printf("BENCH_JSON %s\n", QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

std::optional<double> ratio(double app, double baseline)
{
    if (!(baseline > 0) || !std::isfinite(app))
        return std::nullopt;
    return app / baseline;
}

QString ratioText(std::optional<double> value)
{
    return value ? fixed(*value) + QLatin1Char('x') : QString();
}

Report::Verdict verdict(bool met)
{
    return met ? Report::Verdict::Met : Report::Verdict::Missed;
}
