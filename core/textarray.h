#pragma once

#include <QStringList>

#include <optional>

namespace kw {

// A dynamic array of texts as the lists of the program use it: it may have no bounds at all
// (never dimensioned, or emptied by ListBoxToArray), or bounds 0 to count - 1, where an empty
// list (bounds 0 to -1) is still an array that can be walked.
using TextArray = std::optional<QStringList>;

bool ArrayHasBounds(const TextArray& entries);
// count - 1 (so -1 for bounds 0 to -1), -1 for an array without bounds.
int ArrayUpperBound(const TextArray& entries);

// Adds value at the end; an array without bounds becomes the one-element array {value}.
void AddArray(TextArray& entries, const QString& value);
// Removes element index; 9 when index is outside the array. Removing the only element leaves an
// array without bounds.
int RemoveArrayItem(TextArray& entries, int index);

// Index of the first element equal to value between start and end (-1: the bounds); -1 when none,
// -2 for an array without bounds. Compares without regard to case unless caseSensitive.
int FindInArray(const TextArray& entries, const QString& value, int start = -1, int end = -1,
                bool caseSensitive = false);
// Index of the first line of a list equal to text; -1 when none.
int FindListEntry(const QStringList& lines, const QString& text, bool caseSensitive = false);

}  // namespace kw
