#pragma once

// Shared by the benchmarks: a desktop that answers everything at once and shows nothing, and the
// folders a run works in.

#include "core/desktop.h"
#include "platform/textcodec.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace kw::bench {

class SilentProgress : public CopyProgress {
public:
    void SetOption(qint64, qint64, const QString&, bool) override {}
    void SetValue(qint64) override {}
    void SetMessage(const QString&) override {}
};

class SilentDesktop : public Desktop {
public:
    int ShowMessage(const QString&, const QString&, int) override { return IDOK; }
    bool PlaySoundFile(int, const QString&) override { return true; }
    void ShellOpen(const QString&, const QString&) override {}
    void OpenDocument(const QString&) override {}
    void OpenTextFile(const QString&) override {}
    std::unique_ptr<CopyProgress> CreateProgressWindow() override {
        return std::make_unique<SilentProgress>();
    }
};

// The folder the environment variable names, else fallback.
inline QString benchFolder(const char* variable, const QString& fallback) {
    const QByteArray folder = qgetenv(variable);
    return folder.isEmpty() ? fallback : decodeLocal(folder);
}

}  // namespace kw::bench
