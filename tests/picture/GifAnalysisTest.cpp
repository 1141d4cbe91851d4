#include "GifAnalysis.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using vestrel::CGifAnalysis;
using vestrel::GifFrameDesc;
using Bytes = std::vector<uint8_t>;

namespace {

// Builds GIF byte sequences block by block. Image data is a made-up LZW
// chain: the analysis measures it, it never decodes it.
class GifBuilder {
public:
    explicit GifBuilder(const char* version = "89a", int tableBits = 1, uint16_t w = 16, uint16_t h = 8)
    {
        Put("GIF");
        Put(version);
        Word(w);
        Word(h);
        m_b.push_back(tableBits > 0 ? static_cast<uint8_t>(0x80 | (tableBits - 1)) : 0);
        m_b.push_back(0);
        m_b.push_back(0);
        if (tableBits > 0)
            for (int i = 0; i < 3 << tableBits; ++i)
                m_b.push_back(static_cast<uint8_t>(0xC0 + i));
    }
    GifBuilder& Application()  // NETSCAPE2.0, loop forever
    {
        Put("\x21\xFF\x0B" "NETSCAPE2.0" "\x03\x01");
        Put({0, 0, 0});
        return *this;
    }
    GifBuilder& Comment(const std::string& text)
    {
        Put({0x21, 0xFE});
        return Chain(text.size());
    }
    GifBuilder& Control(uint16_t delay, uint8_t packed, uint8_t blockSize = 4)
    {
        Put({0x21, 0xF9, blockSize, packed});
        Word(delay);
        Put({0x05, 0x00});
        return *this;
    }
    GifBuilder& Image(uint16_t x, uint16_t y, uint16_t w, uint16_t h, size_t dataBytes = 20, int localBits = 0)
    {
        m_b.push_back(0x2C);
        Word(x);
        Word(y);
        Word(w);
        Word(h);
        m_b.push_back(localBits > 0 ? static_cast<uint8_t>(0x80 | (localBits - 1)) : 0);
        if (localBits > 0)
            for (int i = 0; i < 3 << localBits; ++i)
                m_b.push_back(static_cast<uint8_t>(0x40 + i));
        m_b.push_back(2);  // LZW minimum code size
        return Chain(dataBytes);
    }
    GifBuilder& PlainText()
    {
        Put({0x21, 0x01, 0x0C});
        for (int i = 0; i < 12; ++i)
            m_b.push_back(static_cast<uint8_t>(i + 1));
        return Chain(5);
    }
    GifBuilder& Raw(std::initializer_list<uint8_t> bytes)
    {
        Put(bytes);
        return *this;
    }
    GifBuilder& Trailer() { return Raw({0x3B}); }
    size_t Size() const { return m_b.size(); }
    const Bytes& Get() const { return m_b; }

private:
    // Sub-blocks of at most 255 bytes and the zero terminator.
    GifBuilder& Chain(size_t bytes)
    {
        for (uint8_t fill = 1; bytes > 0; ++fill) {
            const size_t n = bytes > 255 ? 255 : bytes;
            m_b.push_back(static_cast<uint8_t>(n));
            m_b.insert(m_b.end(), n, fill);
            bytes -= n;
        }
        m_b.push_back(0);
        return *this;
    }
    void Put(const char* s) { m_b.insert(m_b.end(), s, s + std::strlen(s)); }
    void Put(std::initializer_list<uint8_t> bytes) { m_b.insert(m_b.end(), bytes); }
    void Word(uint16_t v)
    {
        m_b.push_back(static_cast<uint8_t>(v));
        m_b.push_back(static_cast<uint8_t>(v >> 8));
    }
    Bytes m_b;
};

struct Frame {
    GifFrameDesc desc;
    Bytes stream;
};

// Counts, then cuts every frame out the way the control does.
std::vector<Frame> Extract(CGifAnalysis& gif)
{
    std::vector<Frame> frames;
    gif.Rewind();
    Frame f;
    while (gif.ExtractFrame(f.desc)) {
        f.stream.assign(gif.FrameStreamLength(f.desc), 0xEE);
        EXPECT_TRUE(gif.WriteFrameStream(f.desc, f.stream.data()));
        frames.push_back(f);
        f = Frame();
    }
    return frames;
}

Bytes Slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }

Bytes Concat(Bytes a, const Bytes& b, uint8_t last)
{
    a.insert(a.end(), b.begin(), b.end());
    a.push_back(last);
    return a;
}

constexpr uint32_t kNoDelay = 0xFFFFFFFF;
constexpr size_t kHeader2 = 13 + 6;  // header with a 2-entry global table

}  // namespace

