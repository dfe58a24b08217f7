// The recorder plug-ins that host tests drive: their logs, state modes and both
// processing paths. Also checks that private copies of one plug-in share nothing.
#include "plugintest.h"

#include <algorithm>
#include <sstream>

namespace marlix::test {
namespace {

using CallLog = const char* (*)();
using Action = void (*)();
using SetInt = void (*)(int32_t);

std::vector<std::string> Lines(const char* log)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct Recorder {
    explicit Recorder(const std::string& file = "recorder.aep") : Plugin(TestPluginFile(file)) {}
    std::vector<std::string> Log() const { return Lines(Plugin.Get<CallLog>("TestCallLog")()); }
    template <class F> F Get(const char* name) const { return Plugin.Get<F>(name); }
    PrivateCopy Plugin;
};

TEST(RecorderTest, LogsEveryCallInOrder)
{
    Recorder r;
    EXPECT_STREQ(r.Get<TAEPGetPlugName>("GetPlugName")(), "MarlixTest|Recorder");
    r.Get<TAEPSetPlugPath>("SetPlugPath")("/some/folder/");
    EXPECT_EQ(r.Get<TAEPGetIsSSynth>("GetIsSSynth")(), 0);
    const uint8_t bytes[3] = {1, 2, 3};
    r.Get<TAEPSetData>("SetData")(bytes, 3);
    for (const char* name : {"Show", "Hide", "Clear", "Destroy"})
        r.Get<TAEPAction>(name)();
    EXPECT_EQ(r.Log(), (std::vector<std::string>{"GetPlugName", "SetPlugPath /some/folder/", "GetIsSSynth",
                                                 "SetData 3", "Show", "Hide", "Clear", "Destroy"}));
    r.Get<Action>("TestClearLog")();
    EXPECT_TRUE(r.Log().empty());
}

TEST(RecorderTest, ExportsEveryEntryPoint)
{
    Recorder r;
    for (const char* name : {AEP_EXPORT_NAMES})
        EXPECT_TRUE(r.Plugin.Lib().Has(name)) << name;
}

TEST(RecorderTest, PostWaveScalesChannelCByCPlusTwo)
{
    Recorder r;
    Block b(3, 4);
    for (auto& c : b.Data)
        std::fill(c.begin(), c.end(), 0.25f);
    r.Get<TAEPPostWave>("PostWave")(b.Channels(), 44100, 3, 4);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(b.Data[c], std::vector<float>(4, 0.25f * (c + 2))) << c;
    EXPECT_EQ(r.Log(), std::vector<std::string>{"PostWave 44100 3 4"});
}

TEST(RecorderTest, InterleavedVariantHasOnlyPostWaveDataWhichDoublesEveryValue)
{
    Recorder r("recorder_interleaved.aep");
    EXPECT_STREQ(r.Get<TAEPGetPlugName>("GetPlugName")(), "MarlixTest|Recorder Interleaved");
    EXPECT_FALSE(r.Plugin.Lib().Has("PostWave"));
    std::vector<float> frames = {0.1f, -0.2f, 0.3f, -0.4f, 0.5f, -0.6f};
    r.Get<TAEPPostWaveData>("PostWaveData")(frames.data(), 48000, 2, 3);
    EXPECT_EQ(frames, (std::vector<float>{0.2f, -0.4f, 0.6f, -0.8f, 1.0f, -1.2f}));
    EXPECT_EQ(r.Log().back(), "PostWaveData 48000 2 3");
}

TEST(RecorderTest, StateRoundTripsInBothGetDataModes)
{
    Recorder r;
    const std::vector<uint8_t> state = {9, 8, 7, 6, 5};
    r.Get<TAEPSetData>("SetData")(state.data(), 5);
    auto getData = r.Get<TAEPGetData>("GetData");

    // Asked for the size first, then given a buffer to fill.
    void* data = nullptr;
    int32_t size = 0;
    getData(&data, &size);
    EXPECT_EQ(data, nullptr);
    ASSERT_EQ(size, 5);
    std::vector<uint8_t> buffer(5);
    data = buffer.data();
    getData(&data, &size);
    EXPECT_EQ(buffer, state);

    // Its own buffer.
    r.Get<SetInt>("TestSetGetDataMode")(1);
    data = nullptr;
    getData(&data, &size);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, 5);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 5), state);
    const auto log = r.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "GetData"), 3);
}

