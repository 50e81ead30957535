#pragma once

#include "core/textarray.h"

#include <QSet>
#include <QString>

namespace kw {

// The copied-files register held in memory: the key of every moved file in the order of
// copying, and beside them a set of the same keys, so that a tick over many files does not walk
// the whole register for each of them. Keys compare with their letter case, as file names do
// here: "Report.txt" and "report.txt" are two files.
class CopyRegister {
public:
    CopyRegister() = default;
    // Implicit, so a loaded list file can be assigned as it is.
    CopyRegister(TextArray keys);  // NOLINT(google-explicit-constructor)

    const TextArray& keys() const { return m_keys; }
    bool contains(const QString& key) const { return m_index.contains(key); }
    void append(const QString& key);

private:
    TextArray m_keys;
    QSet<QString> m_index;
};

}  // namespace kw
