// The list files (".cfg", ".task", ".Tasklst", ".Copy"): any bytes load, and a loaded list
// written back loads as the same list.

#include "core/files.h"
#include "tests/fuzz/fuzzing.h"

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TextArray loaded = LoadListFile(fuzz::fileWith("Kopierwart.cfg", data, size));
    KW_FUZZ_CHECK(ArrayHasBounds(loaded));
    const QString copy = fuzz::scratchFile("Kopierwart.task");
    KW_FUZZ_CHECK(SaveListFile(loaded, copy) == 0);
    KW_FUZZ_CHECK(LoadListFile(copy) == loaded);
    return 0;
}
