#pragma once

#include <QByteArray>

namespace kw::test {

QByteArray littleEndian(quint32 value, int bytes);
// One RIFF chunk, padded to an even length.
QByteArray riffChunk(const QByteArray& id, const QByteArray& body);

struct WaveShape {
    quint16 format = 1;     // 1 PCM, 3 float, 0xFFFE extensible, anything else compressed
    quint16 subFormat = 1;  // the real format of an extensible file
    quint16 channels = 1;
    quint16 bits = 16;
    quint32 sampleRate = 8000;
    QByteArray extra;  // chunks in front of "fmt "
    QByteArray samples = QByteArray(1600, '\x10');
};
// A whole wave file of that shape.
QByteArray waveFile(const WaveShape& shape = {});

}  // namespace kw::test
