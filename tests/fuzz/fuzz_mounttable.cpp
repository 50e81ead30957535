// The mount table (/proc/self/mountinfo) as mountPointOf reads it: any text parses, and mount
// points escaped as the kernel escapes them read back byte for byte.

#include "tests/fuzz/fuzzing.h"

using namespace kw;

namespace {

// The kernel writes blank, tab, line feed and backslash as three octal digits.
QByteArray escaped(const QByteArray& point) {
    QByteArray out;
    for (const char c : point) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
            out += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
        else
            out += c;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size).toByteArray();
    fs::mountPointsIn(input);

    // The input's pieces between NULs as the mount points of a table.
    const QList<QByteArray> points = input.split('\0');
    QByteArray table;
    for (qsizetype i = 0; i < points.size(); ++i)
        table += QByteArray::number(30 + i) + " 1 0:" + QByteArray::number(i) + " / " +
                 escaped(points[i]) + " rw,relatime shared:1 - tmpfs tmpfs rw\n";
    KW_FUZZ_CHECK(fs::mountPointsIn(table) == points);
    return 0;
}
