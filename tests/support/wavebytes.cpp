#include "tests/support/wavebytes.h"

namespace kw::test {

QByteArray littleEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char(value >> (8 * i)));
    return out;
}

QByteArray riffChunk(const QByteArray& id, const QByteArray& body) {
    const QByteArray pad(body.size() % 2, '\0');
    return id + littleEndian(body.size(), 4) + body + pad;
}

QByteArray waveFile(const WaveShape& shape) {
    const quint16 blockAlign = quint16(shape.channels * (shape.bits / 8));
    QByteArray fmt = littleEndian(shape.format, 2) + littleEndian(shape.channels, 2) +
                     littleEndian(shape.sampleRate, 4) +
                     littleEndian(shape.sampleRate * blockAlign, 4) + littleEndian(blockAlign, 2) +
                     littleEndian(shape.bits, 2);
    if (shape.format == 0xFFFE)
        fmt += littleEndian(22, 2) + littleEndian(shape.bits, 2) + littleEndian(0, 4) +
               littleEndian(shape.subFormat, 2) + QByteArray(14, '\x01');
    const QByteArray body =
        "WAVE" + shape.extra + riffChunk("fmt ", fmt) + riffChunk("data", shape.samples);
    return "RIFF" + littleEndian(body.size(), 4) + body;
}

}  // namespace kw::test
