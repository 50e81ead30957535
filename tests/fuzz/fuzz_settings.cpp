// The settings file as a user or another program may have left it: loading never fails, and
// writing one setting changes that setting only.

#include "core/inifile.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "tests/fuzz/fuzzing.h"

#include <QStringList>

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString ini = fuzz::fileWith("Kopierwart.ini", data, size);
    Settings my;
    my.INI = ini;
    SettingsStore store(my);
    store.load();
    store.storedScanInterval();

    static const QStringList keys{"Source",    "Destination", "Sound", "Color",
                                  "Intervall", "MB",          "Fl"};
    QStringList before;
    for (const QString& key : keys)
        before.append(ReadIniValue(ini, key, key));
    const QString folder = QStringLiteral("/home/anna/Zielordner \xC3\xA4/");
    KW_FUZZ_CHECK(
        WriteIniValue(ini, QStringLiteral("Destination"), QStringLiteral("Destination"), folder));
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString expected = keys[i] == QLatin1String("Destination") ? folder : before[i];
        KW_FUZZ_CHECK(ReadIniValue(ini, keys[i], keys[i]) == expected);
    }
    return 0;
}
