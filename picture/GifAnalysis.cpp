#include "GifAnalysis.h"

#include <climits>
#include <cstring>

namespace vestrel {

namespace {

// Fixed part of each measured block kind, up to where its sub-block chain
// starts: introducer, label, block-size byte and fixed fields.
constexpr uint64_t kApplicationFixed = 14;
constexpr uint64_t kCommentFixed = 2;
constexpr uint64_t kPlainTextFixed = 15;
constexpr uint64_t kImageFixed = 11;  // 10-byte descriptor + LZW minimum code size
constexpr int kControlLength = 8;     // whatever its block-size byte says

// Offsets inside an image block and a graphic control extension.
constexpr uint64_t kImageLeft = 1, kImageTop = 3, kImageWidth = 5, kImageHeight = 7;
constexpr uint64_t kImagePacked = 9;
constexpr uint64_t kControlPacked = 3, kControlDelay = 4;

constexpr uint8_t kTrailer = 0x3B;

// Colour table bytes announced by a packed byte (bit 7 present, bits 0-2 N).
int32_t ColorTableBytes(uint8_t packed)
{
    return (packed & 0x80) ? 3 << ((packed & 7) + 1) : 0;
}

}  // namespace

bool CGifAnalysis::Begin(const uint8_t* bytes, uint32_t size)
{
    m_pBytes = nullptr;
    m_cbBytes = size;
    m_nPos = 0;
    m_cbColorTable = 0;
    m_bIsGif = false;
    if (bytes == nullptr || size < 6 || std::memcmp(bytes, "GIF", 3) != 0)
        return false;
    if (std::memcmp(bytes + 3, "87a", 3) != 0 && std::memcmp(bytes + 3, "89a", 3) != 0)
        return false;
    m_bIsGif = true;
    if (size < kHeaderSize)
        return true;  // no buffer held: no frame, the load fails
    m_sizePicture.cx = bytes[6] | (bytes[7] << 8);
    m_sizePicture.cy = bytes[8] | (bytes[9] << 8);
    m_cbColorTable = ColorTableBytes(bytes[10]);
    if (size < kHeaderSize + static_cast<uint32_t>(m_cbColorTable))
        return true;  // the announced colour table is cut short: as above
    m_pBytes = bytes;
    Rewind();
    return true;
}

void CGifAnalysis::End()
{
    m_pBytes = nullptr;
}

void CGifAnalysis::Rewind()
{
    if (m_pBytes != nullptr)
        m_nPos = kHeaderSize + static_cast<uint32_t>(m_cbColorTable);
}

int CGifAnalysis::CountFrames()
{
    if (m_pBytes == nullptr)
        return 0;
    Rewind();
    int frames = 0;
    while (SkipFrame())
        ++frames;
    Rewind();
    return frames;
}

bool CGifAnalysis::Has(uint64_t offset, uint64_t count) const
{
    return m_pBytes != nullptr && offset <= m_cbBytes && count <= m_cbBytes - offset;
}

uint16_t CGifAnalysis::Word(uint64_t offset) const
{
    return static_cast<uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
}

GifBlockKind CGifAnalysis::ClassifyBlock() const
{
    if (!Has(m_nPos, 1))
        return BLOCK_UNKNOWN;
    switch (Byte(m_nPos)) {
    case 0x2C:
        return BLOCK_IMAGE;
    case kTrailer:
        return BLOCK_TRAILER;
    case 0x21:
        if (!Has(m_nPos, 2))
            return BLOCK_UNKNOWN;
        switch (Byte(m_nPos + 1)) {
        case 0xFF: return BLOCK_APPLICATION;
        case 0xFE: return BLOCK_COMMENT;
        case 0xF9: return BLOCK_CONTROL;
        case 0x01: return BLOCK_PLAINTEXT;
        default: return BLOCK_UNKNOWN;
        }
    default:
        return BLOCK_UNKNOWN;
    }
}

int CGifAnalysis::SubBlockChainLength(uint64_t offset) const
{
    if (m_pBytes == nullptr)
        return 0;
    // Every step moves at least one byte on, and neither sum can pass
    // 2 * 2^32 in 64 bits, so the walk ends and nothing wraps.
    uint64_t length = 0;
    for (uint64_t p = offset;; ) {
        if (p >= m_cbBytes)
            return 0;
        const uint8_t count = Byte(p);
        if (count == 0) {
            ++length;
            break;
        }
        length += count + 1u;
        p += count + 1u;
    }
    return length > INT_MAX ? 0 : static_cast<int>(length);
}

int CGifAnalysis::BlockLength() const
{
    uint64_t fixed = 0;
    switch (ClassifyBlock()) {
    case BLOCK_UNKNOWN:
        return -1;
    case BLOCK_TRAILER:
        return 1;
    case BLOCK_CONTROL:
        return kControlLength;
    case BLOCK_APPLICATION:
        fixed = kApplicationFixed;
        break;
    case BLOCK_COMMENT:
        fixed = kCommentFixed;
        break;
    case BLOCK_PLAINTEXT:
        fixed = kPlainTextFixed;
        break;
    case BLOCK_IMAGE:
        if (!Has(m_nPos, kImagePacked + 1))
            return 0;  // the descriptor is cut before its packed byte
        fixed = kImageFixed + ColorTableBytes(Byte(m_nPos + kImagePacked));
        break;
    }
    const int chain = SubBlockChainLength(m_nPos + fixed);
    if (chain <= 0)
        return 0;
    const uint64_t length = fixed + static_cast<uint64_t>(chain);
    return length > INT_MAX ? 0 : static_cast<int>(length);
}

bool CGifAnalysis::SkipBlock()
{
    if (m_pBytes == nullptr)
        return false;
    const int length = BlockLength();
    if (length <= 0 || !Has(m_nPos, static_cast<uint64_t>(length)))
        return false;
    m_nPos += static_cast<uint32_t>(length);
    return true;
}

// Passes application and comment extensions up to the block that starts a
// frame; the trailer or anything unrecognised ends the walk.
bool CGifAnalysis::SkipLeadingBlocks(GifBlockKind& kind)
{
    for (;;) {
        kind = ClassifyBlock();
        switch (kind) {
        case BLOCK_APPLICATION:
        case BLOCK_COMMENT:
            if (!SkipBlock())
                return false;
            break;
        case BLOCK_CONTROL:
        case BLOCK_IMAGE:
        case BLOCK_PLAINTEXT:
            return true;
        default:
            return false;
        }
    }
}

// After a graphic control extension: passes every block up to the frame's
// image or plain text block (a second control extension included), adding
// their lengths to `span` when given.
bool CGifAnalysis::SkipToFrameBody(uint64_t* span)
{
    for (;;) {
        const GifBlockKind kind = ClassifyBlock();
        if (kind == BLOCK_IMAGE || kind == BLOCK_PLAINTEXT)
            return true;
        if (kind == BLOCK_UNKNOWN || kind == BLOCK_TRAILER)
            return false;
        const int length = BlockLength();
        if (!SkipBlock())
            return false;
        if (span != nullptr)
            *span += static_cast<uint64_t>(length);
    }
}

bool CGifAnalysis::SkipFrame()
{
    if (m_pBytes == nullptr)
        return false;
    GifBlockKind kind;
    if (!SkipLeadingBlocks(kind) || BlockLength() <= 0)
        return false;
    if (kind == BLOCK_CONTROL && (!SkipBlock() || !SkipToFrameBody(nullptr)))
        return false;
    return SkipBlock();
}

bool CGifAnalysis::ExtractFrame(GifFrameDesc& desc)
{
    if (m_pBytes == nullptr)
        return false;
    GifBlockKind kind;
    if (!SkipLeadingBlocks(kind))
        return false;
    const uint32_t start = m_nPos;
    const int first = BlockLength();
    if (first <= 0)
        return false;
    uint64_t span = static_cast<uint64_t>(first);
    uint32_t delay = 0xFFFFFFFF;
    uint32_t disposal = 0;
    if (kind == BLOCK_CONTROL) {
        if (!Has(m_nPos, kControlLength))
            return false;  // its fields lie past the end: nothing to read
        delay = Word(m_nPos + kControlDelay);
        disposal = (Byte(m_nPos + kControlPacked) >> 2) & 7;
        if (!SkipBlock() || !SkipToFrameBody(&span))
            return false;
        const int body = BlockLength();
        if (body <= 0)
            return false;
        span += static_cast<uint64_t>(body);
    }
    const uint32_t body = m_nPos;
    const bool image = ClassifyBlock() == BLOCK_IMAGE;
    // An image block that fits holds at least its 10-byte descriptor, so the
    // fields below are read only after the skip has proved the fit.
    if (!SkipBlock())
        return false;
    // The stream must stay addressable with 32-bit lengths.
    if (span + kHeaderSize + 1 + static_cast<uint64_t>(m_cbColorTable) > UINT32_MAX)
        return false;
    if (image) {
        desc.size.cx = Word(body + kImageWidth);
        desc.size.cy = Word(body + kImageHeight);
        desc.origin.x = Word(body + kImageLeft);
        desc.origin.y = Word(body + kImageTop);
    }
    desc.nSpanStart = start;
    desc.cbSpan = static_cast<uint32_t>(span);
    desc.nDelay = delay;
    desc.nDisposal = disposal;
    return true;
}

uint32_t CGifAnalysis::FrameStreamLength(const GifFrameDesc& desc) const
{
    const uint64_t header = kHeaderSize + static_cast<uint64_t>(m_cbColorTable);
    if (desc.cbSpan == 0 || desc.nSpanStart < header || !Has(desc.nSpanStart, desc.cbSpan))
        return 0;
    const uint64_t length = header + desc.cbSpan + 1;
    return length > UINT32_MAX ? 0 : static_cast<uint32_t>(length);
}

bool CGifAnalysis::WriteFrameStream(const GifFrameDesc& desc, uint8_t* out) const
{
    const uint32_t length = FrameStreamLength(desc);
    if (length == 0 || out == nullptr)
        return false;
    const uint32_t header = kHeaderSize + static_cast<uint32_t>(m_cbColorTable);
    std::memcpy(out, m_pBytes, header);
    std::memcpy(out + header, m_pBytes + desc.nSpanStart, desc.cbSpan);
    out[length - 1] = kTrailer;
    return true;
}

}  // namespace vestrel
