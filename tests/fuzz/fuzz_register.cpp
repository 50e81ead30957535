// The register of copied files ("Kopierwart.Copy"): any bytes load into the register and give a
// source path per line; a key made of any name is one line whose path reads back as that name.

#include "core/copyregister.h"
#include "core/files.h"
#include "platform/textcodec.h"
#include "scan/register.h"
#include "tests/fuzz/fuzzing.h"

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CopyRegister loaded = LoadListFile(fuzz::fileWith("Kopierwart.Copy", data, size));
    for (const QString& key : loaded.keys().value_or(QStringList())) {
        KW_FUZZ_CHECK(loaded.contains(key));
        CopyKeySourcePath(key);
    }

    // A path holds no NUL: the input's bytes up to the first one are the name.
    const QByteArrayView input = fuzz::bytesOf(data, size);
    const qsizetype nul = input.indexOf('\0');
    const QString path = decodeLocal(nul < 0 ? input : input.first(nul));
    const QDateTime created(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC);
    const QString key = CopyKey(path, qint64(size) << 20, created);
    KW_FUZZ_CHECK(CopyKeySourcePath(key) == path);
    const QString file = fuzz::scratchFile("Kopierwart.Copy.new");
    fs::removeFile(file);
    KW_FUZZ_CHECK(AppendToFile(file, key));
    const CopyRegister reread = LoadListFile(file);
    KW_FUZZ_CHECK(reread.keys() == QStringList{key} && reread.contains(key));
    return 0;
}
