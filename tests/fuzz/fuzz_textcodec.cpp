// File names and data file text: every byte string survives decoding and encoding unchanged.

#include "platform/textcodec.h"
#include "tests/fuzz/fuzzing.h"

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const QString text = decodeLocal(bytes);
    KW_FUZZ_CHECK(encodeLocal(text) == bytes);
    KW_FUZZ_CHECK(decodeLocal(encodeLocal(text)) == text);
    return 0;
}
