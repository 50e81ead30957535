// The user's P2P list (".Tasklst"): every line parses or is skipped, and an entry written as a
// line reads back as that entry with its control characters made blanks.

#include "core/files.h"
#include "p2p/entries.h"
#include "tests/fuzz/fuzzing.h"

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TextArray lines = LoadListFile(fuzz::fileWith("Kopierwart.Tasklst", data, size));
    for (const QString& line : lines.value_or(QStringList())) {
        const std::optional<P2PEntry> entry = ParseUserP2PEntry(line);
        if (!entry)
            continue;
        KW_FUZZ_CHECK(!entry->DisplayName.isEmpty());
        const QString text = UserP2PEntryText(*entry);
        KW_FUZZ_CHECK(!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')));
        const std::optional<P2PEntry> again = ParseUserP2PEntry(text);
        KW_FUZZ_CHECK(again && again->DisplayName == PlainCaption(entry->DisplayName) &&
                      again->WindowClass == PlainCaption(entry->WindowClass));
    }
    return 0;
}
