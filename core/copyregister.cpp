#include "core/copyregister.h"

namespace kw {

CopyRegister::CopyRegister(TextArray keys) : m_keys(std::move(keys)) {
    if (!m_keys)
        return;
    m_index.reserve(m_keys->size());
    for (const QString& key : *m_keys)
        m_index.insert(key);
}

void CopyRegister::append(const QString& key) {
    AddArray(m_keys, key);
    m_index.insert(key);
}

}  // namespace kw