TEST(GifRecognition, TakesGif87aAndGif89aAndReadsTheScreen)
{
    for (const char* version : {"87a", "89a"}) {
        const Bytes b = GifBuilder(version, 8, 690, 109).Image(0, 0, 1, 1).Trailer().Get();
        CGifAnalysis gif;
        ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size()))) << version;
        EXPECT_TRUE(gif.IsGif());
        EXPECT_EQ(690, gif.PictureSize().cx);
        EXPECT_EQ(109, gif.PictureSize().cy);
        EXPECT_EQ(768, gif.ColorTableSize());
        EXPECT_EQ(13u + 768u, gif.Position());
    }
    const Bytes none = GifBuilder("89a", 0).Image(0, 0, 1, 1).Trailer().Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(none.data(), static_cast<uint32_t>(none.size())));
    EXPECT_EQ(0, gif.ColorTableSize());
    EXPECT_EQ(13u, gif.Position());
    EXPECT_EQ(1, gif.CountFrames());
}

TEST(GifRecognition, OtherDataIsNotGif)
{
    Bytes b = GifBuilder().Image(0, 0, 1, 1).Trailer().Get();
    for (const char* head : {"GIF88a", "GIF90a", "gif89a", "XIF89a", "GIF8a9"}) {
        std::memcpy(b.data(), head, 6);
        CGifAnalysis gif;
        EXPECT_FALSE(gif.Begin(b.data(), static_cast<uint32_t>(b.size()))) << head;
        EXPECT_FALSE(gif.IsGif());
        EXPECT_EQ(0, gif.CountFrames());
    }
    CGifAnalysis gif;
    EXPECT_FALSE(gif.Begin(reinterpret_cast<const uint8_t*>("GIF89"), 5));
    EXPECT_FALSE(gif.Begin(nullptr, 100));
}

TEST(GifRecognition, HeaderCutBeforeItsColourTableYieldsNoFrame)
{
    const Bytes b = GifBuilder("89a", 8).Image(0, 0, 1, 1).Trailer().Get();
    for (uint32_t n : {6u, 12u, 13u, 100u, 13u + 767u}) {
        auto cut = std::make_unique<uint8_t[]>(n);  // exact size: ASan sees any over-read
        std::memcpy(cut.get(), b.data(), n);
        CGifAnalysis gif;
        EXPECT_TRUE(gif.Begin(cut.get(), n)) << n;
        EXPECT_TRUE(gif.IsGif());
        EXPECT_EQ(0, gif.CountFrames());
        GifFrameDesc d;
        EXPECT_FALSE(gif.ExtractFrame(d));
    }
}

TEST(GifBlockMeasure, LengthsByKind)
{
    const Bytes b = GifBuilder()
                        .Application()         // 14 + 4 + 1
                        .Comment("hello")      // 2 + 6 + 1
                        .Control(8, 0)         // 8
                        .PlainText()           // 15 + 6 + 1
                        .Image(0, 0, 4, 4, 300, 2)  // 11 + 12 + (256 + 46 + 1)
                        .Raw({0x21, 0x77})
                        .Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    const int expected[] = {19, 9, 8, 22, 326};
    for (int length : expected) {
        EXPECT_EQ(length, gif.BlockLength());
        const uint32_t at = gif.Position();
        ASSERT_TRUE(gif.SkipBlock());
        EXPECT_EQ(at + length, gif.Position());
    }
    EXPECT_EQ(vestrel::BLOCK_UNKNOWN, gif.ClassifyBlock());
    EXPECT_EQ(-1, gif.BlockLength());
    EXPECT_FALSE(gif.SkipBlock());
}

TEST(GifBlockMeasure, ChainsAreMeasuredWithinTheBuffer)
{
    // A comment whose count byte points past the end cannot be skipped.
    Bytes b = GifBuilder().Raw({0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x09, 'x'}).Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(0, gif.SubBlockChainLength(kHeader2 + 2));
    EXPECT_EQ(0, gif.BlockLength());
    EXPECT_FALSE(gif.SkipBlock());
    EXPECT_EQ(kHeader2, gif.Position());
    // Chain at the very end or beyond it.
    EXPECT_EQ(0, gif.SubBlockChainLength(b.size()));
    EXPECT_EQ(0, gif.SubBlockChainLength(uint64_t(1) << 40));

    // A block ending exactly at the end of the data fits.
    b = GifBuilder().Image(0, 0, 1, 1, 3).Get();
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_TRUE(gif.SkipBlock());
    EXPECT_EQ(b.size(), gif.Position());
    EXPECT_FALSE(gif.SkipBlock());
}

