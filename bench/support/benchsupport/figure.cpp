#include "benchsupport/figure.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace fis::bench {

bool Check::require(bool condition, const QString &detail)
{
    if (!condition)
        m_failures << detail;
    return condition;
}

void Check::add(const Check &other)
{
    m_failures << other.m_failures;
}

namespace {

// JSON has no NaN or infinity: a value that is not finite is a failed measurement.
QJsonValue number(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

} // namespace

void printFigure(const Figure &figure)
{
    QJsonObject line{{QStringLiteral("id"), figure.id},
                     {QStringLiteral("title"), figure.title},
                     {QStringLiteral("value"), number(figure.value)},
                     {QStringLiteral("unit"), figure.unit}};
    Check check = figure.check;
    check.require(std::isfinite(figure.value), QStringLiteral("the value was not measured"));
    if (figure.baseline) {
        line.insert(QStringLiteral("baseline"), number(*figure.baseline));
        line.insert(QStringLiteral("baseline_name"), figure.baselineName);
        check.require(std::isfinite(*figure.baseline) && *figure.baseline > 0,
                      QStringLiteral("the baseline was not measured"));
    }
    if (figure.targetRatio)
        line.insert(QStringLiteral("target_ratio"), *figure.targetRatio);
    if (figure.targetMax)
        line.insert(QStringLiteral("target_max"), *figure.targetMax);
    line.insert(QStringLiteral("check"), check.ok());
    if (!check.ok())
        line.insert(QStringLiteral("check_detail"), check.detail());
    const QByteArray json = QJsonDocument(line).toJson(QJsonDocument::Compact);
    std::printf("@figure %s\n", json.constData());
    std::fflush(stdout);
}

} // namespace fis::bench
