#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Wave files (RIFF/WAVE) as the sound player takes them: uncompressed PCM of 8, 16, 24 or 32 bits
// and 32-bit float, plain or in the extensible format. Pure logic on bytes.
namespace kw {

enum class SampleFormat { UInt8, Int16, Int32, Float };

struct WaveLayout {
    SampleFormat format = SampleFormat::Int16;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint16 bits = 0;       // bits per sample in the file
    qint64 dataOffset = 0;  // where the samples start
    qint64 dataLength = 0;  // as the header says; the file may hold less
};

// Walks the chunks up to "data"; nullopt unless a playable "fmt " chunk comes before it. The start
// of a file is enough: the samples themselves are not looked at.
std::optional<WaveLayout> ParseWave(QByteArrayView bytes);

// The samples of a whole file as a sound device takes them: little-endian, 24-bit samples widened
// to 32 bits (the format then says Int32), cut where the file ends before the header's length.
struct WaveSound {
    SampleFormat format = SampleFormat::Int16;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    QByteArray samples;
};
std::optional<WaveSound> DecodeWave(QByteArrayView bytes);

}  // namespace kw