TEST(GifFrames, OneImageIsAStillPicture)
{
    const Bytes plain = GifBuilder().Image(0, 0, 16, 8).Trailer().Get();
    const Bytes controlled = GifBuilder().Control(50, 0x09).Image(0, 0, 16, 8).Trailer().Get();
    for (const Bytes* b : {&plain, &controlled}) {
        CGifAnalysis gif;
        ASSERT_TRUE(gif.Begin(b->data(), static_cast<uint32_t>(b->size())));
        EXPECT_EQ(1, gif.CountFrames());
    }
}

TEST(GifFrames, NoFrameAtAll)
{
    for (const Bytes& b : {GifBuilder().Get(), GifBuilder().Trailer().Get(), GifBuilder().Application().Comment("x").Trailer().Get(),
                           GifBuilder().Control(8, 0).Trailer().Get()}) {
        CGifAnalysis gif;
        ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
        EXPECT_EQ(0, gif.CountFrames());
        EXPECT_TRUE(Extract(gif).empty());
    }
}

TEST(GifFrames, Version87aWithExtensionsIsWalkedLike89a)
{
    const Bytes b = GifBuilder("87a")
                        .Application()
                        .Control(8, 2 << 2)
                        .Image(0, 0, 16, 8)
                        .Control(12, 3 << 2)
                        .Image(4, 2, 8, 4)
                        .Trailer()
                        .Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(2, gif.CountFrames());
    const std::vector<Frame> f = Extract(gif);
    ASSERT_EQ(2u, f.size());
    EXPECT_EQ(8u, f[0].desc.nDelay);
    EXPECT_EQ(2u, f[0].desc.nDisposal);
    EXPECT_EQ(12u, f[1].desc.nDelay);
    EXPECT_EQ(3u, f[1].desc.nDisposal);
    EXPECT_EQ(8, f[1].desc.size.cx);
    EXPECT_EQ(4, f[1].desc.size.cy);
    EXPECT_EQ(4, f[1].desc.origin.x);
    EXPECT_EQ(2, f[1].desc.origin.y);
    EXPECT_EQ(vestrel::BLOCK_TRAILER, gif.ClassifyBlock());
}

TEST(GifFrames, ExtensionsBetweenControlAndImageBelongToTheSpan)
{
    GifBuilder g;
    g.Comment("lead");  // before the frame: not part of it
    const size_t start = g.Size();
    g.Control(7, 0x1D).Application().Comment("inside").Image(1, 2, 3, 4, 40);
    const size_t end = g.Size();
    g.Trailer();
    const Bytes& b = g.Get();

    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    const std::vector<Frame> f = Extract(gif);
    ASSERT_EQ(1u, f.size());
    EXPECT_EQ(start, f[0].desc.nSpanStart);
    EXPECT_EQ(8u + 19u + 10u + 53u, f[0].desc.cbSpan);
    EXPECT_EQ(end - start, f[0].desc.cbSpan);
    EXPECT_EQ(7u, f[0].desc.nDelay);
    EXPECT_EQ(7u, f[0].desc.nDisposal);  // 0x1D: user input and transparency bits around method 7
    EXPECT_EQ(14u + 6u + f[0].desc.cbSpan, gif.FrameStreamLength(f[0].desc));
    EXPECT_EQ(Concat(Slice(b, 0, kHeader2), Slice(b, start, end - start), 0x3B), f[0].stream);
}

TEST(GifFrames, FrameWithoutControlHasNoDelayAndNoDisposal)
{
    const Bytes b = GifBuilder().Control(9, 2 << 2).Image(0, 0, 16, 8).Image(3, 1, 5, 6).Trailer().Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    const std::vector<Frame> f = Extract(gif);
    ASSERT_EQ(2u, f.size());
    EXPECT_EQ(kNoDelay, f[1].desc.nDelay);
    EXPECT_EQ(0u, f[1].desc.nDisposal);
    EXPECT_EQ(5, f[1].desc.size.cx);
    EXPECT_EQ(3, f[1].desc.origin.x);
}

TEST(GifFrames, ControlIsEightBytesWhateverItsBlockSize)
{
    for (uint8_t blockSize : {0, 2, 4, 9, 255}) {
        GifBuilder g;
        const size_t start = g.Size();
        g.Control(20, 1 << 2, blockSize).Image(0, 0, 16, 8).Control(20, 0).Image(0, 0, 16, 8).Trailer();
        CGifAnalysis gif;
        ASSERT_TRUE(gif.Begin(g.Get().data(), static_cast<uint32_t>(g.Size())));
        EXPECT_EQ(2, gif.CountFrames()) << int(blockSize);
        const std::vector<Frame> f = Extract(gif);
        ASSERT_EQ(2u, f.size());
        EXPECT_EQ(start, f[0].desc.nSpanStart);
        EXPECT_EQ(8u + 11u + 22u, f[0].desc.cbSpan);
        EXPECT_EQ(20u, f[0].desc.nDelay);
        EXPECT_EQ(1u, f[0].desc.nDisposal);
    }
}

