#pragma once

#include <QJsonObject>
#include <QString>

#include <cmath>
#include <optional>

// The table, printed row by row as figures come in (a full run takes minutes), and the JSON
// object that collects every figure for the final BENCH_JSON line.
class Report {
public:
    enum class Verdict { None, Met, Missed };

    void header() const;
    void section(const QString &title) const;
    void row(const QString &figure, const QString &app, const QString &baseline = {},
             const QString &ratio = {}, const QString &target = {},
             Verdict verdict = Verdict::None);
    void printJson() const;

    QJsonObject json;
    int missed = 0;
};

QString fixed(double value, int decimals = 2);
// app / baseline, or nothing when the baseline is zero or absent.
std::optional<double> ratio(double app, double baseline);
QString ratioText(std::optional<double> value);
Report::Verdict verdict(bool met);
