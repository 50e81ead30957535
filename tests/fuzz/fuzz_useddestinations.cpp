// The list of used destinations ("Kopierwart.Targets"): any bytes load; what a load keeps (and
// writes, when it had to make a new mark) loads again the same, and a recorded folder is found
// after the next load.

#include "scan/useddestinations.h"
#include "tests/fuzz/fuzzing.h"

using namespace kw;

namespace {

bool same(const UsedDestinations& a, const UsedDestinations& b) {
    if (a.mark() != b.mark() || a.folders() != b.folders())
        return false;
    for (const QString& folder : a.folders()) {
        if (a.mountPointOf(folder) != b.mountPointOf(folder))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString file = fuzz::fileWith("Kopierwart.Targets", data, size);
    UsedDestinations first;
    first.load(file);
    KW_FUZZ_CHECK(first.mark().size() == 16);
    UsedDestinations second;
    second.load(file);
    KW_FUZZ_CHECK(same(first, second));

    const QString folder = QStringLiteral("/media/anna/Stick/Ziel/");
    second.record(folder, QStringLiteral("/media/anna/Stick"));
    UsedDestinations third;
    third.load(file);
    KW_FUZZ_CHECK(same(second, third));
    KW_FUZZ_CHECK(third.mountPointOf(folder) == QLatin1String("/media/anna/Stick"));
    return 0;
}
