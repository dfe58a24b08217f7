#include "base/flexfilebuf.h"

#include "support/testutil.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

using marlix::TFlexFileBuf;
using marlix::test::HaveProgram;
using marlix::test::RunCommand;
using marlix::test::TempDir;

namespace {

struct Case {
    int Bits;
    int Channels;
    int Rate;
    int Frames;
};

// Deterministic bytes covering every value, channel c of the block is planar[c].
std::vector<std::vector<uint8_t>> Planar(const Case& k)
{
    std::vector<std::vector<uint8_t>> planar(size_t(k.Channels));
    uint32_t x = 12345;
    for (auto& ch : planar)
        for (int i = 0; i < k.Frames * (k.Bits / 8); ++i) {
            x = x * 1103515245u + 12345u;
            ch.push_back(uint8_t(x >> 16));
        }
    return planar;
}

std::string InterleavedOf(const Case& k, const std::vector<std::vector<uint8_t>>& planar)
{
    std::string out;
    const size_t bps = size_t(k.Bits / 8);
    for (size_t f = 0; f < size_t(k.Frames); ++f)
        for (const auto& ch : planar)
            out.append(reinterpret_cast<const char*>(ch.data() + f * bps), bps);
    return out;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string Trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::map<std::string, std::string> ProbeStream(const std::string& file)
{
    const std::string text = RunCommand("ffprobe -v error -select_streams a:0 -show_streams -of "
                                        "default=noprint_wrappers=1 " + Quote(file));
    std::map<std::string, std::string> fields;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos)
            fields[line.substr(0, eq)] = line.substr(eq + 1);
    return fields;
}

} // namespace

TEST(FlexFileBufTools, WrittenWavsReadBackInSoxAndFfprobe)
{
    if (!HaveProgram("sox") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "sox or ffprobe missing";
    TempDir dir;
    for (const Case& k : {Case{16, 2, 44100, 1000}, Case{24, 2, 48000, 777}, Case{32, 1, 96000, 500},
                          Case{8, 1, 8000, 333}}) {
        SCOPED_TRACE(testing::Message() << k.Bits << " bits, " << k.Channels << " channels");
        const std::string file = dir.File("out" + std::to_string(k.Bits) + ".wav");
        const auto planar = Planar(k);
        {
            TFlexFileBuf out;
            ASSERT_EQ(out.OpenFile(TFlexFileBuf::WriteSide, {file}, k.Rate, k.Bits, 1, k.Channels), 0);
            std::vector<const void*> src;
            for (const auto& ch : planar)
                src.push_back(ch.data());
            out.SetBuf(src.data(), k.Channels, k.Bits, k.Frames);
            ASSERT_EQ(out.WriteBlock(0, k.Frames / 3), k.Frames / 3);
            ASSERT_EQ(out.WriteBlock(k.Frames / 3, k.Frames - k.Frames / 3), k.Frames - k.Frames / 3);
        }

        EXPECT_EQ(Trimmed(RunCommand("sox --i -r " + Quote(file))), std::to_string(k.Rate));
        EXPECT_EQ(Trimmed(RunCommand("sox --i -c " + Quote(file))), std::to_string(k.Channels));
        EXPECT_EQ(Trimmed(RunCommand("sox --i -b " + Quote(file))), std::to_string(k.Bits));
        EXPECT_EQ(Trimmed(RunCommand("sox --i -s " + Quote(file))), std::to_string(k.Frames));

        auto probe = ProbeStream(file);
        EXPECT_EQ(probe["sample_rate"], std::to_string(k.Rate));
        EXPECT_EQ(probe["channels"], std::to_string(k.Channels));
        EXPECT_EQ(probe["bits_per_sample"], std::to_string(k.Bits));
        EXPECT_EQ(probe["duration_ts"], std::to_string(k.Frames));

        int status = -1;
        const std::string samples = RunCommand("sox " + Quote(file) + " -t raw - 2>/dev/null", &status);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(samples == InterleavedOf(k, planar)) << "sox read different samples";
    }
}

TEST(FlexFileBufTools, ReadsWavsMadeBySoxAndFfmpeg)
{
    if (!HaveProgram("sox") || !HaveProgram("ffmpeg"))
        GTEST_SKIP() << "sox or ffmpeg missing";
    TempDir dir;
    const std::string bySox = dir.File("sox.wav"), byFfmpeg = dir.File("ffmpeg.wav");
    int status = -1;
    RunCommand("sox -n -r 22050 -c 2 -b 16 " + Quote(bySox) + " synth 0.1 sine 440 sine 660 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    // ffmpeg adds a LIST chunk before the data.
    RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=1000:sample_rate=32000:duration=0.1 -c:a pcm_u8 -y " +
                   Quote(byFfmpeg),
               &status);
    ASSERT_EQ(status, 0);

    for (const auto& [file, rate, channels, bits] :
         {std::tuple{bySox, 22050, 2, 16}, std::tuple{byFfmpeg, 32000, 1, 8}}) {
        SCOPED_TRACE(file);
        TFlexFileBuf in;
        ASSERT_EQ(in.OpenFile(TFlexFileBuf::ReadSide, {file}, 0, 0, 0, 0), 0);
        EXPECT_EQ(in.GetFileRate(0), rate);
        EXPECT_EQ(in.GetFileChannels(0), channels);
        EXPECT_EQ(in.GetFileBits(0), bits);
        const std::string expected = RunCommand("sox " + Quote(file) + " -t raw - 2>/dev/null");
        const int frames = int(expected.size()) / (channels * bits / 8);
        EXPECT_EQ(in.GetFileLength(0), frames);
        ASSERT_EQ(in.ReadBlock(frames + 10), frames);
        std::vector<const void*> planar(in.Data, in.Data + channels);
        std::string got(expected.size(), '\0');
        marlix::Interleave(planar.data(), got.data(), bits / 8, channels, frames);
        EXPECT_TRUE(got == expected) << "samples differ from sox's";
    }
}