TEST(GifFrames, LocalColourTableIsSkippedByLengthAndCopied)
{
    GifBuilder g;
    g.Control(5, 0);
    const size_t image = g.Size();
    g.Image(0, 0, 16, 8, 30, 3);  // 8 entries: 24 bytes
    g.Control(5, 0).Image(0, 0, 16, 8).Trailer();
    const Bytes& b = g.Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    const std::vector<Frame> f = Extract(gif);
    ASSERT_EQ(2u, f.size());
    EXPECT_EQ(8u + 11u + 24u + 31u + 1u, f[0].desc.cbSpan);
    const Bytes table = Slice(b, image + 10, 24);
    EXPECT_EQ(0x40, table[0]);
    EXPECT_EQ(table, Slice(f[0].stream, kHeader2 + 8 + 10, 24));
}

TEST(GifFrames, SecondControlBeforeTheImageIsPassedOver)
{
    const Bytes b = GifBuilder().Control(30, 1 << 2).Control(40, 3 << 2).Image(0, 0, 16, 8).Control(5, 0).Image(0, 0, 2, 2).Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    const std::vector<Frame> f = Extract(gif);
    ASSERT_EQ(2u, f.size());
    EXPECT_EQ(30u, f[0].desc.nDelay);
    EXPECT_EQ(1u, f[0].desc.nDisposal);
    EXPECT_EQ(8u + 8u + 11u + 22u, f[0].desc.cbSpan);
}

TEST(GifFrames, PlainTextEndsAFrameAndLeavesGeometryAlone)
{
    const Bytes b = GifBuilder().Control(10, 2 << 2).PlainText().Control(10, 0).Image(0, 0, 16, 8).Trailer().Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(2, gif.CountFrames());
    GifFrameDesc d;
    d.size = {77, 88};
    d.origin = {5, 6};
    ASSERT_TRUE(gif.ExtractFrame(d));
    EXPECT_EQ(8u + 22u, d.cbSpan);
    EXPECT_EQ(10u, d.nDelay);
    EXPECT_EQ(77, d.size.cx);
    EXPECT_EQ(88, d.size.cy);
    EXPECT_EQ(5, d.origin.x);
    EXPECT_EQ(6, d.origin.y);
}

TEST(GifFrames, WalkStopsAtTheEndTheTrailerOrAnUnknownBlock)
{
    // No trailer: the frames before the end stay.
    Bytes b = GifBuilder().Control(8, 0).Image(0, 0, 16, 8).Control(8, 0).Image(0, 0, 16, 8).Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(2, gif.CountFrames());
    EXPECT_EQ(2u, Extract(gif).size());
    EXPECT_EQ(b.size(), gif.Position());

    // An unknown extension label between frames: only the frame before it.
    b = GifBuilder().Control(8, 0).Image(0, 0, 16, 8).Raw({0x21, 0x42, 0x01, 0x00, 0x00}).Control(8, 0).Image(0, 0, 16, 8).Trailer().Get();
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(1, gif.CountFrames());
    EXPECT_EQ(1u, Extract(gif).size());

    // An unknown block between a control extension and its image loses that frame.
    b = GifBuilder().Image(0, 0, 16, 8).Control(8, 0).Raw({0x00}).Image(0, 0, 16, 8).Trailer().Get();
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(1, gif.CountFrames());
    EXPECT_EQ(1u, Extract(gif).size());

    // Nothing after the trailer is seen.
    b = GifBuilder().Image(0, 0, 16, 8).Trailer().Image(0, 0, 16, 8).Trailer().Get();
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(1, gif.CountFrames());
}

TEST(GifFrames, StreamLayoutRefusesASpanOutsideTheBuffer)
{
    const Bytes b = GifBuilder().Image(0, 0, 16, 8).Image(0, 0, 16, 8).Trailer().Get();
    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    GifFrameDesc d;
    ASSERT_TRUE(gif.ExtractFrame(d));
    GifFrameDesc bad = d;
    bad.cbSpan = static_cast<uint32_t>(b.size());
    uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_EQ(0u, gif.FrameStreamLength(bad));
    EXPECT_FALSE(gif.WriteFrameStream(bad, out));
    EXPECT_EQ(1, out[0]);
    bad = d;
    bad.nSpanStart = 0xFFFFFFF0u;
    EXPECT_EQ(0u, gif.FrameStreamLength(bad));
    gif.End();
    EXPECT_EQ(0u, gif.FrameStreamLength(d));
    EXPECT_FALSE(gif.ExtractFrame(d));
    EXPECT_FALSE(gif.SkipFrame());
}

