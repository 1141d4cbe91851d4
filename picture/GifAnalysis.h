// GIF block analysis for the animated picture control: recognises GIF data,
// walks its block sequence, counts the frames and cuts each frame out as a
// self-contained GIF (header and global colour table, the frame's blocks, a
// trailer) for the platform's picture loader. No pixel is decoded here.
// Portable: no windows.h, no COM; the control owns the pictures.
#pragma once
#include <cstdint>

namespace vestrel {

struct GifSize {
    int32_t cx = 0;
    int32_t cy = 0;
};

struct GifPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Kind of the block at the parse position, by its first byte and, for an
// extension (0x21), its label.
enum GifBlockKind {
    BLOCK_APPLICATION,  // 0x21 0xFF
    BLOCK_COMMENT,      // 0x21 0xFE
    BLOCK_CONTROL,      // 0x21 0xF9, graphic control extension
    BLOCK_PLAINTEXT,    // 0x21 0x01
    BLOCK_IMAGE,        // 0x2C, descriptor + local colour table + image data
    BLOCK_TRAILER,      // 0x3B
    BLOCK_UNKNOWN,      // anything else, or no byte left
};

// One frame as ExtractFrame finds it. The span is the run of the buffer from
// the frame's first block (its graphic control extension, or its image or
// plain text block) through the end of its image or plain text block.
struct GifFrameDesc {
    uint32_t nSpanStart = 0;       // offset of the span in the buffer
    uint32_t cbSpan = 0;           // length of the span
    uint32_t nDelay = 0xFFFFFFFF;  // hundredths of a second; all bits set: no control extension
    GifSize size;                  // image descriptor width, height
    GifPoint origin;               // image descriptor left, top
    uint32_t nDisposal = 0;        // (packed >> 2) & 7 of the control extension, else 0
};

class CGifAnalysis {
public:
    // Header plus global colour table come first in every frame stream.
    static constexpr uint32_t kHeaderSize = 13;

    // Takes the buffer for analysis (it must stay valid until End) and says
    // whether the data takes the GIF path: "GIF" followed by "87a" or "89a".
    // Any other data, including "GIF" with another version, is not GIF and is
    // left to the general picture loader; the analysis then holds no buffer.
    // GIF data too short for its 13-byte header and the global colour table
    // it announces still takes the GIF path, but the analysis holds no buffer
    // either, so it yields no frame and the load fails: handing a torn header
    // to the general loader would only move the failure elsewhere.
    bool Begin(const uint8_t* bytes, uint32_t size);
    // Lets go of the buffer; every parse operation fails from here on.
    void End();

    // Frames from the first block on, by SkipFrame until it fails. The parse
    // position is back at the first block afterwards, ready for ExtractFrame.
    int CountFrames();
    // Back to the first block after the header and global colour table.
    void Rewind();

    // The next frame from the parse position: fills `desc` and moves past
    // the frame, or returns false when there is none (end, trailer, damage).
    // On a plain text frame `desc.size` and `desc.origin` are left as given.
    bool ExtractFrame(GifFrameDesc& desc);
    // 14 + colour table + span: the byte count of the frame's stream; 0 when
    // `desc` does not describe a span of the buffer under analysis.
    uint32_t FrameStreamLength(const GifFrameDesc& desc) const;
    // Lays out the frame's stream in `out` (FrameStreamLength bytes): header
    // and global colour table unchanged, the span, the trailer 0x3B. Writes
    // nothing and returns false when FrameStreamLength is 0.
    bool WriteFrameStream(const GifFrameDesc& desc, uint8_t* out) const;

    // Block walk at the parse position.
    GifBlockKind ClassifyBlock() const;
    // Length of the block; -1 for BLOCK_UNKNOWN; 0 when it cannot be measured
    // (a chain running past the end, fixed fields past the end, a length
    // beyond the int range).
    int BlockLength() const;
    // Measure of the sub-block chain at `offset`, terminator included; 0 when
    // the chain runs past the end of the buffer.
    int SubBlockChainLength(uint64_t offset) const;
    // Moves past the block when it has a length and fits in the buffer.
    bool SkipBlock();
    // Moves past the next frame; used to count frames.
    bool SkipFrame();

    bool IsGif() const { return m_bIsGif; }
    const uint8_t* Bytes() const { return m_pBytes; }
    uint32_t ByteCount() const { return m_cbBytes; }
    uint32_t Position() const { return m_nPos; }
    int32_t ColorTableSize() const { return m_cbColorTable; }
    GifSize PictureSize() const { return m_sizePicture; }

private:
    bool SkipLeadingBlocks(GifBlockKind& kind);
    bool SkipToFrameBody(uint64_t* span);
    bool Has(uint64_t offset, uint64_t count) const;
    uint8_t Byte(uint64_t offset) const { return m_pBytes[offset]; }
    uint16_t Word(uint64_t offset) const;

    const uint8_t* m_pBytes = nullptr;  // the buffer, while the analysis runs
    uint32_t m_cbBytes = 0;
    uint32_t m_nPos = 0;                // start of the block being looked at
    int32_t m_cbColorTable = 0;         // global colour table bytes, 0 without
    bool m_bIsGif = false;
    GifSize m_sizePicture;              // logical screen
};

}  // namespace vestrel
