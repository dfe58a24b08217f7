#include "base/flexfilebuf.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace marlix {

namespace {

constexpr int kWavHeaderBytes = 44;
constexpr int kRawHeaderBytes = 8;
// Byte limits of the three tag scans of a WAV header.
constexpr size_t kWaveScan = 8193;
constexpr size_t kFmtScan = 10241;
constexpr size_t kDataScan = 10241;
constexpr size_t kFmtFieldBytes = 20; // chunk size, then 16 bytes of format
constexpr size_t kMaxHeadBytes = kWaveScan + kFmtScan + kFmtFieldBytes + kDataScan + 4;
// The RIFF size field (data bytes + 36) has to fit 32 bits.
constexpr int64_t kMaxWavDataBytes = 0xFFFFFFFFll - 36;

uint32_t GetLE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void PutLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutLE16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

bool HasWavExtension(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".wav";
}

// Opens a regular file for reading; anything else (a folder, a pipe that would block)
// is refused.
int OpenExisting(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int64_t FileSize(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Reads until `bytes` are in or the file ends; returns the bytes read.
int64_t ReadFully(int fd, void* buf, int64_t bytes)
{
    auto* p = static_cast<uint8_t*>(buf);
    int64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::read(fd, p + done, static_cast<size_t>(bytes - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t WriteFully(int fd, const void* buf, int64_t bytes)
{
    auto* p = static_cast<const uint8_t*>(buf);
    int64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::write(fd, p + done, static_cast<size_t>(bytes - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool SeekTo(int fd, int64_t offset) { return ::lseek(fd, offset, SEEK_SET) == offset; }

bool PatchLE32(int fd, int64_t offset, uint32_t v)
{
    uint8_t field[4];
    PutLE32(field, v);
    return ::pwrite(fd, field, 4, offset) == 4;
}

struct TWavFormat {
    uint16_t Tag = 0;
    uint16_t Channels = 0;
    uint32_t Rate = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    uint32_t DataSize = 0;
    int64_t DataOffset = 0;
};

// Finds the header's tags by sliding a 4-byte window over the bytes, without walking
// chunk sizes, so longer fmt chunks and chunks before "data" are passed over.
class THeaderScanner {
public:
    explicit THeaderScanner(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}

    bool ScanFor(const char* tag, size_t limit)
    {
        const uint32_t wanted = uint32_t(uint8_t(tag[0])) << 24 | uint8_t(tag[1]) << 16 |
                                uint8_t(tag[2]) << 8 | uint8_t(tag[3]);
        uint32_t window = 0;
        for (size_t n = 0; n < limit && Offset < Bytes.size(); ++n) {
            window = window << 8 | Bytes[Offset++];
            if (window == wanted)
                return true;
        }
        return false;
    }

    const uint8_t* Take(size_t n)
    {
        if (Bytes.size() - Offset < n)
            return nullptr;
        Offset += n;
        return Bytes.data() + Offset - n;
    }

    size_t Pos() const { return Offset; }

private:
    const std::vector<uint8_t>& Bytes;
    size_t Offset = 0;
};

std::optional<TWavFormat> ParseWavHeader(const std::vector<uint8_t>& head)
{
    THeaderScanner scan(head);
    if (!scan.ScanFor("WAVE", kWaveScan) || !scan.ScanFor("fmt ", kFmtScan))
        return std::nullopt;
    const uint8_t* f = scan.Take(kFmtFieldBytes);
    if (!f || !scan.ScanFor("data", kDataScan))
        return std::nullopt;
    const uint8_t* d = scan.Take(4);
    if (!d)
        return std::nullopt;
    TWavFormat fmt;
    fmt.Tag = GetLE16(f + 4);
    fmt.Channels = GetLE16(f + 6);
    fmt.Rate = GetLE32(f + 8);
    fmt.BlockAlign = GetLE16(f + 16);
    fmt.BitsPerSample = GetLE16(f + 18);
    fmt.DataSize = GetLE32(d);
    fmt.DataOffset = static_cast<int64_t>(scan.Pos());
    return fmt;
}

// Plain PCM with a layout the block can hold; float and extensible files are refused.
bool IsPlayablePcm(const TWavFormat& f)
{
    const bool bitsOk = f.BitsPerSample == 8 || f.BitsPerSample == 16 || f.BitsPerSample == 24 ||
                        f.BitsPerSample == 32;
    return f.Tag == 1 && bitsOk && f.Channels >= 1 && f.Channels <= TFlexBuf::MaxChannels &&
           f.BlockAlign == f.Channels * (f.BitsPerSample / 8) && f.Rate > 0 && f.Rate <= INT32_MAX;
}

std::optional<TWavFormat> ReadWavFormat(int fd)
{
    std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(FileSize(fd), kMaxHeadBytes)));
    head.resize(static_cast<size_t>(ReadFully(fd, head.data(), static_cast<int64_t>(head.size()))));
    auto fmt = ParseWavHeader(head);
    if (!fmt || !IsPlayablePcm(*fmt))
        return std::nullopt;
    return fmt;
}

// Frames the file really holds after the header, whatever the header claims.
int64_t FramesPresent(int fd, int64_t dataOffset, int64_t claimedBytes, int bytesPerFrame)
{
    const int64_t present = std::max<int64_t>(0, FileSize(fd) - dataOffset);
    return std::min(present, claimedBytes) / bytesPerFrame;
}

void MakeWavHeader(uint8_t* h, int rate, int bits, int channels, uint32_t dataBytes)
{
    const int blockAlign = channels * (bits / 8);
    std::copy_n("RIFF", 4, h);
    PutLE32(h + 4, dataBytes + 36);
    std::copy_n("WAVEfmt ", 8, h + 8);
    PutLE32(h + 16, 16);
    PutLE16(h + 20, 1);
    PutLE16(h + 22, static_cast<uint16_t>(channels));
    PutLE32(h + 24, static_cast<uint32_t>(rate));
    PutLE32(h + 28, static_cast<uint32_t>(rate) * static_cast<uint32_t>(blockAlign));
    PutLE16(h + 32, static_cast<uint16_t>(blockAlign));
    PutLE16(h + 34, static_cast<uint16_t>(bits));
    std::copy_n("data", 4, h + 36);
    PutLE32(h + 40, dataBytes);
}

// One file holding several channels is interleaved; otherwise each file is one channel.
bool IsInterleaved(const TFlexFileBuf::TFileSide& s) { return s.FileCount == 1 && s.FileChannels > 1; }

int64_t FrameBytesInFile(const TFlexFileBuf::TFileSide& s)
{
    return int64_t(s.FileBits / 8) * (IsInterleaved(s) ? s.FileChannels : 1);
}

} // namespace

TFlexFileBuf::TFileSide::TFileSide() { std::fill(std::begin(Handles), std::end(Handles), -1); }

TFlexFileBuf::~TFlexFileBuf()
{
    CloseFile(ReadSide);
    CloseFile(WriteSide);
}

int TFlexFileBuf::OpenFile(int side, const std::vector<std::string>& names, int rate, int bits,
                           int fileCount, int channels)
{
    if (side != ReadSide && side != WriteSide)
        return 1;
    CloseFile(side);
    if (names.empty())
        return 1;
    const bool wav = HasWavExtension(names[0]);
    if (side == WriteSide) {
        const TFileSide& r = Sides[ReadSide];
        rate = rate ? rate : r.FileRate;
        bits = bits ? bits : r.FileBits;
        fileCount = fileCount ? fileCount : r.FileCount;
        channels = channels ? channels : r.FileChannels;
        if (!wav)
            fileCount = channels;
    } else if (fileCount == 0) {
        fileCount = wav ? 1 : channels;
    }
    if (fileCount < 1 || fileCount > MaxFiles || size_t(fileCount) > names.size())
        return 1;

    TFileSide& s = Sides[side];
    s.FileType = wav ? WavFile : RawFile;
    s.FileCount = fileCount;
    std::copy_n(names.begin(), fileCount, s.FileNames);
    bool ok;
    if (side == WriteSide)
        ok = OpenForWriting(s, rate, bits, channels);
    else
        ok = wav ? OpenWavForReading(s, channels) : OpenRawForReading(s);
    if (!ok) {
        CloseFile(side);
        return 1;
    }
    s.Opened = true;
    s.Position = 0;
    s.DataOffset = s.DataOffsets[0];
    return 0;
}

bool TFlexFileBuf::OpenWavForReading(TFileSide& s, int channels)
{
    // Several files are one mono channel each.
    if (s.FileCount > 1 && channels != 0 && channels != s.FileCount)
        return false;
    for (int i = 0; i < s.FileCount; ++i) {
        const int fd = s.Handles[i] = OpenExisting(s.FileNames[i]);
        if (fd < 0)
            return false;
        const auto fmt = ReadWavFormat(fd);
        if (!fmt || (s.FileCount > 1 && fmt->Channels != 1) || !SeekTo(fd, fmt->DataOffset))
            return false;
        const int64_t frames = FramesPresent(fd, fmt->DataOffset, fmt->DataSize, fmt->BlockAlign);
        if (i == 0) {
            s.FileRate = static_cast<int32_t>(fmt->Rate);
            s.FileBits = fmt->BitsPerSample;
            s.TotalFrames = frames;
            s.FileChannels = s.FileCount == 1 ? fmt->Channels : s.FileCount;
        } else if (s.FileRate != int64_t(fmt->Rate) || s.FileBits != fmt->BitsPerSample ||
                   s.TotalFrames != frames) {
            return false;
        }
        s.DataOffsets[i] = fmt->DataOffset;
    }
    return true;
}

bool TFlexFileBuf::OpenRawForReading(TFileSide& s)
{
    for (int i = 0; i < s.FileCount; ++i) {
        const int fd = s.Handles[i] = OpenExisting(s.FileNames[i]);
        uint8_t header[kRawHeaderBytes];
        if (fd < 0 || ReadFully(fd, header, kRawHeaderBytes) != kRawHeaderBytes)
            return false;
        const auto rate = static_cast<int32_t>(GetLE32(header));
        // Codes below 16 are read as 16-bit.
        const int32_t bits = std::max<int32_t>(16, static_cast<int32_t>(GetLE32(header + 4)));
        if (rate <= 0 || !IsSampleFormat(bits) || !SeekTo(fd, kRawHeaderBytes))
            return false;
        const int64_t frames = FramesPresent(fd, kRawHeaderBytes, INT64_MAX, bits / 8);
        if (i == 0) {
            s.FileRate = rate;
            s.FileBits = bits;
            s.TotalFrames = frames;
        } else if (s.FileRate != rate || s.FileBits != bits || s.TotalFrames != frames) {
            return false;
        }
        s.DataOffsets[i] = kRawHeaderBytes;
    }
    s.FileChannels = s.FileCount;
    return true;
}

bool TFlexFileBuf::OpenForWriting(TFileSide& s, int rate, int bits, int channels)
{
    const bool wav = s.FileType == WavFile;
    // WAV files carry integer PCM; raw 8-bit would read back as 16-bit.
    const bool bitsOk = wav ? (bits == 8 || bits == 16 || bits == 24 || bits == 32)
                            : (IsSampleFormat(bits) && bits != 8);
    if (!bitsOk || rate <= 0 || channels < 1 || channels > MaxChannels)
        return false;
    if (s.FileCount != 1 && s.FileCount != channels)
        return false;
    s.FileRate = rate;
    s.FileBits = bits;
    s.FileChannels = channels;
    const int channelsPerFile = s.FileCount == 1 ? channels : 1;
    for (int i = 0; i < s.FileCount; ++i) {
        const int fd = s.Handles[i] =
            ::open(s.FileNames[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return false;
        uint8_t header[kWavHeaderBytes];
        int headerBytes = kRawHeaderBytes;
        if (wav) {
            MakeWavHeader(header, rate, bits, channelsPerFile, 0);
            headerBytes = kWavHeaderBytes;
        } else {
            PutLE32(header, static_cast<uint32_t>(rate));
            PutLE32(header + 4, static_cast<uint32_t>(bits));
        }
        if (WriteFully(fd, header, headerBytes) != headerBytes)
            return false;
        s.DataOffsets[i] = headerBytes;
    }
    return true;
}

void TFlexFileBuf::FinishWavHeaders(const TFileSide& s)
{
    const int64_t dataBytes = std::min(s.TotalFrames * FrameBytesInFile(s), kMaxWavDataBytes);
    // Nobody can be told of a failure here; the header then still says 0 frames.
    for (int i = 0; i < s.FileCount; ++i)
        if (PatchLE32(s.Handles[i], 40, static_cast<uint32_t>(dataBytes)))
            PatchLE32(s.Handles[i], 4, static_cast<uint32_t>(dataBytes + 36));
}

void TFlexFileBuf::CloseFile(int side)
{
    if (side != ReadSide && side != WriteSide)
        return;
    TFileSide& s = Sides[side];
    if (side == WriteSide && s.Opened && s.FileType == WavFile)
        FinishWavHeaders(s);
    for (int fd : s.Handles)
        if (fd >= 0)
            ::close(fd);
    s = TFileSide();
}

int TFlexFileBuf::ReadBlock(int frames)
{
    TFileSide& s = Sides[ReadSide];
    if (!s.Opened)
        return 0;
    const int bytesPerSample = s.FileBits / 8;
    int64_t n = std::clamp<int64_t>(frames, 0, std::max<int64_t>(0, s.TotalFrames - s.Position));
    n = std::min<int64_t>(n, INT32_MAX / bytesPerSample);
    SetBuf(nullptr, s.FileChannels, s.FileBits, static_cast<int>(n));

    int64_t got = n;
    if (IsInterleaved(s)) {
        const int64_t frameBytes = FrameBytesInFile(s);
        Scratch.resize(static_cast<size_t>(n * frameBytes));
        got = ReadFully(s.Handles[0], Scratch.data(), n * frameBytes) / frameBytes;
        Deinterleave(Scratch.data(), Data, bytesPerSample, s.FileChannels, static_cast<int>(got));
    } else {
        for (int c = 0; c < s.FileChannels; ++c)
            got = std::min(got, ReadFully(s.Handles[c], Data[c], n * bytesPerSample) / bytesPerSample);
    }
    // A short read is the end of the data.
    s.Position = got < n ? s.TotalFrames : s.Position + got;
    return static_cast<int>(got);
}

int TFlexFileBuf::WriteBlock(int first, int count)
{
    TFileSide& s = Sides[WriteSide];
    if (!s.Opened || first < 0 || count < 0 || int64_t(first) + count > Length || Channels < s.FileChannels)
        return 0;
    ConvertBits(s.FileBits);
    if (Bits != s.FileBits)
        return 0;
    const void* from[MaxChannels] = {};
    for (int c = 0; c < s.FileChannels; ++c)
        from[c] = static_cast<const uint8_t*>(Data[c]) + int64_t(first) * (s.FileBits / 8);
    return WriteFrom(s, from, count);
}

int TFlexFileBuf::WriteFrames(const void* const* channels, int channelCount, int bits, int frames)
{
    TFileSide& s = Sides[WriteSide];
    if (!s.Opened || frames < 0 || channelCount < s.FileChannels)
        return 0;
    if (bits == s.FileBits)
        return WriteFrom(s, channels, frames);
    // Another format goes through the block, which converts it.
    SetBuf(channels, channelCount, bits, frames);
    return WriteBlock(0, frames);
}

int TFlexFileBuf::WriteFrom(TFileSide& s, const void* const* from, int count)
{
    const int bytesPerSample = s.FileBits / 8;
    const int64_t frameBytes = FrameBytesInFile(s);
    int64_t n = count;
    if (s.FileType == WavFile)
        n = std::clamp<int64_t>(kMaxWavDataBytes / frameBytes - s.Position, 0, n);
    int64_t written = n;
    if (IsInterleaved(s)) {
        Scratch.resize(static_cast<size_t>(n * frameBytes));
        Interleave(from, Scratch.data(), bytesPerSample, s.FileChannels, static_cast<int>(n));
        written = WriteFully(s.Handles[0], Scratch.data(), n * frameBytes) / frameBytes;
    } else {
        for (int c = 0; c < s.FileChannels; ++c)
            written = std::min(written, WriteFully(s.Handles[c], from[c], n * bytesPerSample) / bytesPerSample);
    }
    s.Position += written;
    s.TotalFrames = std::max(s.TotalFrames, s.Position);
    return static_cast<int>(written);
}

int64_t TFlexFileBuf::SeekFrame(int side, int64_t frame)
{
    if (side != ReadSide && side != WriteSide)
        return 0;
    TFileSide& s = Sides[side];
    if (!s.Opened)
        return 0;
    const int64_t frameBytes = FrameBytesInFile(s);
    frame = std::clamp<int64_t>(frame, 0, (int64_t(1) << 62) / frameBytes);

    // Every file of the side must land on the same frame; otherwise all go back to 0.
    int64_t common = -1;
    for (int i = 0; i < s.FileCount; ++i) {
        const int64_t off = ::lseek(s.Handles[i], s.DataOffsets[i] + frame * frameBytes, SEEK_SET);
        const int64_t landed = off < 0 ? -1 : (off - s.DataOffsets[i]) / frameBytes;
        if (i == 0)
            common = landed;
        else if (landed != common)
            common = -1;
    }
    if (common < 0) {
        for (int i = 0; i < s.FileCount; ++i)
            SeekTo(s.Handles[i], s.DataOffsets[i]);
        common = 0;
    }
    s.Position = common;
    return s.Position;
}

const TFlexFileBuf::TFileSide& TFlexFileBuf::GetSide(int side) const
{
    static const TFileSide kNone;
    return side == ReadSide || side == WriteSide ? Sides[side] : kNone;
}

int TFlexFileBuf::GetFileChannels(int side) const { return GetSide(side).FileChannels; }
int64_t TFlexFileBuf::GetFileLength(int side) const { return GetSide(side).TotalFrames; }
int64_t TFlexFileBuf::GetFilePos(int side) const { return GetSide(side).Position; }
int TFlexFileBuf::GetFileBits(int side) const { return GetSide(side).FileBits; }
int TFlexFileBuf::GetFileRate(int side) const { return GetSide(side).FileRate; }

} // namespace marlix
