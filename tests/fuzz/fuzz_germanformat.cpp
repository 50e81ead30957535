// The German numbers of the settings file ("Intervall", "Color", "MB", "Fl") and the date texts
// of the register: any text parses or is refused, and what the program writes reads back.

#include "core/germanformat.h"
#include "tests/fuzz/fuzzing.h"

#include <cmath>
#include <cstring>

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(fuzz::bytesOf(data, size));
    if (const std::optional<qint64> value = parseInteger(text))
        KW_FUZZ_CHECK(parseInteger(QString::number(*value)) == value);
    if (const std::optional<double> value = parseDecimal(text))
        KW_FUZZ_CHECK(std::isfinite(*value) && parseDecimal(decimalText(*value)).has_value());

    if (size < sizeof(qint64))
        return 0;
    qint64 whole = 0;
    double real = 0;
    std::memcpy(&whole, data, sizeof whole);
    std::memcpy(&real, data, sizeof real);
    KW_FUZZ_CHECK(parseInteger(QString::number(whole)) == whole);
    // Written with 15 significant digits: the text read back gives the same text again. Not at
    // the very end of the range, where those digits round beyond the largest double; the
    // statistics, the one decimal the program writes, stay far below it.
    if (std::isfinite(real) && std::fabs(real) < 1e300) {
        const QString written = decimalText(real);
        const std::optional<double> read = parseDecimal(written);
        KW_FUZZ_CHECK(read && decimalText(*read) == written);
        const double megabytes = roundHalfEven(std::fabs(real), 2);
        if (std::isfinite(megabytes))
            KW_FUZZ_CHECK(parseDecimal(decimalText(megabytes)).has_value());
    }
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(whole, Qt::UTC);
    generalDateTimeText(when);
    return 0;
}
