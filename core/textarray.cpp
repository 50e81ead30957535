#include "core/textarray.h"

namespace kw {

bool ArrayHasBounds(const TextArray& entries) {
    return entries.has_value();
}

int ArrayUpperBound(const TextArray& entries) {
    return entries ? int(entries->size()) - 1 : -1;
}

void AddArray(TextArray& entries, const QString& value) {
    if (!entries)
        entries = QStringList();
    entries->append(value);
}

int RemoveArrayItem(TextArray& entries, int index) {
    if (!entries || index < 0 || index >= entries->size())
        return 9;
    entries->removeAt(index);
    if (entries->isEmpty())
        entries.reset();
    return 0;
}

int FindInArray(const TextArray& entries, const QString& value, int start, int end,
                bool caseSensitive) {
    if (!entries)
        return -2;
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const int first = start > -1 ? start : 0;
    const int last = end == -1 ? int(entries->size()) - 1 : end;
    if (last >= entries->size())
        return -2;
    for (int i = first; i <= last; ++i) {
        if ((*entries)[i].compare(value, cs) == 0)
            return i;
    }
    return -1;
}

int FindListEntry(const QStringList& lines, const QString& text, bool caseSensitive) {
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(text, cs) == 0)
            return i;
    }
    return -1;
}

}  // namespace kw
