#include "core/wave.h"

#include <gtest/gtest.h>

namespace {

using kw::DecodeWave;
using kw::ParseWave;
using kw::SampleFormat;

QByteArray littleEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char(value >> (8 * i)));
    return out;
}

// One RIFF chunk, padded to an even length.
QByteArray riffChunk(const QByteArray& id, const QByteArray& body) {
    return id + littleEndian(body.size(), 4) + body + QByteArray(body.size() % 2, '\0');
}

struct WaveShape {
    quint16 format = 1;     // 1 PCM, 3 float, 0xFFFE extensible, anything else compressed
    quint16 subFormat = 1;  // the real format of an extensible file
    quint16 channels = 1;
    quint16 bits = 16;
    quint32 sampleRate = 8000;
    QByteArray extra;  // chunks in front of "fmt "
    QByteArray samples = QByteArray(1600, '\x10');
};

QByteArray waveFile(const WaveShape& shape = {}) {
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

TEST(Wave, EveryPlayableSampleFormatIsRecognised) {
    struct Case {
        WaveShape shape;
        SampleFormat expected;
    };
    const Case cases[] = {
        {{.bits = 8}, SampleFormat::UInt8},
        {{.bits = 16}, SampleFormat::Int16},
        {{.bits = 24}, SampleFormat::Int32},
        {{.bits = 32}, SampleFormat::Int32},
        {{.format = 3, .bits = 32}, SampleFormat::Float},
        {{.format = 0xFFFE, .subFormat = 1, .channels = 2, .bits = 16}, SampleFormat::Int16},
        {{.format = 0xFFFE, .subFormat = 3, .bits = 32}, SampleFormat::Float},
    };
    for (const Case& c : cases) {
        const auto layout = ParseWave(waveFile(c.shape));
        ASSERT_TRUE(layout) << c.shape.format << "/" << c.shape.bits;
        EXPECT_EQ(layout->format, c.expected);
        EXPECT_EQ(layout->channels, c.shape.channels);
        EXPECT_EQ(layout->sampleRate, 8000u);
    }
}

TEST(Wave, CompressedOddInconsistentAndMisorderedFilesAreRefused) {
    const WaveShape refused[] = {
        {.format = 0x55},                   // compressed
        {.format = 3, .bits = 16},          // float of 16 bits
        {.bits = 12},                       // no whole bytes
        {.channels = 0},                    // no channels
        {.sampleRate = 0},                  // no rate
        {.format = 0xFFFE, .subFormat = 2}  // extensible, compressed inside
    };
    for (const WaveShape& shape : refused)
        EXPECT_FALSE(ParseWave(waveFile(shape))) << shape.format << "/" << shape.bits;
    // A block alignment that does not fit channels and bits.
    EXPECT_FALSE(
        ParseWave(waveFile().replace(waveFile().indexOf("fmt ") + 20, 2, littleEndian(3, 2))));

    // Chunks are walked with their padding: an odd-length chunk in front of "fmt ".
    EXPECT_TRUE(ParseWave(waveFile({.extra = riffChunk("LIST", "INFOabc")})));
    // "data" before "fmt ": nothing says how to play it.
    const QByteArray body =
        "WAVE" + riffChunk("data", "xx") + waveFile().mid(waveFile().indexOf("fmt "));
    EXPECT_FALSE(ParseWave("RIFF" + littleEndian(body.size(), 4) + body));
    // Not RIFF, not WAVE, cut inside the header, or no "data" at all.
    EXPECT_FALSE(ParseWave(QByteArray("RIFX") + waveFile().mid(4)));
    EXPECT_FALSE(ParseWave(waveFile().replace(8, 4, "AVI ")));
    EXPECT_FALSE(ParseWave(waveFile().left(30)));
    EXPECT_FALSE(ParseWave(waveFile().left(waveFile().indexOf("data"))));
    EXPECT_FALSE(ParseWave(QByteArray()));
    // The start of a file is enough to decide: the samples are not needed.
    EXPECT_TRUE(ParseWave(waveFile().left(waveFile().indexOf("data") + 8)));
}

TEST(Wave, DecodedSamplesAreCutAtTheFileEndAndWidenedFrom24Bits) {
    // The header promises 1600 bytes; the file ends after 100 of them.
    const QByteArray whole = waveFile({.samples = QByteArray(1600, '\x10')});
    const auto cut = DecodeWave(whole.left(whole.size() - 1500));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->samples, QByteArray(100, '\x10'));

    // Two 24-bit samples (plus a stray byte) become two 32-bit samples with a low zero byte.
    const auto wide = DecodeWave(waveFile({.bits = 24, .samples = "\x01\x02\x03\x04\x05\x06\x07"}));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->format, SampleFormat::Int32);
    EXPECT_EQ(wide->samples, QByteArray("\x00\x01\x02\x03\x00\x04\x05\x06", 8));

    const auto plain = DecodeWave(waveFile({.bits = 8, .samples = "abc"}));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->samples, "abc");
}

}  // namespace
