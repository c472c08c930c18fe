#pragma once

// One measured figure of a benchmark, printed as a line that bench/run reads:
//
//     @figure {"id": "export.25k", "title": ..., "value": 12.3, "unit": "s", "baseline": 4.1,
//              "baseline_name": "sqlite3", "target_ratio": 3.5, "check": true}
//
// `check` says whether the benchmark verified what it measured (files equal, flags right, rows
// right); when false, `check_detail` says what was wrong. bench/run fails the run on a false
// check, never on a missed target.

#include <QString>
#include <QStringList>

#include <optional>

namespace fis::bench {

// A verdict built up from several checks; the first failures are kept for the detail.
class Check
{
public:
    // Records `detail` as a failure unless `condition` holds; returns `condition`.
    bool require(bool condition, const QString &detail);
    void fail(const QString &detail) { require(false, detail); }
    // Takes over the failures of another check.
    void add(const Check &other);

    bool ok() const { return m_failures.isEmpty(); }
    QString detail() const { return m_failures.join(QStringLiteral("; ")); }

private:
    QStringList m_failures;
};

struct Figure
{
    QString id;    // stable, e.g. "export.25k"
    QString title; // what was measured, for the table
    double value = 0;
    QString unit;
    std::optional<double> baseline; // in the same unit
    QString baselineName;
    std::optional<double> targetRatio; // value / baseline must not exceed it
    std::optional<double> targetMax;   // value must not exceed it
    Check check;
};

// Prints the figure's line on stdout and flushes it, so that it is never lost to a later crash.
void printFigure(const Figure &figure);

} // namespace fis::bench
