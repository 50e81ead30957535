#include "platform/wave.h"

#include <gtest/gtest.h>

#include <QtEndian>

namespace {

using namespace kw;

template <typename T>
QByteArray littleEndian(T value) {
    value = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

// One RIFF chunk, padded to an even length.
QByteArray riffChunk(const QByteArray& id, const QByteArray& body) {
    return id + littleEndian(quint32(body.size())) + body + QByteArray(body.size() % 2, '\0');
}

struct WaveShape {
    quint16 format = 1;  // 1 PCM, 3 float, anything else compressed
    quint16 channels = 1;
    quint16 bits = 16;
    QByteArray samples = QByteArray(1600, '\x10');
};

QByteArray waveFile(const WaveShape& shape = {}) {
    const quint16 align = quint16(shape.channels * (shape.bits / 8));
    const QByteArray fmt = littleEndian(shape.format) + littleEndian(shape.channels) +
                           littleEndian(8000u) + littleEndian(8000u * align) + littleEndian(align) +
                           littleEndian(shape.bits);
    const QByteArray body = "WAVE" + riffChunk("fmt ", fmt) + riffChunk("data", shape.samples);
    return "RIFF" + littleEndian(quint32(body.size())) + body;
}

TEST(Wave, PlayableSampleFormatsAreRecognisedAndAnythingElseRefused) {
    EXPECT_EQ(ParseWave(waveFile({.bits = 8})).value().format, SampleFormat::UInt8);
    EXPECT_EQ(ParseWave(waveFile({.format = 3, .bits = 32})).value().format, SampleFormat::Float);
    for (const WaveShape& refused : {WaveShape{.format = 0x55}, WaveShape{.format = 3, .bits = 16},
                                     WaveShape{.bits = 12}, WaveShape{.channels = 0}})
        EXPECT_FALSE(ParseWave(waveFile(refused)));
    EXPECT_FALSE(ParseWave(waveFile().left(30)));
    EXPECT_FALSE(ParseWave(waveFile().left(waveFile().indexOf("data"))));
}

TEST(Wave, DecodedSamplesAreCutAtTheFileEndAndWidenedFrom24Bits) {
    // The header promises 1600 bytes; the file ends after 100 of them.
    const QByteArray whole = waveFile();
    EXPECT_EQ(DecodeWave(whole.left(whole.size() - 1500)).value().samples, QByteArray(100, '\x10'));
    // Two 24-bit samples (plus a stray byte) become two 32-bit samples with a low zero byte.
    const auto wide = DecodeWave(waveFile({.bits = 24, .samples = "\x01\x02\x03\x04\x05\x06\x07"}));
    EXPECT_EQ(wide.value().format, SampleFormat::Int32);
    EXPECT_EQ(wide.value().samples, QByteArray("\x00\x01\x02\x03\x00\x04\x05\x06", 8));
}

}  // namespace
