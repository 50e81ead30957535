#include "platform/textcodec.h"

namespace kw {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// A low surrogate that follows a high one is half of a real character, not an escaped byte.
bool isEscapedByte(QStringView text, qsizetype i) {
    const char16_t c = text[i].unicode();
    if (c < 0xDC80 || c > 0xDCFF)
        return false;
    return i == 0 || !text[i - 1].isHighSurrogate();
}

// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when it is not valid.
int validSequenceLength(QByteArrayView bytes, qsizetype i, char32_t* codePoint) {
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = at(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

}  // namespace

QString decodeLocal(QByteArrayView bytes) {
    // Qt's decoders drop a leading byte-order mark; in a name it is three bytes like any other.
    if (bytes.isValidUtf8() && !bytes.startsWith(kByteOrderMark))
        return QString::fromUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t codePoint = 0;
        const int length = validSequenceLength(bytes, i, &codePoint);
        if (length == 0) {
            text.append(QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[i]))));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            text.append(QChar(QChar::highSurrogate(codePoint)));
            text.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            text.append(QChar(char16_t(codePoint)));
        }
        i += length;
    }
    return text;
}

QByteArray encodeLocal(QStringView text) {
    bool hasEscapes = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isEscapedByte(text, i)) {
            hasEscapes = true;
            break;
        }
    }
    if (!hasEscapes)
        return text.toUtf8();
    QByteArray bytes;
    bytes.reserve(text.size() * 3);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isEscapedByte(text, i))
            continue;
        bytes.append(text.sliced(runStart, i - runStart).toUtf8());
        bytes.append(static_cast<char>(text[i].unicode() - kEscapeBase));
        runStart = i + 1;
    }
    bytes.append(text.sliced(runStart).toUtf8());
    return bytes;
}

}  // namespace kw
