#include "settings/settingconvolver.h"

#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace marlix {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;
using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutDouble(Bytes& b, double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, 8);
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

void PutName(Bytes& b, const std::string& name)
{
    b.push_back(static_cast<uint8_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    b.resize(b.size() + 255 - name.size(), 0);
}

TEST(SettingConvolverTest, DefaultFileIs36Bytes)
{
    TempDir dir;
    TSettingConvolver c;
    ASSERT_TRUE(c.Save(dir.File("c.bin")));
    const Bytes expected = {
        0x03, 0x00, 0x00, 0x00,                                                 // DryWet
        0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // convolver 0
        0xDC, 0xFF, 0xFF, 0xFF,                                                 //   Level -36
        0x00, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, // convolver 1
        0xDC, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ReadAll(dir.File("c.bin")), expected);
}

// A record with a response in each convolver, and its bytes written out by hand.
struct TSample {
    TSettingConvolver record;
    Bytes bytes;
    // Offset just past each field, with the change it makes to a default record.
    std::vector<std::pair<size_t, std::function<void(TSettingConvolver&)>>> fields;
};

TSample MakeSample()
{
    TSample s;
    s.record.DryWet = 1;
    s.record.Conv[0] = {true, false, true, false, 1, 0, -6, "ab", 2, 48000, {1.0, -0.5}};
    s.record.Conv[1] = {true, true, false, true, 0, 1, 3, "長い名前.wav", 3, 44100, {0.25, 0, -1e-300}};
    Bytes& b = s.bytes;
    auto field = [&](std::function<void(TSettingConvolver&)> apply) { s.fields.emplace_back(b.size(), apply); };
    Put32(b, 1);
    field([](auto& r) { r.DryWet = 1; });
    for (size_t i = 0; i < 2; ++i) {
        const TConvolverEntry& e = s.record.Conv[i];
        b.push_back(1); // HasIR: takes effect with the response below
        b.push_back(e.On);
        field([i, e](auto& r) { r.Conv[i].On = e.On; });
        b.push_back(e.CutDS);
        field([i, e](auto& r) { r.Conv[i].CutDS = e.CutDS; });
        b.push_back(e.NoDelay);
        field([i, e](auto& r) { r.Conv[i].NoDelay = e.NoDelay; });
        Put32(b, static_cast<uint32_t>(e.InCh));
        field([i, e](auto& r) { r.Conv[i].InCh = e.InCh; });
        Put32(b, static_cast<uint32_t>(e.OutCh));
        field([i, e](auto& r) { r.Conv[i].OutCh = e.OutCh; });
        Put32(b, static_cast<uint32_t>(e.Level));
        field([i, e](auto& r) { r.Conv[i].Level = e.Level; });
        PutName(b, e.IRName);
        Put32(b, static_cast<uint32_t>(e.IR.size()));
        Put32(b, static_cast<uint32_t>(e.IRRate));
        for (double x : e.IR)
            PutDouble(b, x);
        field([i, e](auto& r) {
            r.Conv[i].HasIR = true;
            r.Conv[i].IRName = e.IRName;
            r.Conv[i].IRLength = e.IRLength;
            r.Conv[i].IRRate = e.IRRate;
            r.Conv[i].IR = e.IR;
        });
    }
    return s;
}

TEST(SettingConvolverTest, ResponsesAreWrittenAsDocumented)
{
    TempDir dir;
    const TSample sample = MakeSample();
    ASSERT_EQ(sample.bytes.size(), 4 + 2 * (16 + 256 + 8) + 5 * 8u);
    ASSERT_TRUE(sample.record.Save(dir.File("c.bin")));
    EXPECT_EQ(ReadAll(dir.File("c.bin")), sample.bytes);

    TSettingConvolver loaded;
    loaded.Load(dir.File("c.bin"));
    EXPECT_EQ(loaded, sample.record);
}

TEST(SettingConvolverTest, TruncatedFileKeepsDefaultsForWhatIsMissing)
{
    const TSample sample = MakeSample();
    for (size_t n = 0; n <= sample.bytes.size(); ++n) {
        TSettingConvolver expected;
        for (const auto& [end, apply] : sample.fields)
            if (end <= n)
                apply(expected);
        TSettingConvolver loaded;
        loaded.DryWet = 99; // reading starts from a cleared record
        loaded.Deserialize(Bytes(sample.bytes.begin(), sample.bytes.begin() + static_cast<long>(n)));
        ASSERT_EQ(loaded, expected) << "length " << n;
    }
}

// Bytes of a file whose convolver 0 announces `length` frames, followed by `frames`
// samples and then a complete convolver 1 without a response.
Bytes WithLength(int32_t length, size_t frames)
{
    Bytes b;
    Put32(b, 3);
    b.insert(b.end(), {1, 1, 1, 1});
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    PutName(b, "x.wav");
    Put32(b, static_cast<uint32_t>(length));
    Put32(b, 48000);
    for (size_t i = 0; i < frames; ++i)
        PutDouble(b, 0.5);
    b.insert(b.end(), {0, 0, 0, 0});
    Put32(b, 7);
    Put32(b, 7);
    Put32(b, 7);
    return b;
}

TEST(SettingConvolverTest, ResponseLengthIsCheckedAgainstTheFile)
{
    TSettingConvolver c;
    // Lengths that do not fit what is left: no response, and nothing after it is read.
    for (int32_t bad : {-1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 5}) {
        c.Deserialize(WithLength(bad, 2));
        EXPECT_FALSE(c.Conv[0].HasIR) << bad;
        EXPECT_TRUE(c.Conv[0].IR.empty()) << bad;
        EXPECT_EQ(c.Conv[1].InCh, 1) << bad;
    }
    // A length that fits only by counting the 16 bytes of convolver 1 as samples is
    // taken as it is; convolver 1 then has nothing left.
    c.Deserialize(WithLength(4, 2));
    EXPECT_TRUE(c.Conv[0].HasIR);
    EXPECT_EQ(c.Conv[0].IR.size(), 4u);
    EXPECT_EQ(c.Conv[1], TSettingConvolver{}.Conv[1]);

    // An empty response is no response, but the file goes on.
    c.Deserialize(WithLength(0, 0));
    EXPECT_FALSE(c.Conv[0].HasIR);
    EXPECT_EQ(c.Conv[1].InCh, 7);

    c.Deserialize(WithLength(2, 2));
    EXPECT_TRUE(c.Conv[0].HasIR);
    EXPECT_EQ(c.Conv[0].IR, (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(c.Conv[0].IRName, "x.wav");
    EXPECT_EQ(c.Conv[0].IRRate, 48000);
    EXPECT_EQ(c.Conv[1].Level, 7);
}

TEST(SettingConvolverTest, OddValuesInTheFile)
{
    Bytes b = WithLength(3, 3);
    b[4] = 2; // any non-zero HasIR announces a response
    const size_t samples = 4 + 16 + 256 + 8;
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                               -0.75};
    for (size_t i = 0; i < 3; ++i) {
        Bytes d;
        PutDouble(d, specials[i]);
        std::copy(d.begin(), d.end(), b.begin() + static_cast<long>(samples + 8 * i));
    }
    TSettingConvolver c;
    c.Deserialize(b);
    ASSERT_TRUE(c.Conv[0].HasIR);
    EXPECT_EQ(c.Conv[0].IR, (std::vector<double>{0, 0, -0.75}));
}

TEST(SettingConvolverTest, MissingFileLeavesTheRecordCleared)
{
    TempDir dir;
    TSample sample = MakeSample();
    sample.record.Load(dir.File("none.bin"));
    EXPECT_EQ(sample.record, TSettingConvolver{});
}

TEST(SettingConvolverTest, LongNamesAreCutTo255Bytes)
{
    TempDir dir;
    TSettingConvolver c;
    c.Conv[0].HasIR = true;
    c.Conv[0].IR = {1};
    c.Conv[0].IRName = std::string(300, 'n');
    ASSERT_TRUE(c.Save(dir.File("c.bin")));
    TSettingConvolver loaded;
    loaded.Load(dir.File("c.bin"));
    EXPECT_EQ(loaded.Conv[0].IRName, std::string(255, 'n'));
    EXPECT_EQ(loaded.Conv[0].IRLength, 1);
}

} // namespace
} // namespace marlix
