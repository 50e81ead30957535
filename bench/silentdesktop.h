#pragma once

#include "core/desktop.h"

#include <memory>

namespace kw::bench {

// A desktop that shows nothing and plays nothing, so a benchmark times the work alone.
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

}  // namespace kw::bench
