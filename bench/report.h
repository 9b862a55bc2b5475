#pragma once

#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <cstdio>
#include <vector>

// A child hands its figures to the run in one line of its standard output.
void printFigures(const QJsonObject &figures);
// The figures in a child's output; empty when it printed none.
QJsonObject figuresIn(const QByteArray &output);

// The median and the longest of a few runs, and every run.
QJsonObject medianAndMax(const std::vector<double> &ms);

// One markdown table: a single run with its naive view beside it, or several runs side by side.
void printTable(const QList<QJsonObject> &runs, const QStringList &names, FILE *out);
// Earlier runs' --json files in one table; 2 when one cannot be read.
int combineTables(const QStringList &paths);
// A run's heading, table and verdict on standard output, or on standard error with the JSON
// line on standard output.
void printRun(const QJsonObject &run, bool json);