TEST(RecorderTest, ClaimsAnySizeItIsToldTo)
{
    Recorder r;
    for (int32_t claim : {-1, 1 << 30}) {
        r.Get<SetInt>("TestSetStateSize")(claim);
        void* data = nullptr;
        int32_t size = 0;
        r.Get<TAEPGetData>("GetData")(&data, &size);
        EXPECT_EQ(size, claim);
        EXPECT_EQ(data, nullptr);
    }
}

TEST(RecorderTest, LogKeepsTheLatestCallsWithinItsBound)
{
    Recorder r;
    auto postWave = r.Get<TAEPPostWave>("PostWave");
    float sample = 0;
    float* channel = &sample;
    for (int i = 1; i <= 10000; ++i)
        postWave(&channel, i, 1, 1);
    const auto log = r.Log();
    EXPECT_LE(log.size(), 8192u);
    EXPECT_GE(log.size(), 1000u);
    EXPECT_EQ(log.back(), "PostWave 10000 1 1");
}

TEST(RecorderTest, NamelessVariants)
{
    Recorder noName("noname.aep");
    EXPECT_STREQ(noName.Get<TAEPGetPlugName>("GetPlugName")(), "");
    Recorder noGetName("nogetname.aep");
    EXPECT_FALSE(noGetName.Plugin.Lib().Has("GetPlugName"));
    EXPECT_TRUE(noGetName.Plugin.Lib().Has("PostWave"));
}

TEST(RecorderTest, TwoCopiesKeepSeparateLogs)
{
    TempDir dir;
    Library first(CopyInto(dir.Path(), TestPluginFile("recorder.aep"), "plug0.aep"));
    Library second(CopyInto(dir.Path(), TestPluginFile("recorder.aep"), "plug1.aep"));
    first.Get<TAEPAction>("Show")();
    second.Get<TAEPAction>("Hide")();
    second.Get<TAEPAction>("Clear")();
    EXPECT_EQ(Lines(first.Get<CallLog>("TestCallLog")()), std::vector<std::string>{"Show"});
    EXPECT_EQ(Lines(second.Get<CallLog>("TestCallLog")()), (std::vector<std::string>{"Hide", "Clear"}));
}

// Only the interface (and the recorder's test calls) is visible, and no symbol is
// "unique", which would bind separately loaded copies together.
TEST(RecorderTest, PluginsExposeNothingButTheirExports)
{
    if (!HaveProgram("nm"))
        GTEST_SKIP() << "nm is not installed";
    std::vector<std::string> allowed = {AEP_EXPORT_NAMES};
    for (const char* extra : {"TestCallLog", "TestClearLog", "TestSetGetDataMode", "TestSetStateSize", "TestHoldPostWave",
                              "TestInsidePostWave"})
        allowed.push_back(extra);
    for (const std::string& file : {TestPluginFile("recorder.aep"), ProgramFile("plugin/crossfeed.aep"),
                                    ProgramFile("vstrack.aep")}) {
        const auto symbols = DynamicSymbols(file);
        EXPECT_FALSE(symbols.empty()) << file;
        for (const std::string& symbol : symbols) {
            const char type = symbol[0];
            const std::string name = symbol.substr(2);
            EXPECT_NE(type, 'u') << file << ": " << name;
            if (type == 'T' || type == 'D' || type == 'B') {
                EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << file << ": " << name;
            }
        }
    }
}

} // namespace
} // namespace marlix::test
