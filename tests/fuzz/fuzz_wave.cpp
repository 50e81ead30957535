// The sound file: any bytes are a playable wave file or refused, and what is played lies inside
// the file.

#include "platform/wave.h"
#include "tests/fuzz/fuzzing.h"

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const std::optional<WaveLayout> layout = ParseWave(bytes);
    const std::optional<WaveSound> sound = DecodeWave(bytes);
    KW_FUZZ_CHECK(layout.has_value() == sound.has_value());
    if (!layout)
        return 0;
    KW_FUZZ_CHECK(layout->channels > 0 && layout->sampleRate > 0);
    KW_FUZZ_CHECK(layout->dataOffset >= 12 && layout->dataOffset <= bytes.size());
    const qint64 inFile = qMin(layout->dataLength, bytes.size() - layout->dataOffset);
    KW_FUZZ_CHECK(sound->channels == layout->channels && sound->sampleRate == layout->sampleRate);
    if (layout->bits == 24)
        KW_FUZZ_CHECK(sound->samples.size() == inFile / 3 * 4);
    else
        KW_FUZZ_CHECK(sound->samples == bytes.sliced(layout->dataOffset, inFile));
    return 0;
}
