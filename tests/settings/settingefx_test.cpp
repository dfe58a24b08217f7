#include "settings/settingefx.h"

#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace marlix {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;
using Bytes = std::vector<uint8_t>;

// Slot 0: present, off, "Reverb|Hall" with 3 bytes of state; slot 7: present, on,
// "Delay" with no state; slot 3 off; the others empty.
TSettingEFX Sample()
{
    TSettingEFX efx;
    efx.Slots[0] = {true, false, "Reverb|Hall", {1, 2, 3}};
    efx.Slots[3].On = false;
    efx.Slots[7] = {true, true, "Delay", {}};
    return efx;
}

Bytes NameBlock(const std::string& name)
{
    Bytes b(256, 0);
    b[0] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), b.begin() + 1);
    return b;
}

Bytes SampleBytes()
{
    Bytes b = {1, 0};
    const Bytes reverb = NameBlock("Reverb|Hall");
    b.insert(b.end(), reverb.begin(), reverb.end());
    b.insert(b.end(), {3, 0, 0, 0, 1, 2, 3});
    b.insert(b.end(), {0, 1, 0, 1, 0, 0, 0, 1, 0, 1, 0, 1, 1, 1});
    const Bytes delay = NameBlock("Delay");
    b.insert(b.end(), delay.begin(), delay.end());
    b.insert(b.end(), {0, 0, 0, 0});
    return b;
}

TEST(SettingEFXTest, FileLayout)
{
    TempDir dir;
    ASSERT_TRUE(TSettingEFX().Save(dir.File("e.bin")));
    EXPECT_EQ(ReadAll(dir.File("e.bin")), (Bytes{0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}));

    ASSERT_TRUE(Sample().Save(dir.File("e.bin")));
    EXPECT_EQ(ReadAll(dir.File("e.bin")), SampleBytes());
    EXPECT_EQ(Sample().Slots[0].DisplayName(), "Hall");
    EXPECT_EQ(Sample().Slots[7].DisplayName(), "Delay");
}

TEST(SettingEFXTest, WithoutHostTheSetupIsKept)
{
    TempDir dir;
    WriteAll(dir.File("e.bin"), SampleBytes());
    TSettingEFX efx;
    efx.Load(dir.File("e.bin"));
    EXPECT_EQ(efx.Slots, Sample().Slots);
    ASSERT_TRUE(efx.Save(dir.File("again.bin")));
    EXPECT_EQ(ReadAll(dir.File("again.bin")), SampleBytes());

    efx.Load(dir.File("none.bin"));
    EXPECT_EQ(efx.Slots, TSettingEFX().Slots);
}

TEST(SettingEFXTest, TruncatedFileKeepsTheCompleteSlots)
{
    const Bytes full = SampleBytes();
    const size_t slot0End = 2 + 256 + 4 + 3;
    const size_t slot7Start = slot0End + 12;
    for (size_t n = 0; n <= full.size(); ++n) {
        TSettingEFX efx;
        efx.Deserialize(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        ASSERT_EQ(efx.Slots[0].Present, n >= slot0End) << n;
        EXPECT_EQ(efx.Slots[0].On, n < 2) << n;
        EXPECT_EQ(efx.Slots[3].On, n < slot0End + 6) << n;
        EXPECT_EQ(efx.Slots[7].Present, n == full.size()) << n;
        EXPECT_EQ(efx.Slots[7].On, true) << n;
        if (n >= slot0End) {
            EXPECT_EQ(efx.Slots[0], Sample().Slots[0]);
        }
        if (n >= slot7Start && n < full.size()) {
            EXPECT_TRUE(efx.Slots[7].Name.empty());
        }
    }
}

TEST(SettingEFXTest, StateSizeIsCheckedAgainstTheFile)
{
    Bytes b = {1, 1};
    const Bytes name = NameBlock("P");
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0xFF, 9, 9});
    TSettingEFX efx;
    efx.Deserialize(b);
    EXPECT_FALSE(efx.Slots[0].Present);
    EXPECT_TRUE(efx.Slots[0].Data.empty());
}

// A host that knows some plug-ins by name and records what it is asked.
class TFakeHost : public TEFXSlotHost {
public:
    std::set<std::string> known;
    std::map<int, Bytes> state;
    std::vector<std::string> calls;

    bool FindAndLoad(int slot, const std::string& name) override
    {
        calls.push_back("load " + std::to_string(slot) + " " + name);
        return known.count(name) > 0;
    }
    void SetData(int slot, const Bytes& data) override
    {
        calls.push_back("set " + std::to_string(slot) + " " + std::to_string(data.size()));
        state[slot] = data;
    }
    Bytes GetData(int slot) override { return state[slot]; }
    void Unload(int slot) override { calls.push_back("unload " + std::to_string(slot)); }
};

TEST(SettingEFXTest, HostLoadsSetsAndReportsState)
{
    TempDir dir;
    WriteAll(dir.File("e.bin"), SampleBytes());
    TFakeHost host;
    host.known = {"Delay"};
    TSettingEFX efx;
    efx.SetHost(&host);
    efx.Load(dir.File("e.bin"));
    // The unknown plug-in's slot is empty; its state was skipped, so slot 7 still reads.
    EXPECT_EQ(host.calls, (std::vector<std::string>{"load 0 Reverb|Hall", "load 7 Delay", "set 7 0"}));
    EXPECT_FALSE(efx.Slots[0].Present);
    EXPECT_FALSE(efx.Slots[0].On);
    EXPECT_TRUE(efx.Slots[7].Present);
    EXPECT_EQ(efx.Slots[7].Name, "Delay");

    host.state[7] = {0xAA, 0xBB};
    ASSERT_TRUE(efx.Save(dir.File("e.bin")));
    Bytes expected = {0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 1, 0, 1, 1, 1};
    const Bytes delay = NameBlock("Delay");
    expected.insert(expected.end(), delay.begin(), delay.end());
    expected.insert(expected.end(), {2, 0, 0, 0, 0xAA, 0xBB});
    EXPECT_EQ(ReadAll(dir.File("e.bin")), expected);

    host.calls.clear();
    efx.Load(dir.File("e.bin"));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"unload 7", "load 7 Delay", "set 7 2"}));
    EXPECT_EQ(host.state[7], (Bytes{0xAA, 0xBB}));
    host.calls.clear();
    efx.Clear();
    EXPECT_EQ(host.calls, (std::vector<std::string>{"unload 7"}));
    EXPECT_EQ(efx.Slots, TSettingEFX().Slots);
}

TEST(SettingEFXTest, NamesAreCutTo255Bytes)
{
    TSettingEFX efx;
    efx.Slots[1] = {true, true, std::string(255, 'a'), {}};
    efx.Slots[2] = {true, true, std::string(300, 'b'), {}};
    TSettingEFX loaded;
    loaded.Deserialize(efx.Serialize());
    EXPECT_EQ(loaded.Slots[1].Name, std::string(255, 'a'));
    EXPECT_EQ(loaded.Slots[2].Name, std::string(255, 'b'));
}

} // namespace
} // namespace marlix
