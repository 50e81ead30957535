#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Dates, times and numbers in the fixed German forms every file of the program uses, whatever
// the environment's locale, so that what was written reads back the same.
namespace kw {

QString dateText(const QDateTime& when);  // dd.MM.yyyy
QString timeText(const QDateTime& when);  // HH:mm:ss
// The general date-time text: date and time, the date alone at exactly midnight, the time alone
// for the zero date-time.
QString generalDateTimeText(const QDateTime& when);
// The zero date-time (30.12.1899 00:00:00 UTC) stands for a time that cannot be read.
QDateTime zeroDateTime();

// A whole number as text may carry a sign; nothing else. nullopt when text is not one.
std::optional<qint64> parseInteger(const QString& text);
// A decimal number with a decimal comma; nullopt when text is not one.
std::optional<double> parseDecimal(const QString& text);
// The shortest text with at most 15 significant digits, with a decimal comma.
QString decimalText(double value);
// value rounded to the given decimals, halves to the even neighbour.
double roundHalfEven(double value, int decimals);

}  // namespace kw
