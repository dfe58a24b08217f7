#pragma once
#include "base/flexbuf.h"

#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

// A TFlexBuf bound to files: side 0 reads, side 1 writes, both may be open at once.
// Names ending in ".wav" (any case) are RIFF/WAVE PCM files (one file with every channel
// interleaved, or several mono files); other names are raw files of one channel each: an
// 8-byte header (rate, format code, both signed 32-bit) and the samples.
class TFlexFileBuf : public TFlexBuf {
public:
    static constexpr int MaxFiles = 16;
    enum { ReadSide = 0, WriteSide = 1 };
    enum { Closed = 0, WavFile = 1, RawFile = 2 };

    struct TFileSide {
        int32_t FileType = Closed;
        bool Opened = false;
        int Handles[MaxFiles];
        std::string FileNames[MaxFiles];
        int64_t DataOffsets[MaxFiles] = {}; // first sample of each file
        int32_t FileCount = 0;
        int32_t FileChannels = 0;
        int32_t FileBits = 0;
        int32_t FileRate = 0;
        int64_t DataOffset = 0; // that of the first file
        int64_t TotalFrames = 0;
        int64_t Position = 0;

        TFileSide();
    };

    TFlexFileBuf() = default;
    ~TFlexFileBuf() override;

    // Closes the side, then opens `fileCount` of `names` (0 on success, 1 on failure; a
    // failed open leaves the side closed). Reading takes rate and bits from the files; a
    // file count of 0 means 1 for WAV and `channels` for raw; several WAV files must be mono
    // and as many as the channels. Writing takes each of rate, bits, file count and
    // channels that is 0 from the read side; WAV files are written as 8/16/24/32-bit PCM,
    // one file with every channel or one file per channel, raw files as 16..65 one per
    // channel. Headers are refused unless they describe 1..16 channels of 8/16/24/32-bit
    // PCM with a consistent block align and a non-zero rate; frame counts never exceed
    // what the files hold.
    [[nodiscard]] int OpenFile(int side, const std::vector<std::string>& names, int rate, int bits, int fileCount,
                 int channels);
    // Closes the side's files; a written WAV gets its final sizes in the header first.
    void CloseFile(int side);

    // Reads up to `frames` frames from the read side into the block, which is re-allocated
    // to exactly the frames asked for (capped at what is left); returns the frames read.
    int ReadBlock(int frames);
    // Writes block frames first..first + count - 1 to the write side, converting the block
    // to the side's format first; returns the frames written.
    int WriteBlock(int first, int count);
    // Writes `frames` frames from the caller's arrays of `bits`-bit samples, one per channel;
    // in the side's own format they go to the file without passing through the block.
    // Returns the frames written.
    int WriteFrames(const void* const* channels, int channelCount, int bits, int frames);
    // Moves the side to `frame`; returns the new position in frames.
    int64_t SeekFrame(int side, int64_t frame);

    int GetFileChannels(int side) const;
    int64_t GetFileLength(int side) const;
    int64_t GetFilePos(int side) const;
    int GetFileBits(int side) const;
    int GetFileRate(int side) const;
    const TFileSide& GetSide(int side) const;

private:
    bool OpenWavForReading(TFileSide& s, int channels);
    bool OpenRawForReading(TFileSide& s);
    bool OpenForWriting(TFileSide& s, int rate, int bits, int channels);
    void FinishWavHeaders(const TFileSide& s);
    int WriteFrom(TFileSide& s, const void* const* from, int count);

    TFileSide Sides[2];
    std::vector<uint8_t> Scratch; // interleaved bytes, reused between blocks
};

} // namespace marlix
