#include "base/flexfilebuf.h"

#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using marlix::TFlexFileBuf;
using marlix::test::ReadAll;
using marlix::test::TempDir;
using marlix::test::WriteAll;
using Bytes = std::vector<uint8_t>;

namespace {

void Put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void PutTag(Bytes& b, const char* tag)
{
    // Byte by byte: g++ 12 at -O2 warns falsely about a range insert into an empty vector.
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(tag[i]));
}

Bytes Chunk(const char* tag, const Bytes& payload)
{
    Bytes b;
    PutTag(b, tag);
    Put32(b, uint32_t(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

struct WavLayout {
    uint16_t Tag = 1;
    uint16_t Channels = 2;
    uint32_t Rate = 44100;
    uint16_t Bits = 16;
    std::optional<uint16_t> BlockAlign; // computed when not given
    uint32_t FmtSize = 16;
    Bytes BeforeData;                 // whole chunks between fmt and data
    std::optional<uint32_t> DataSize; // the data's real size when not given
    Bytes Data;
};

Bytes MakeWav(const WavLayout& w)
{
    Bytes fmt;
    Put16(fmt, w.Tag);
    Put16(fmt, w.Channels);
    Put32(fmt, w.Rate);
    const uint16_t align = w.BlockAlign.value_or(uint16_t(w.Channels * (w.Bits / 8)));
    Put32(fmt, w.Rate * align);
    Put16(fmt, align);
    Put16(fmt, w.Bits);
    fmt.resize(w.FmtSize, 0);

    const Bytes fmtChunk = Chunk("fmt ", fmt);
    // Sized up front: g++ 12 at -O3 warns falsely about inserting into a vector it
    // thinks may still be empty.
    Bytes body;
    body.reserve(12 + fmtChunk.size() + w.BeforeData.size() + w.Data.size());
    PutTag(body, "WAVE");
    body.insert(body.end(), fmtChunk.begin(), fmtChunk.end());
    body.insert(body.end(), w.BeforeData.begin(), w.BeforeData.end());
    PutTag(body, "data");
    Put32(body, w.DataSize.value_or(uint32_t(w.Data.size())));
    body.insert(body.end(), w.Data.begin(), w.Data.end());
    Bytes file;
    PutTag(file, "RIFF");
    Put32(file, uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

Bytes Samples16(const std::vector<int16_t>& v)
{
    Bytes b;
    for (int16_t s : v)
        Put16(b, uint16_t(s));
    return b;
}

Bytes MakeRaw(int32_t rate, int32_t code, const Bytes& samples)
{
    Bytes b;
    Put32(b, uint32_t(rate));
    Put32(b, uint32_t(code));
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

template <class T>
std::vector<T> Channel(const TFlexFileBuf& buf, int c, int frames)
{
    const T* p = static_cast<const T*>(buf.Data[c]);
    return {p, p + frames};
}

std::vector<int16_t> Ramp(int n, int start, int step)
{
    std::vector<int16_t> v;
    for (int i = 0; i < n; ++i)
        v.push_back(int16_t(start + i * step));
    return v;
}

bool IsClosed(const TFlexFileBuf& f, int side)
{
    return !f.GetSide(side).Opened && f.GetFileChannels(side) == 0 && f.GetFileLength(side) == 0;
}

class FlexFileBufTest : public testing::Test {
protected:
    std::string Put(const std::string& name, const Bytes& bytes)
    {
        WriteAll(dir.File(name), bytes);
        return dir.File(name);
    }
    int OpenRead(const std::vector<std::string>& names, int fileCount = 0, int channels = 0)
    {
        return buf.OpenFile(TFlexFileBuf::ReadSide, names, 0, 0, fileCount, channels);
    }

    TempDir dir;
    TFlexFileBuf buf;
};

} // namespace

TEST_F(FlexFileBufTest, ReadsStereoPastLongFmtAndExtraChunks)
{
    // Interleaved L/R: L = 100, 101, ... R = -100, -101, ...
    std::vector<int16_t> inter;
    for (int f = 0; f < 5; ++f) {
        inter.push_back(int16_t(100 + f));
        inter.push_back(int16_t(-100 - f));
    }
    WavLayout w;
    w.FmtSize = 40;
    w.BeforeData = Chunk("LIST", Bytes(26, 'x'));
    const Bytes fact = Chunk("fact", Bytes(4, 0));
    w.BeforeData.insert(w.BeforeData.end(), fact.begin(), fact.end());
    w.Data = Samples16(inter);
    const std::string name = Put("music.wav", MakeWav(w));

    ASSERT_EQ(OpenRead({name}), 0);
    EXPECT_EQ(buf.GetSide(0).FileType, TFlexFileBuf::WavFile);
    EXPECT_EQ(buf.GetFileChannels(0), 2);
    EXPECT_EQ(buf.GetFileBits(0), 16);
    EXPECT_EQ(buf.GetFileRate(0), 44100);
    EXPECT_EQ(buf.GetFileLength(0), 5);
    EXPECT_EQ(buf.GetSide(0).DataOffset, 12 + 48 + 34 + 12 + 8);

    EXPECT_EQ(buf.ReadBlock(3), 3);
    EXPECT_EQ(buf.Length, 3);
    EXPECT_EQ(Channel<int16_t>(buf, 0, 3), Ramp(3, 100, 1));
    EXPECT_EQ(Channel<int16_t>(buf, 1, 3), Ramp(3, -100, -1));
    EXPECT_EQ(buf.ReadBlock(10), 2);
    EXPECT_EQ(buf.Length, 2);
    EXPECT_EQ(Channel<int16_t>(buf, 1, 2), Ramp(2, -103, -1));
    EXPECT_EQ(buf.GetFilePos(0), 5);
    EXPECT_EQ(buf.ReadBlock(10), 0);
}

TEST_F(FlexFileBufTest, TypeComesFromTheFirstNamesExtension)
{
    WavLayout w;
    w.Channels = 1;
    w.Data = Samples16({1, 2});
    ASSERT_EQ(OpenRead({Put("LOUD.WAV", MakeWav(w))}), 0);
    EXPECT_EQ(buf.GetSide(0).FileType, TFlexFileBuf::WavFile);

    for (const char* name : {"x.wave", "x.pcm", "wav"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(OpenRead({Put(name, MakeRaw(8000, 24, {1, 2, 3, 4, 5, 6}))}, 0, 1), 0);
        EXPECT_EQ(buf.GetSide(0).FileType, TFlexFileBuf::RawFile);
        EXPECT_EQ(buf.GetFileRate(0), 8000);
        EXPECT_EQ(buf.GetFileLength(0), 2);
        ASSERT_EQ(buf.ReadBlock(2), 2);
        EXPECT_EQ(Channel<uint8_t>(buf, 0, 6), (Bytes{1, 2, 3, 4, 5, 6}));
    }
}

TEST_F(FlexFileBufTest, RefusesHeadersItCannotPlaySafely)
{
    auto variant = [](auto change) {
        WavLayout w;
        w.Data = Samples16({1, 2, 3, 4});
        change(w);
        return MakeWav(w);
    };
    const std::vector<std::pair<std::string, Bytes>> bad = {
        {"float", variant([](WavLayout& w) { w.Tag = 3; w.Bits = 32; })},
        {"extensible", variant([](WavLayout& w) { w.Tag = 0xFFFE; w.FmtSize = 40; })},
        {"no channels", variant([](WavLayout& w) { w.Channels = 0; })},
        {"17 channels", variant([](WavLayout& w) { w.Channels = 17; })},
        {"12 bits", variant([](WavLayout& w) { w.Bits = 12; })},
        {"block align", variant([](WavLayout& w) { w.BlockAlign = 3; })},
        {"zero block align", variant([](WavLayout& w) { w.BlockAlign = 0; })},
        {"rate 0", variant([](WavLayout& w) { w.Rate = 0; })},
    };
    for (const auto& [what, bytes] : bad) {
        SCOPED_TRACE(what);
        EXPECT_EQ(OpenRead({Put("bad.wav", bytes)}), 1);
        EXPECT_TRUE(IsClosed(buf, 0));
        EXPECT_EQ(buf.ReadBlock(4), 0);
    }

    const Bytes good = variant([](WavLayout&) {});
    Bytes noWave = good;
    std::memcpy(noWave.data() + 8, "WAVX", 4);
    EXPECT_EQ(OpenRead({Put("a.wav", noWave)}), 1);
    // Cut inside the data chunk's size field.
    EXPECT_EQ(OpenRead({Put("b.wav", Bytes(good.begin(), good.begin() + 42))}), 1);
    EXPECT_EQ(OpenRead({Put("c.wav", {})}), 1);
    EXPECT_EQ(OpenRead({dir.File("missing.wav")}), 1);
    std::filesystem::create_directory(dir.File("folder.wav"));
    EXPECT_EQ(OpenRead({dir.File("folder.wav")}), 1);
    EXPECT_EQ(buf.OpenFile(0, {}, 0, 0, 0, 0), 1);
    EXPECT_EQ(buf.OpenFile(2, {Put("d.wav", good)}, 0, 0, 0, 0), 1);
}

TEST_F(FlexFileBufTest, FrameCountIsCappedAtTheFilesRealData)
{
    for (uint32_t claimed : {1000u, 0xFFFFFFFFu, 0x7FFFFFF0u}) {
        SCOPED_TRACE(claimed);
        WavLayout w;
        w.DataSize = claimed;
        w.Data = Samples16({1, 2, 3, 4, 5}); // two whole stereo frames and half a third
        ASSERT_EQ(OpenRead({Put("long.wav", MakeWav(w))}), 0);
        EXPECT_EQ(buf.GetFileLength(0), 2);
        EXPECT_EQ(buf.ReadBlock(1 << 30), 2);
        EXPECT_EQ(buf.Length, 2);
        EXPECT_EQ(Channel<int16_t>(buf, 1, 2), (std::vector<int16_t>{2, 4}));
        EXPECT_EQ(buf.ReadBlock(1 << 30), 0);
    }
    // A header claiming data the file does not have at all.
    WavLayout w;
    w.DataSize = 100;
    ASSERT_EQ(OpenRead({Put("empty.wav", MakeWav(w))}), 0);
    EXPECT_EQ(buf.GetFileLength(0), 0);
    EXPECT_EQ(buf.ReadBlock(10), 0);
}

TEST_F(FlexFileBufTest, TagScansGiveUpAfterTheirLimits)
{
    auto withJunk = [](size_t bytes) {
        WavLayout w;
        w.BeforeData = Chunk("JUNK", Bytes(bytes, 0));
        w.Data = Samples16({7, 8});
        return MakeWav(w);
    };
    // The data scan reads the junk chunk's 8 header bytes, its payload and "data".
    EXPECT_EQ(OpenRead({Put("near.wav", withJunk(10241 - 12))}), 0);
    EXPECT_EQ(buf.GetFileLength(0), 1);
    EXPECT_EQ(OpenRead({Put("far.wav", withJunk(10241 - 11))}), 1);
}

TEST_F(FlexFileBufTest, SeekMovesTheReadPosition)
{
    WavLayout w;
    w.Channels = 2;
    w.Data = Samples16(Ramp(20, 0, 1)); // frame f holds 2f, 2f + 1
    ASSERT_EQ(OpenRead({Put("seek.wav", MakeWav(w))}), 0);
    EXPECT_EQ(buf.SeekFrame(0, 7), 7);
    EXPECT_EQ(buf.GetFilePos(0), 7);
    ASSERT_EQ(buf.ReadBlock(10), 3);
    EXPECT_EQ(Channel<int16_t>(buf, 0, 3), (std::vector<int16_t>{14, 16, 18}));
    EXPECT_EQ(Channel<int16_t>(buf, 1, 3), (std::vector<int16_t>{15, 17, 19}));
    EXPECT_EQ(buf.SeekFrame(0, 25), 25);
    EXPECT_EQ(buf.ReadBlock(10), 0);
    EXPECT_EQ(buf.SeekFrame(0, -3), 0);
    EXPECT_EQ(buf.ReadBlock(1), 1);
    EXPECT_EQ(buf.SeekFrame(1, 3), 0);
}

TEST_F(FlexFileBufTest, SeveralMonoFilesFormOneSide)
{
    WavLayout left, right;
    left.Channels = right.Channels = 1;
    left.Data = Samples16(Ramp(6, 0, 1));
    right.Data = Samples16(Ramp(6, 100, 1));
    right.BeforeData = Chunk("LIST", Bytes(10, 'y')); // a different header size
    const std::string l = Put("l.wav", MakeWav(left)), r = Put("r.wav", MakeWav(right));

    ASSERT_EQ(OpenRead({l, r}, 2, 2), 0);
    EXPECT_EQ(buf.GetFileChannels(0), 2);
    EXPECT_EQ(buf.GetFileLength(0), 6);
    ASSERT_EQ(buf.ReadBlock(2), 2);
    EXPECT_EQ(Channel<int16_t>(buf, 1, 2), (std::vector<int16_t>{100, 101}));
    EXPECT_EQ(buf.SeekFrame(0, 4), 4);
    ASSERT_EQ(buf.ReadBlock(9), 2);
    EXPECT_EQ(Channel<int16_t>(buf, 0, 2), (std::vector<int16_t>{4, 5}));
    EXPECT_EQ(Channel<int16_t>(buf, 1, 2), (std::vector<int16_t>{104, 105}));

    WavLayout shorter = right, otherRate = right, stereo = right;
    shorter.Data = Samples16(Ramp(5, 0, 1));
    otherRate.Rate = 48000;
    stereo.Channels = 2;
    EXPECT_EQ(OpenRead({l, Put("short.wav", MakeWav(shorter))}, 2, 2), 1);
    EXPECT_EQ(OpenRead({l, Put("rate.wav", MakeWav(otherRate))}, 2, 2), 1);
    EXPECT_EQ(OpenRead({l, Put("stereo.wav", MakeWav(stereo))}, 2, 2), 1);
    EXPECT_EQ(OpenRead({l, r}, 2, 3), 1);
    EXPECT_EQ(OpenRead({l}, 2, 2), 1);
    EXPECT_TRUE(IsClosed(buf, 0));
}

TEST_F(FlexFileBufTest, RawFilesRoundTripOneChannelEach)
{
    TFlexFileBuf out;
    const std::string a = dir.File("a.raw"), b = dir.File("b.raw");
    ASSERT_EQ(out.OpenFile(1, {a, b}, 96000, 65, 0, 2), 0);
    const std::vector<double> c0 = {0.5, -0.25, 1.0}, c1 = {-1, 0, 0.125};
    const void* src[] = {c0.data(), c1.data()};
    out.SetBuf(src, 2, 65, 3);
    EXPECT_EQ(out.WriteBlock(0, 3), 3);
    out.CloseFile(1);

    Bytes expected = MakeRaw(96000, 65, {});
    const auto* p = reinterpret_cast<const uint8_t*>(c1.data());
    expected.insert(expected.end(), p, p + 24);
    EXPECT_EQ(ReadAll(b), expected);

    ASSERT_EQ(OpenRead({a, b}, 0, 2), 0);
    EXPECT_EQ(buf.GetFileChannels(0), 2);
    EXPECT_EQ(buf.GetFileBits(0), 65);
    EXPECT_EQ(buf.GetFileRate(0), 96000);
    ASSERT_EQ(buf.ReadBlock(100), 3);
    EXPECT_EQ(Channel<double>(buf, 0, 3), c0);
    EXPECT_EQ(Channel<double>(buf, 1, 3), c1);
}

TEST_F(FlexFileBufTest, RawHeadersAreChecked)
{
    // Codes below 16 read as 16-bit.
    ASSERT_EQ(OpenRead({Put("old.raw", MakeRaw(44100, 0, Samples16({-5, 6, 7})))}, 1), 0);
    EXPECT_EQ(buf.GetFileBits(0), 16);
    EXPECT_EQ(buf.GetFileLength(0), 3);
    ASSERT_EQ(buf.ReadBlock(3), 3);
    EXPECT_EQ(Channel<int16_t>(buf, 0, 3), (std::vector<int16_t>{-5, 6, 7}));

    EXPECT_EQ(OpenRead({Put("code.raw", MakeRaw(44100, 17, Bytes(8)))}, 1), 1);
    EXPECT_EQ(OpenRead({Put("rate.raw", MakeRaw(0, 16, Bytes(8)))}, 1), 1);
    EXPECT_EQ(OpenRead({Put("short.raw", Bytes{1, 2, 3, 4, 5, 6, 7})}, 1), 1);
    const std::string one = Put("one.raw", MakeRaw(8000, 16, Bytes(8)));
    const std::string two = Put("two.raw", MakeRaw(8000, 16, Bytes(10)));
    EXPECT_EQ(OpenRead({one, two}, 2), 1);
    EXPECT_EQ(OpenRead({one, one}, 0, 0), 1); // no file count and no channels
    EXPECT_TRUE(IsClosed(buf, 0));
}

TEST_F(FlexFileBufTest, ThousandFramesOfMono32GiveA4044ByteFile)
{
    const std::string name = dir.File("ir.wav");
    {
        TFlexFileBuf out;
        ASSERT_EQ(out.OpenFile(1, {name}, 48000, 32, 1, 1), 0);
        std::vector<int32_t> v(1000);
        for (int i = 0; i < 1000; ++i)
            v[size_t(i)] = i * 1000003 - 500000000;
        const void* src[] = {v.data()};
        out.SetBuf(src, 1, 32, 1000);
        EXPECT_EQ(out.WriteBlock(0, 600), 600);
        EXPECT_EQ(out.WriteBlock(600, 400), 400);
        EXPECT_EQ(out.GetFileLength(1), 1000);
    } // the destructor finishes the header

    const Bytes file = ReadAll(name);
    ASSERT_EQ(file.size(), 4044u);
    Bytes header;
    PutTag(header, "RIFF");
    Put32(header, 4036);
    PutTag(header, "WAVE");
    PutTag(header, "fmt ");
    Put32(header, 16);
    Put16(header, 1);
    Put16(header, 1);
    Put32(header, 48000);
    Put32(header, 192000);
    Put16(header, 4);
    Put16(header, 32);
    PutTag(header, "data");
    Put32(header, 4000);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 44), header);
    int32_t last;
    std::memcpy(&last, file.data() + 4040, 4);
    EXPECT_EQ(last, 999 * 1000003 - 500000000);
}

TEST_F(FlexFileBufTest, WriteConvertsAndInterleavesTheRange)
{
    const std::string name = dir.File("st.wav");
    ASSERT_EQ(buf.OpenFile(1, {name}, 44100, 16, 1, 2), 0);
    const std::vector<double> l = {0.5, -0.5, 0.25, 1 / 32768.0}, r = {-1, 0, 0.75, 0};
    const void* src[] = {l.data(), r.data()};
    buf.SetBuf(src, 2, 65, 4);
    EXPECT_EQ(buf.WriteBlock(3, 2), 0); // beyond the block
    EXPECT_EQ(buf.WriteBlock(1, 3), 3);
    EXPECT_EQ(buf.Bits, 16);
    buf.SetBuf(src, 1, 65, 4);
    EXPECT_EQ(buf.WriteBlock(0, 1), 0); // fewer channels than the side
    buf.CloseFile(1);
    EXPECT_TRUE(IsClosed(buf, 1));

    const Bytes file = ReadAll(name);
    ASSERT_EQ(file.size(), 44u + 12);
    EXPECT_EQ(Bytes(file.begin() + 44, file.end()), Samples16({-16384, 0, 8192, 24576, 1, 0}));
    EXPECT_EQ(file[40], 12);
    EXPECT_EQ(file[4], 48);
}

// Frames handed over as they are give the same file as frames written through the block,
// in the side's own format and in one the block converts to.
TEST_F(FlexFileBufTest, WriteFramesMatchesWritingThroughTheBlock)
{
    const std::vector<int32_t> l = {INT32_MIN, -65536, 0, 98304, INT32_MAX}, r = {7, -7, 1 << 20, -(1 << 30), 0};
    const void* src[] = {l.data(), r.data()};
    for (int bits : {16, 24, 32}) {
        const std::string viaBlock = dir.File("b" + std::to_string(bits) + ".wav");
        const std::string direct = dir.File("d" + std::to_string(bits) + ".wav");
        TFlexFileBuf a, b;
        ASSERT_EQ(a.OpenFile(1, {viaBlock}, 48000, bits, 1, 2), 0);
        a.SetBuf(src, 2, 32, 5);
        EXPECT_EQ(a.WriteBlock(0, 5), 5);
        a.CloseFile(1);
        ASSERT_EQ(b.OpenFile(1, {direct}, 48000, bits, 1, 2), 0);
        EXPECT_EQ(b.WriteFrames(src, 2, 32, 2), 2);
        EXPECT_EQ(b.WriteFrames(src, 1, 32, 3), 0); // fewer channels than the side
        const void* rest[] = {l.data() + 2, r.data() + 2};
        EXPECT_EQ(b.WriteFrames(rest, 2, 32, 3), 3);
        b.CloseFile(1);
        EXPECT_EQ(ReadAll(direct), ReadAll(viaBlock)) << bits << " bits";
    }
}

TEST_F(FlexFileBufTest, WriteSideDefaultsComeFromTheReadSide)
{
    WavLayout w;
    w.Rate = 48000;
    w.Bits = 24;
    for (int i = 0; i < 18; ++i)
        w.Data.push_back(uint8_t(i * 13));
    const std::string in = Put("in.wav", MakeWav(w)), out = dir.File("out.wav");
    ASSERT_EQ(OpenRead({in}), 0);
    ASSERT_EQ(buf.OpenFile(1, {out}, 0, 0, 0, 0), 0);
    EXPECT_EQ(buf.GetFileChannels(1), 2);
    EXPECT_EQ(buf.GetFileBits(1), 24);
    EXPECT_EQ(buf.GetSide(1).FileCount, 1);
    const int n = buf.ReadBlock(100);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(buf.WriteBlock(0, n), 3);
    buf.CloseFile(1);
    EXPECT_EQ(ReadAll(out), MakeWav(w));
}

TEST_F(FlexFileBufTest, WritesSeveralMonoWavFiles)
{
    const std::string l = dir.File("l.wav"), r = dir.File("r.wav");
    ASSERT_EQ(buf.OpenFile(1, {l, r}, 22050, 8, 2, 2), 0);
    const std::vector<uint8_t> c0 = {1, 2, 3}, c1 = {200, 201, 202};
    const void* src[] = {c0.data(), c1.data()};
    buf.SetBuf(src, 2, 8, 3);
    EXPECT_EQ(buf.WriteBlock(0, 3), 3);
    buf.CloseFile(1);
    WavLayout w;
    w.Channels = 1;
    w.Rate = 22050;
    w.Bits = 8;
    w.Data = c1;
    EXPECT_EQ(ReadAll(r), MakeWav(w));

    EXPECT_EQ(buf.OpenFile(1, {l}, 44100, 33, 1, 1), 1);   // no float WAV
    EXPECT_EQ(buf.OpenFile(1, {l}, 0, 16, 1, 1), 1);       // no rate
    EXPECT_EQ(buf.OpenFile(1, {l, r}, 44100, 16, 2, 3), 1); // neither one file nor one per channel
    EXPECT_EQ(buf.OpenFile(1, {l}, 44100, 16, 1, 17), 1);
    EXPECT_EQ(buf.OpenFile(1, {dir.File("a.raw")}, 44100, 8, 1, 1), 1); // raw 8-bit would read back as 16
    EXPECT_EQ(buf.OpenFile(1, {dir.File("no/such/dir.wav")}, 44100, 16, 1, 1), 1);
    EXPECT_TRUE(IsClosed(buf, 1));
    EXPECT_EQ(buf.WriteBlock(0, 1), 0);
}
