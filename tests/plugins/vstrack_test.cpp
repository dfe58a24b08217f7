// The LADSPA bridge, loaded as a private copy, hosting the test LADSPA libraries.
#include "plugintest.h"

#include <cmath>
#include <cstring>

namespace marlix::test {
namespace {

std::vector<uint8_t> BridgeBlock(const std::string& pathWithoutExtension)
{
    std::vector<uint8_t> b(AEP_BRIDGE_BLOCK_SIZE, 0);
    b[0] = b[1] = 1;
    std::memcpy(&b[AEP_BRIDGE_NAME_OFFSET], pathWithoutExtension.data(), pathWithoutExtension.size());
    return b;
}

// "MXLS", version, UniqueID, count, values.
std::vector<uint8_t> ControlBlock(uint32_t id, std::vector<float> values, uint32_t version = 1)
{
    std::vector<uint8_t> b(16 + 4 * values.size());
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(b.data(), "MXLS", 4);
    put(4, version);
    put(8, id);
    put(12, static_cast<uint32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        put(16 + 4 * i, std::bit_cast<uint32_t>(values[i]));
    return b;
}

constexpr uint32_t kAmpId = 9101;

// A bridge and a private copy of one test LADSPA library, whose counters it exposes.
class Bridge {
public:
    explicit Bridge(const std::string& ladspa = "ladspa_amp.so") : ladspaFile_(ladspa) {}

    // Tells the bridge about the LADSPA copy, as the host does right after loading.
    void Attach()
    {
        Foreign = std::make_unique<PrivateCopy>(TestPluginFile(ladspaFile_));
        const std::string path = Foreign->Path();
        Send(BridgeBlock(path.substr(0, path.size() - 3)));
    }
    void Send(const std::vector<uint8_t>& block) { SetData(block.data(), static_cast<int32_t>(block.size())); }
    std::vector<uint8_t> State()
    {
        void* data = nullptr;
        int32_t size = -1;
        GetData(&data, &size);
        const auto* p = static_cast<const uint8_t*>(data);
        return p && size > 0 ? std::vector<uint8_t>(p, p + size) : std::vector<uint8_t>{};
    }
    int Live() const { return Foreign->Get<int (*)()>("TestLiveInstances")(); }
    int Activations() const { return Foreign->Get<int (*)()>("TestActivations")(); }
    unsigned long LastRate() const { return Foreign->Get<unsigned long (*)()>("TestLastRate")(); }

    PrivateCopy Plugin{ProgramFile("vstrack.aep")};
    std::unique_ptr<PrivateCopy> Foreign;
    TAEPGetPlugName GetPlugName = Plugin.Get<TAEPGetPlugName>("GetPlugName");
    TAEPSetData SetData = Plugin.Get<TAEPSetData>("SetData");
    TAEPGetData GetData = Plugin.Get<TAEPGetData>("GetData");
    TAEPPostWave PostWave = Plugin.Get<TAEPPostWave>("PostWave");
    TAEPAction Clear = Plugin.Get<TAEPAction>("Clear");
    TAEPAction Destroy = Plugin.Get<TAEPAction>("Destroy");

private:
    std::string ladspaFile_;
};

// Channel c holds (c + 1) * (i % 97 - 48) / 64: distinct on every channel.
Block Ramp(int channels, int count)
{
    Block b(channels, count);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < count; ++i)
            b.Data[c][i] = static_cast<float>((c + 1) * (i % 97 - 48)) / 64.0f;
    return b;
}

// Expects out channel c == factor(c) * in channel c, exactly (the factors are powers of two).
template <class F> void ExpectScaled(const Block& in, const Block& out, F factor)
{
    for (size_t c = 0; c < in.Data.size(); ++c)
        for (size_t i = 0; i < in.Data[c].size(); ++i)
            ASSERT_EQ(out.Data[c][i], in.Data[c][i] * factor(c)) << "channel " << c << " sample " << i;
}

void ExpectUntouchedWithoutPlugin(Bridge& bridge)
{
    EXPECT_STREQ(bridge.GetPlugName(), "");
    const Block in = Ramp(2, 300);
    Block out = in;
    bridge.Clear();
    bridge.PostWave(out.Channels(), 44100, 2, 300);
    EXPECT_EQ(out.Data, in.Data);
    EXPECT_TRUE(bridge.State().empty());
}

TEST(VstrackTest, IsNamelessUntilToldItsPlugin)
{
    Bridge bridge;
    ExpectUntouchedWithoutPlugin(bridge);
}

TEST(VstrackTest, NamesItselfAfterTheFirstDescriptorAndAmplifiesByTheDefaultGain)
{
    Bridge bridge;
    bridge.Attach();
    EXPECT_STREQ(bridge.GetPlugName(), "LADSPA|Marlix Test Amplifier");
    const Block in = Ramp(2, 500);
    Block out = in;
    bridge.PostWave(out.Channels(), 44100, 2, 500);
    // The middle of 0..4.
    ExpectScaled(in, out, [](size_t) { return 2.0f; });
}

TEST(VstrackTest, MonoPluginGetsAnInstancePerChannelUpToSixteen)
{
    Bridge bridge;
    bridge.Attach();
    EXPECT_EQ(bridge.Live(), 16);
    EXPECT_EQ(bridge.Activations(), 16);
    EXPECT_EQ(bridge.LastRate(), 44100u);

    // Longer than the bridge's scratch size, so it runs in pieces.
    const Block in = Ramp(18, 10000);
    Block out = in;
    bridge.PostWave(out.Channels(), 44100, 18, 10000);
    ExpectScaled(in, out, [](size_t c) { return c < 16 ? 2.0f : 1.0f; });
}

TEST(VstrackTest, AnotherRateMakesTheInstancesAgainAndClearReactivatesThem)
{
    Bridge bridge;
    bridge.Attach();
    const Block in = Ramp(2, 64);
    Block out = in;
    bridge.PostWave(out.Channels(), 96000, 2, 64);
    EXPECT_EQ(bridge.LastRate(), 96000u);
    EXPECT_EQ(bridge.Live(), 16);
    ExpectScaled(in, out, [](size_t) { return 2.0f; });

    const int before = bridge.Activations();
    bridge.Clear();
    EXPECT_EQ(bridge.Activations(), before + 16);
    EXPECT_EQ(bridge.Live(), 16);

    bridge.Destroy();
    EXPECT_EQ(bridge.Live(), 0);
    EXPECT_STREQ(bridge.GetPlugName(), "");
}

TEST(VstrackTest, ControlValuesAreTheStateAndSurviveARoundTrip)
{
    Bridge bridge;
    bridge.Attach();
    EXPECT_EQ(bridge.State(), ControlBlock(kAmpId, {2.0f}));

    bridge.Send(ControlBlock(kAmpId, {0.5f}));
    const auto saved = bridge.State();
    EXPECT_EQ(saved, ControlBlock(kAmpId, {0.5f}));

    Bridge restored;
    restored.Attach();
    restored.Send(saved);
    const Block in = Ramp(2, 256);
    Block out = in;
    restored.PostWave(out.Channels(), 48000, 2, 256);
    ExpectScaled(in, out, [](size_t) { return 0.5f; });
}

TEST(VstrackTest, ControlValuesAreClampedAndForeignBlocksIgnored)
{
    Bridge bridge;
    bridge.Attach();
    bridge.Send(ControlBlock(kAmpId, {10.0f}));
    EXPECT_EQ(bridge.State(), ControlBlock(kAmpId, {4.0f}));

    bridge.Send(ControlBlock(kAmpId, {1.0f}));
    auto truncated = ControlBlock(kAmpId, {3.0f});
    truncated.pop_back();
    for (const auto& block : {ControlBlock(kAmpId + 1, {3.0f}), ControlBlock(kAmpId, {3.0f, 3.0f}),
                              ControlBlock(kAmpId, {3.0f}, 2), ControlBlock(kAmpId, {std::nanf("")}), truncated,
                              std::vector<uint8_t>{}})
        bridge.Send(block);
    EXPECT_EQ(bridge.State(), ControlBlock(kAmpId, {1.0f}));
}

TEST(VstrackTest, TakesOnlyTheFirstPluginItIsTold)
{
    Bridge bridge;
    bridge.Attach();
    PrivateCopy swap{TestPluginFile("ladspa_swap.so")};
    bridge.Send(BridgeBlock(swap.Path().substr(0, swap.Path().size() - 3)));
    EXPECT_STREQ(bridge.GetPlugName(), "LADSPA|Marlix Test Amplifier");
}

TEST(VstrackTest, StereoPluginRunsOnChannelsZeroAndOneEvenWhenInPlaceIsBroken)
{
    Bridge bridge("ladspa_swap.so");
    bridge.Attach();
    EXPECT_STREQ(bridge.GetPlugName(), "LADSPA|Marlix Test Channel Swap");
    EXPECT_EQ(bridge.Live(), 1);
    EXPECT_TRUE(bridge.State().size() == 16) << "no control inputs: only the header";

    const Block in = Ramp(3, 5000);
    Block out = in;
    bridge.PostWave(out.Channels(), 44100, 3, 5000);
    EXPECT_EQ(out.Data[0], in.Data[1]);
    EXPECT_EQ(out.Data[1], in.Data[0]);
    EXPECT_EQ(out.Data[2], in.Data[2]);
}

TEST(VstrackTest, LibrariesThatCannotBeUsedLeaveItNameless)
{
    TempDir dir;
    WriteText(dir.File("garbage.so"), "not a shared object");
    const std::vector<std::vector<uint8_t>> blocks = {
        BridgeBlock(dir.File("missing")),
        BridgeBlock(dir.File("garbage")),
        BridgeBlock(TestPluginFile("ladspa_empty")),
        BridgeBlock(""),
    };
    for (const auto& block : blocks) {
        Bridge bridge;
        bridge.Send(block);
        ExpectUntouchedWithoutPlugin(bridge);
    }
}

TEST(VstrackTest, MalformedBridgeBlocksAreNotTakenForAPlugin)
{
    auto unterminated = BridgeBlock(TestPluginFile("ladspa_amp"));
    std::fill(unterminated.begin() + AEP_BRIDGE_NAME_OFFSET, unterminated.end(), 'a');
    auto wrongLead = BridgeBlock(TestPluginFile("ladspa_amp"));
    wrongLead[1] = 2;
    auto shortBlock = BridgeBlock(TestPluginFile("ladspa_amp"));
    shortBlock.resize(200);
    for (const auto& block : {unterminated, wrongLead, shortBlock}) {
        Bridge bridge;
        bridge.Send(block);
        ExpectUntouchedWithoutPlugin(bridge);
    }
}

} // namespace
} // namespace marlix::test