// Cut the data at every length: nothing is read past the cut (the copies are
// exactly sized, so ASan reports any over-read), and the frames found are
// exactly those that end before the cut, unchanged.
TEST(GifTruncation, EveryCutKeepsTheFramesBeforeIt)
{
    const Bytes full = GifBuilder("89a", 2)
                           .Application()
                           .Comment("c")
                           .Control(8, 2 << 2)
                           .Image(0, 0, 16, 8, 300)
                           .Control(9, 0)
                           .Comment("inside")
                           .Image(1, 1, 4, 4, 10, 2)
                           .PlainText()
                           .Control(3, 3 << 2, 7)
                           .Image(2, 2, 3, 3, 5)
                           .Trailer()
                           .Get();
    CGifAnalysis ref;
    ASSERT_TRUE(ref.Begin(full.data(), static_cast<uint32_t>(full.size())));
    const std::vector<Frame> all = Extract(ref);
    ASSERT_EQ(4u, all.size());

    for (size_t n = 0; n <= full.size(); ++n) {
        auto cut = std::make_unique<uint8_t[]>(n + 1);  // n == 0 still needs a pointer
        std::memcpy(cut.get(), full.data(), n);
        CGifAnalysis gif;
        const bool isGif = gif.Begin(cut.get(), static_cast<uint32_t>(n));
        EXPECT_EQ(n >= 6, isGif) << n;
        size_t complete = 0;
        for (const Frame& f : all)
            complete += f.desc.nSpanStart + f.desc.cbSpan <= n;
        EXPECT_EQ(static_cast<int>(complete), gif.CountFrames()) << n;
        const std::vector<Frame> got = Extract(gif);
        ASSERT_EQ(complete, got.size()) << n;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(all[i].desc.nSpanStart, got[i].desc.nSpanStart);
            EXPECT_EQ(all[i].stream, got[i].stream);
        }
    }
}

// The program's own banner animation, as the title banner loads it.
TEST(GifProgramBanner, TwentyFullSizeFramesOfDelay8AndDisposal2)
{
    std::ifstream in(VESTREL_BANNER_GIF, std::ios::binary);
    ASSERT_TRUE(in.good()) << VESTREL_BANNER_GIF;
    const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(b.size(), 13u);
    EXPECT_EQ(0, std::memcmp(b.data(), "GIF87a", 6));

    CGifAnalysis gif;
    ASSERT_TRUE(gif.Begin(b.data(), static_cast<uint32_t>(b.size())));
    EXPECT_EQ(690, gif.PictureSize().cx);
    EXPECT_EQ(109, gif.PictureSize().cy);
    EXPECT_EQ(768, gif.ColorTableSize());
    // One looping application extension before the frames.
    ASSERT_EQ(vestrel::BLOCK_APPLICATION, gif.ClassifyBlock());
    EXPECT_EQ(0, std::memcmp(b.data() + gif.Position() + 3, "NETSCAPE2.0", 11));

    EXPECT_EQ(20, gif.CountFrames());
    const std::vector<Frame> f = Extract(gif);
    ASSERT_EQ(20u, f.size());
    for (const Frame& fr : f) {
        const uint8_t* span = b.data() + fr.desc.nSpanStart;
        EXPECT_EQ(8u, fr.desc.nDelay);
        EXPECT_EQ(2u, fr.desc.nDisposal);
        EXPECT_EQ(690, fr.desc.size.cx);
        EXPECT_EQ(109, fr.desc.size.cy);
        EXPECT_EQ(0, fr.desc.origin.x);
        EXPECT_EQ(0, fr.desc.origin.y);
        // Control extension (transparency on) directly followed by the image,
        // which has no local colour table.
        EXPECT_EQ(0xF9, span[1]);
        EXPECT_EQ(1, span[3] & 1);
        EXPECT_EQ(0x2C, span[8]);
        EXPECT_EQ(0, span[8 + 9] & 0x80);
    }
    EXPECT_EQ(vestrel::BLOCK_TRAILER, gif.ClassifyBlock());
    EXPECT_EQ(b.size() - 1, gif.Position());
}
