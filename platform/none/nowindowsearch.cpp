#include "platform/none/nowindowsearch.h"

namespace kw {
namespace {

class NoWindowSearch : public WindowSearch {
public:
    NoWindowSearch(QString reason, WindowSearchLog log)
        : m_reason(std::move(reason)), m_log(std::move(log)) {}

    std::vector<TopWindow> ListTopWindows() override {
        if (!m_told && m_log)
            m_log(m_reason);
        m_told = true;
        return {};
    }
    bool HasDisplay() override { return false; }
    QString GetWindowCaption(WindowId) override { return {}; }
    bool IsWindowVisible(WindowId) override { return false; }
    std::optional<QString> GetWindowClassName(WindowId) override { return std::nullopt; }

private:
    QString m_reason;
    WindowSearchLog m_log;
    bool m_told = false;
};

}  // namespace

std::unique_ptr<WindowSearch> CreateNoWindowSearch(const QString& reason, WindowSearchLog log) {
    return std::make_unique<NoWindowSearch>(reason, std::move(log));
}

}  // namespace kw
