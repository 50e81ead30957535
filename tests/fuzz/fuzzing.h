#pragma once

// Shared by the fuzz targets: files in a scratch folder for the readers that take a path, and
// the check that turns a broken property into a crash, which libFuzzer reports with its input.

#include "platform/fs.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kw::fuzz {

[[noreturn]] inline void propertyBroken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "Property broken: %s (%s:%d)\n", what, file, line);
    std::abort();
}

// A file named name in the scratch folder. A tmpfs where there is one: the writers flush every
// file they replace, which on a disk would leave few runs a second.
inline QString scratchFile(const char* name) {
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/kw-fuzz-XXXXXX")
                                 : QDir::tempPath() + QLatin1String("/kw-fuzz-XXXXXX"));
    if (!dir.isValid())
        propertyBroken("a scratch folder can be made", __FILE__, __LINE__);
    return dir.path() + QLatin1Char('/') + QLatin1String(name);
}

inline QByteArrayView bytesOf(const uint8_t* data, size_t size) {
    return QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The file named name in the scratch folder, holding the input.
inline QString fileWith(const char* name, const uint8_t* data, size_t size) {
    const QString path = scratchFile(name);
    if (fs::replaceAtomically(path, bytesOf(data, size)) != 0)
        propertyBroken("the input can be written", __FILE__, __LINE__);
    return path;
}

}  // namespace kw::fuzz

#define KW_FUZZ_CHECK(condition) \
    ((condition) ? void() : ::kw::fuzz::propertyBroken(#condition, __FILE__, __LINE__))
