#include "platform/wave.h"

namespace kw {
namespace {

enum : quint16 { kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE };

quint32 readLe32(QByteArrayView bytes, qint64 at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.data()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 readLe16(QByteArrayView bytes, qint64 at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.data()) + at;
    return quint16(p[0] | p[1] << 8);
}

bool readFormat(QByteArrayView bytes, qint64 body, quint32 size, WaveLayout& layout) {
    if (size < 16 || body + 16 > bytes.size())
        return false;
    quint16 format = readLe16(bytes, body);
    layout.channels = readLe16(bytes, body + 2);
    layout.sampleRate = readLe32(bytes, body + 4);
    const quint16 blockAlign = readLe16(bytes, body + 12);
    layout.bits = readLe16(bytes, body + 14);
    if (format == kFormatExtensible) {
        // The real format is the first two bytes of the sub-format GUID.
        if (size < 40 || body + 40 > bytes.size())
            return false;
        format = readLe16(bytes, body + 24);
    }
    if (layout.channels == 0 || layout.sampleRate == 0 ||
        blockAlign != layout.channels * (layout.bits / 8))
        return false;
    if (format == kFormatFloat && layout.bits == 32) {
        layout.format = SampleFormat::Float;
        return true;
    }
    if (format != kFormatPcm)
        return false;
    switch (layout.bits) {
        case 8:
            layout.format = SampleFormat::UInt8;
            return true;
        case 16:
            layout.format = SampleFormat::Int16;
            return true;
        case 24:
        case 32:
            layout.format = SampleFormat::Int32;
            return true;
        default:
            return false;
    }
}

// Samples of 24 bits have no device format of their own: each gets a low zero byte.
QByteArray widen24To32(QByteArrayView samples) {
    QByteArray wide;
    wide.reserve(samples.size() / 3 * 4);
    for (qsizetype i = 0; i + 3 <= samples.size(); i += 3) {
        wide.append('\0');
        wide.append(samples.sliced(i, 3));
    }
    return wide;
}

}  // namespace

std::optional<WaveLayout> ParseWave(QByteArrayView bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.sliced(8, 4) != "WAVE")
        return std::nullopt;
    WaveLayout layout;
    bool formatOk = false;
    qint64 at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArrayView id = bytes.sliced(at, 4);
        const quint32 size = readLe32(bytes, at + 4);
        const qint64 body = at + 8;
        if (id == "fmt ") {
            formatOk = readFormat(bytes, body, size, layout);
        } else if (id == "data") {
            if (!formatOk)
                return std::nullopt;
            layout.dataOffset = body;
            layout.dataLength = size;
            return layout;
        }
        at = body + qint64(size) + (size & 1);  // chunks are padded to even lengths
    }
    return std::nullopt;
}

std::optional<WaveSound> DecodeWave(QByteArrayView bytes) {
    const auto layout = ParseWave(bytes);
    if (!layout)
        return std::nullopt;
    const QByteArrayView samples =
        bytes.sliced(layout->dataOffset)
            .first(qMin(layout->dataLength, bytes.size() - layout->dataOffset));
    // Little-endian samples go to the sound device as they lie in the file.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    return WaveSound{layout->format, layout->channels, layout->sampleRate,
                     layout->bits == 24 ? widen24To32(samples) : samples.toByteArray()};
}

}  // namespace kw
