// Arbitrary bytes through the analysis as the control drives it: recognise,
// count, cut every frame out. Besides the sanitizers, checks that counting
// and cutting agree and that every frame stream is laid out as promised.
#include "GifAnalysis.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return 0;
    // An exactly sized copy, so any read past the end is caught.
    std::vector<uint8_t> bytes(data, data + size);
    vestrel::CGifAnalysis gif;
    if (!gif.Begin(bytes.data(), static_cast<uint32_t>(size)))
        return 0;
    const int frames = gif.CountFrames();
    const uint32_t header = 13 + static_cast<uint32_t>(gif.ColorTableSize());
    int extracted = 0;
    vestrel::GifFrameDesc desc;
    uint32_t lastEnd = 0;
    while (gif.ExtractFrame(desc)) {
        ++extracted;
        const uint32_t length = gif.FrameStreamLength(desc);
        if (length != header + desc.cbSpan + 1 || desc.nSpanStart < lastEnd || desc.nDisposal > 7)
            std::abort();
        lastEnd = desc.nSpanStart + desc.cbSpan;
        std::vector<uint8_t> stream(length);
        if (!gif.WriteFrameStream(desc, stream.data()) || stream[length - 1] != 0x3B ||
            std::memcmp(stream.data(), bytes.data(), header) != 0 ||
            std::memcmp(stream.data() + header, bytes.data() + desc.nSpanStart, desc.cbSpan) != 0)
            std::abort();
    }
    if (extracted != frames)
        std::abort();
    gif.End();
    return 0;
}
