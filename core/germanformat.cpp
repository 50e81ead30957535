#include "core/germanformat.h"

#include <QLocale>

#include <cmath>

namespace kw {
namespace {

const QLocale& germanNumbers() {
    static const QLocale locale = [] {
        QLocale l(QLocale::German, QLocale::Germany);
        l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        return l;
    }();
    return locale;
}

}  // namespace

QString dateText(const QDateTime& when) {
    return QLocale::c().toString(when, QStringLiteral("dd.MM.yyyy"));
}

QString timeText(const QDateTime& when) {
    return QLocale::c().toString(when, QStringLiteral("HH:mm:ss"));
}

QDateTime zeroDateTime() {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
}

QString generalDateTimeText(const QDateTime& when) {
    if (when == zeroDateTime())
        return timeText(when);
    if (when.time() == QTime(0, 0))
        return dateText(when);
    return dateText(when) + QLatin1Char(' ') + timeText(when);
}

std::optional<qint64> parseInteger(const QString& text) {
    bool ok = false;
    const qint64 value = germanNumbers().toLongLong(text.trimmed(), &ok);
    if (!ok || text.trimmed().isEmpty())
        return std::nullopt;
    return value;
}

std::optional<double> parseDecimal(const QString& text) {
    bool ok = false;
    const double value = germanNumbers().toDouble(text.trimmed(), &ok);
    if (!ok || text.trimmed().isEmpty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString decimalText(double value) {
    return germanNumbers().toString(value, 'g', 15);
}

double roundHalfEven(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return whole / scale;
}

}  // namespace kw
