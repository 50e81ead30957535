#include "core/copyregister.h"

namespace kw {
namespace {

// FNV-1a over the case-folded characters, without building the folded text.
size_t foldedHash(const QString& text) {
    size_t hash = 1469598103934665603ULL;
    for (QChar c : text) {
        hash ^= c.toCaseFolded().unicode();
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace

CopyRegister::CopyRegister(TextArray keys) : m_keys(std::move(keys)) {
    if (!m_keys)
        return;
    m_positions.reserve(m_keys->size());
    for (qsizetype i = 0; i < m_keys->size(); ++i)
        m_positions.insert(foldedHash((*m_keys)[i]), i);
}

bool CopyRegister::contains(const QString& key) const {
    const size_t hash = foldedHash(key);
    for (auto it = m_positions.find(hash); it != m_positions.end() && it.key() == hash; ++it) {
        if ((*m_keys)[it.value()].compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void CopyRegister::append(const QString& key) {
    AddArray(m_keys, key, AddMode::AtEnd);
    m_positions.insert(foldedHash(key), m_keys->size() - 1);
}

}  // namespace kw
