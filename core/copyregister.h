#pragma once

#include "core/textarray.h"

#include <QMultiHash>
#include <QString>

namespace kw {

// The copied-files register held in memory: the key of every moved file in the order of
// copying, and beside them a hash of their case-folded forms, so that a tick over many files
// does not walk the whole register for each of them. Finds exactly what FindInArray finds.
class CopyRegister {
public:
    CopyRegister() = default;
    // Implicit, so a loaded list file can be assigned as it is.
    CopyRegister(TextArray keys);  // NOLINT(google-explicit-constructor)

    const TextArray& keys() const { return m_keys; }
    bool contains(const QString& key) const;
    void append(const QString& key);

private:
    TextArray m_keys;
    QMultiHash<size_t, qsizetype> m_positions;  // folded hash -> index in m_keys
};

}  // namespace kw
