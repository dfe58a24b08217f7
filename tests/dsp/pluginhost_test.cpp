// The plug-in host and the effect stage against the recording test plug-in: what was
// called, in which order, with which arguments, and what came back.
#include "base/boundedwait.h"
#include "dsp/efxfilter.h"
#include "dsp/pluginhost.h"
#include "settings/settingefx.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <future>
#include <thread>
#include <dlfcn.h>
#include <filesystem>
#include <random>
#include <sstream>

namespace marlix {
namespace {

namespace fs = std::filesystem;

std::string TestPlugin(const std::string& name)
{
    std::string folder = MARLIX_TEST_PLUGIN_DIR;
    if (folder.back() != '/')
        folder += '/';
    return folder + name;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class PluginHostTest : public ::testing::Test {
protected:
    test::TempDir home;
    std::vector<std::string> reports;

    void SetUp() override
    {
        fs::create_directories(home.File("plugin/sub"));
        Install("recorder.aep", "plugin/recorder.aep");
        Install("recorder_interleaved.aep", "plugin/sub/recorder_interleaved.aep");
        fs::copy_file(std::string(MARLIX_TEST_BIN_DIR) + "vstrack.aep", home.File("vstrack.aep"));
        setenv("LADSPA_PATH", "", 1);
    }

    void Install(const std::string& plugin, const std::string& as)
    {
        fs::copy_file(TestPlugin(plugin), home.File(as), fs::copy_options::overwrite_existing);
    }

    std::unique_ptr<TPluginHost> MakeHost()
    {
        auto host = std::make_unique<TPluginHost>(home.Path());
        host->Report = [this](const std::string& caption, const std::string& text) {
            reports.push_back(caption + ": " + text);
        };
        return host;
    }

    template <class T> static T Export(TPluginHost& host, int slot, const char* name)
    {
        void* f = host.Slot(slot).Module.Symbol(name);
        EXPECT_NE(f, nullptr) << name;
        return reinterpret_cast<T>(f);
    }
    static std::vector<std::string> Log(TPluginHost& host, int slot)
    {
        return Lines(Export<const char* (*)()>(host, slot, "TestCallLog")());
    }
    static void ClearLog(TPluginHost& host, int slot) { Export<void (*)()>(host, slot, "TestClearLog")(); }
    static size_t Count(const std::vector<std::string>& log, const std::string& prefix)
    {
        return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
            return l.rfind(prefix, 0) == 0;
        }));
    }
};

TEST_F(PluginHostTest, CatalogueTakesNamedPluginsFromAllSubFoldersAndSkipsTheRest)
{
    Install("noname.aep", "plugin/noname.aep");
    Install("nogetname.aep", "plugin/sub/nogetname.aep");
    test::WriteText(home.File("plugin/broken.aep"), "not a shared object");
    test::WriteText(home.File("plugin/notes.txt"), "ignored");
    auto host = MakeHost();
    std::vector<std::string> names;
    for (const TCatalogueEntry& e : host->Catalogue())
        names.push_back(e.DisplayName + " @ " + fs::path(e.Path).filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Recorder @ recorder.aep",
                                               "Recorder Interleaved @ recorder_interleaved.aep"}));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("nogetname.aep"), std::string::npos) << reports[0];
    // Probing left no copies and no slot behind.
    EXPECT_FALSE(fs::exists(host->TempFolder()) && !fs::is_empty(host->TempFolder()));
    for (int i = 0; i < TPluginHost::SlotCount; ++i)
        EXPECT_FALSE(host->Slot(i).Loaded.load());
}

TEST_F(PluginHostTest, LoadingCallsPathNameAndSynthQueriesInOrder)
{
    auto host = MakeHost();
    ASSERT_TRUE(host->LoadPlugin(2, home.File("plugin/recorder.aep"), true));
    const TPluginSlot& s = host->Slot(2);
    EXPECT_EQ(s.Name, "MarlixTest|Recorder");
    EXPECT_EQ(s.SourcePath, home.File("plugin/recorder.aep"));
    EXPECT_EQ(s.Bridged, 0);
    EXPECT_EQ(s.IsSynth, 0);
    EXPECT_NE(s.Entry.PostWave, nullptr);
    EXPECT_NE(s.Entry.SetCBPostMIDIMessage, nullptr);
    EXPECT_EQ(Log(*host, 2), (std::vector<std::string>{"SetPlugPath " + home.File("plugin/"), "GetPlugName",
                                                        "GetIsSSynth", "Start"}));
    EXPECT_FALSE(host->LoadPlugin(3, home.File("plugin/missing.aep"), true));
    EXPECT_FALSE(host->Slot(3).Loaded.load());
}

// A pipeline that never leaves a plug-in: the unload gives up by its deadline, says so,
// empties the slot and leaves the library loaded rather than closing it under the caller.
TEST_F(PluginHostTest, UnloadLeavesAPluginInUseBehindAfterItsDeadline)
{
    auto host = MakeHost();
    ASSERT_TRUE(host->LoadPlugin(1, home.File("plugin/recorder.aep"), true));
    const auto log = Export<const char* (*)()>(*host, 1, "TestCallLog");
    host->Slot(1).InUse.store(true);
    host->UnloadTimeout = std::chrono::milliseconds(50);
    testing::internal::CaptureStderr();
    host->UnloadPlugin(1, true);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("MarlixTest|Recorder\" did not stop within 50 ms"), std::string::npos) << errors;
    EXPECT_FALSE(host->Slot(1).Loaded.load());
    EXPECT_FALSE(host->Slot(1).Module.IsOpen());
    EXPECT_EQ(Count(Lines(log()), "Destroy"), 0u);
    host->Slot(1).InUse.store(false);
}

TEST_F(PluginHostTest, TwoSlotsOfOneFileRunPrivateCopiesWithTheirOwnState)
{
    auto host = MakeHost();
    const std::string file = home.File("plugin/recorder.aep");
    ASSERT_TRUE(host->LoadPlugin(0, file, true));
    ASSERT_TRUE(host->LoadPlugin(1, file, true));
    const std::string copy0 = host->Slot(0).ModulePath, copy1 = host->Slot(1).ModulePath;
    EXPECT_NE(copy0, copy1);
    for (const std::string& copy : {copy0, copy1}) {
        EXPECT_EQ(fs::path(copy).parent_path(), fs::path(home.File("plugtemp")));
        EXPECT_EQ(fs::path(copy).filename().string().rfind("plug", 0), 0u) << copy;
        EXPECT_EQ(test::ReadAll(copy), test::ReadAll(file));
    }
    host->SetData(0, {1, 2, 3});
    host->SetData(1, {9, 8, 7, 6});
    EXPECT_EQ(host->GetData(0), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(host->GetData(1), (std::vector<uint8_t>{9, 8, 7, 6}));
    EXPECT_EQ(Count(Log(*host, 0), "SetData 3"), 1u);
    EXPECT_EQ(Count(Log(*host, 0), "SetData 4"), 0u);

    host->UnloadPlugin(0, true);
    EXPECT_FALSE(fs::exists(copy0));
    EXPECT_TRUE(fs::exists(copy1));
    EXPECT_FALSE(host->Slot(0).Module.IsOpen());
    host->UnloadAll();
    EXPECT_FALSE(fs::exists(copy1));
}

TEST_F(PluginHostTest, StaleCopiesAreRemovedAtStart)
{
    fs::create_directories(home.File("plugtemp"));
    test::WriteText(home.File("plugtemp/plug7.so"), "old");
    test::WriteText(home.File("plugtemp/plug3.so.part"), "half");
    test::WriteText(home.File("plugtemp/keep.txt"), "not ours");
    auto host = MakeHost();
    EXPECT_FALSE(fs::exists(home.File("plugtemp/plug7.so")));
    EXPECT_FALSE(fs::exists(home.File("plugtemp/plug3.so.part")));
    EXPECT_TRUE(fs::exists(home.File("plugtemp/keep.txt")));
}

TEST_F(PluginHostTest, StateIsFetchedEitherWayAndHostileSizesAreRefused)
{
    auto host = MakeHost();
    ASSERT_TRUE(host->LoadPlugin(0, home.File("plugin/recorder.aep"), true));
    const std::vector<uint8_t> state = {5, 0, 255, 17, 42};
    host->SetData(0, state);
    ClearLog(*host, 0);
    EXPECT_EQ(host->GetData(0), state);
    EXPECT_EQ(Count(Log(*host, 0), "GetData"), 2u); // size first, then the host's buffer

    Export<void (*)(int32_t)>(*host, 0, "TestSetGetDataMode")(1);
    ClearLog(*host, 0);
    EXPECT_EQ(host->GetData(0), state);
    EXPECT_EQ(Count(Log(*host, 0), "GetData"), 1u); // the plug-in's own buffer, no second call

    Export<void (*)(int32_t)>(*host, 0, "TestSetGetDataMode")(0);
    for (int32_t hostile : {-5, TPluginHost::MaxStateSize + 1, INT32_MAX}) {
        Export<void (*)(int32_t)>(*host, 0, "TestSetStateSize")(hostile);
        reports.clear();
        EXPECT_TRUE(host->GetData(0).empty()) << hostile;
        EXPECT_EQ(reports.size(), 1u) << hostile;
    }
}

// The effect stage over FIFOs of `channels` channels holding `x` in every channel.
struct TStageRun {
    TMChFIFO in, out;
    TStageRun(int channels, const std::vector<double>& x) : in(channels, 8192), out(channels, 8192)
    {
        for (int c = 0; c < channels; ++c)
            in.FIFOs[c]->Write(x.data(), static_cast<int32_t>(x.size()));
    }
    std::vector<double> Read(int c, int n)
    {
        std::vector<double> v(static_cast<size_t>(n));
        out.FIFOs[c]->Read(v.data(), n);
        return v;
    }
};

std::vector<double> Ramp(int n)
{
    std::vector<double> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = (i % 97 - 48) / 64.0; // exact in float
    return x;
}

TEST_F(PluginHostTest, StageRunsSwitchedOnSlotsInOrderOnEveryChannel)
{
    auto host = MakeHost();
    TSettingEFX slots;
    ASSERT_TRUE(host->LoadPlugin(1, home.File("plugin/recorder.aep"), true));
    ASSERT_TRUE(host->LoadPlugin(5, home.File("plugin/recorder.aep"), true));
    ASSERT_TRUE(host->LoadPlugin(6, home.File("plugin/recorder.aep"), true));
    slots.Slots[6].On = false;
    for (int s : {1, 5, 6})
        ClearLog(*host, s);
    const std::vector<double> x = Ramp(1000);
    TStageRun run(3, x);
    TEFXFilter stage(3, false, 48000, 4096, *host, slots.Slots);
    for (int s : {1, 5, 6})
        EXPECT_EQ(Log(*host, s), std::vector<std::string>{"Clear"}) << s;
    stage.Process(run.in, *stage.OutFIFO, 600);
    stage.Process(run.in, *stage.OutFIFO, 600); // only 400 left
    ASSERT_EQ(stage.OutFIFO->Available(), 1000);
    EXPECT_EQ(Log(*host, 1), (std::vector<std::string>{"Clear", "PostWave 48000 3 600", "PostWave 48000 3 400"}));
    EXPECT_EQ(Log(*host, 6), std::vector<std::string>{"Clear"});
    // Two slots each multiply channel c by c + 2.
    for (int c = 0; c < 3; ++c) {
        std::vector<double> y(1000);
        stage.OutFIFO->FIFOs[c]->Read(y.data(), 1000);
        for (size_t i = 0; i < y.size(); ++i)
            ASSERT_EQ(y[i], x[i] * (c + 2) * (c + 2)) << c << " " << i;
    }
}

// A pipeline thread processes blocks all along while the main thread loads a plug-in
// and then restores its state. The plug-in is started before its first block, and its
// state is never set while it is inside a block.
TEST_F(PluginHostTest, MainThreadCallsNeverOverlapTheStagesBlocks)
{
    auto host = MakeHost();
    TSettingEFX slots;
    TStageRun run(2, {});
    TEFXFilter stage(2, false, 44100, 4096, *host, slots.Slots);
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread pipeline([&] {
        const std::vector<double> block = Ramp(64);
        std::vector<double> sink(4096);
        while (!stop.load()) {
            for (int c = 0; c < 2; ++c)
                run.in.FIFOs[c]->Write(block.data(), 64);
            stage.Process(run.in, *stage.OutFIFO, 64);
            const int n = stage.OutFIFO->Available();
            for (int c = 0; c < 2; ++c)
                stage.OutFIFO->FIFOs[c]->Read(sink.data(), n);
            ++blocks;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto waitFor = [](const std::function<bool()>& done) {
        return WaitUntilDone(done, std::chrono::seconds(20));
    };
    ASSERT_TRUE(host->LoadPlugin(0, home.File("plugin/recorder.aep"), true));
    const auto hold = Export<void (*)(int32_t)>(*host, 0, "TestHoldPostWave");
    const auto inside = Export<int32_t (*)()>(*host, 0, "TestInsidePostWave");
    hold(1);
    ASSERT_TRUE(waitFor([&] { return inside() != 0; }));
    auto restore = std::async(std::launch::async, [&] { host->SetData(0, {1, 2, 3}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // room for a call that does not wait
    hold(0);
    restore.get();
    const int restored = blocks.load();
    ASSERT_TRUE(waitFor([&] { return blocks.load() >= restored + 2; }));
    stop = true;
    pipeline.join();

    const auto log = Log(*host, 0);
    const auto at = [&](const std::string& prefix) {
        return std::find_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }) -
               log.begin();
    };
    ASSERT_LT(at("Start"), static_cast<std::ptrdiff_t>(log.size())) << "never started";
    EXPECT_LT(at("Start"), at("PostWave"));
    EXPECT_LT(at("PostWave done"), at("SetData 3"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(PluginHostTest, SwitchingASlotBackOnClearsItOnceBeforeItsNextBlock)
{
    auto host = MakeHost();
    TSettingEFX slots;
    ASSERT_TRUE(host->LoadPlugin(0, home.File("plugin/recorder.aep"), true));
    const std::vector<double> x = Ramp(3000);
    TStageRun run(2, x);
    TEFXFilter stage(2, false, 44100, 4096, *host, slots.Slots);
    stage.Process(run.in, *stage.OutFIFO, 500);
    slots.Slots[0].On = false;
    host->RequestClear(0);
    stage.Process(run.in, *stage.OutFIFO, 500);
    slots.Slots[0].On = true;
    host->RequestClear(0);
    ClearLog(*host, 0);
    stage.Process(run.in, *stage.OutFIFO, 500);
    stage.Process(run.in, *stage.OutFIFO, 500);
    EXPECT_EQ(Log(*host, 0), (std::vector<std::string>{"Clear", "PostWave 44100 2 500", "PostWave 44100 2 500"}));
    // Switched off, the slot's output glides to its input over 10 ms (441 frames), which
    // then passes unchanged; switched on again, it glides back.
    std::vector<double> y(2000);
    stage.OutFIFO->FIFOs[1]->Read(y.data(), 2000);
    EXPECT_EQ(y[100], 3 * x[100]);
    EXPECT_NEAR(y[720], 2 * x[720], 0.01 * std::abs(x[720])); // halfway
    EXPECT_EQ(y[960], x[960]);
    EXPECT_NEAR(y[1220], 2 * x[1220], 0.01 * std::abs(x[1220]));
    EXPECT_EQ(y[1460], 3 * x[1460]);
}

TEST_F(PluginHostTest, InterleavedPluginsSeeChannelsZeroAndOneOnly)
{
    auto host = MakeHost();
    TSettingEFX slots;
    ASSERT_TRUE(host->LoadPlugin(0, home.File("plugin/sub/recorder_interleaved.aep"), true));
    EXPECT_EQ(host->Slot(0).Entry.PostWave, nullptr);
    std::vector<double> x = Ramp(700);
    TStageRun run(4, x);
    // Channel 1 differs from channel 0, so a swap or a mix-up would show.
    std::vector<double> x1(700);
    run.in.FIFOs[1]->Reset();
    for (size_t i = 0; i < x1.size(); ++i)
        x1[i] = -x[x.size() - 1 - i];
    run.in.FIFOs[1]->Write(x1.data(), 700);
    TEFXFilter stage(4, false, 96000, 4096, *host, slots.Slots);
    stage.Process(run.in, *stage.OutFIFO, 700);
    EXPECT_EQ(Count(Log(*host, 0), "PostWaveData 96000 2 700"), 1u);
    const std::vector<double>* inputs[] = {&x, &x1, &x, &x};
    for (int c = 0; c < 4; ++c) {
        std::vector<double> y(700);
        stage.OutFIFO->FIFOs[c]->Read(y.data(), 700);
        const double gain = c < 2 ? 2.0 : 1.0;
        for (size_t i = 0; i < y.size(); ++i)
            ASSERT_EQ(y[i], (*inputs[c])[i] * gain) << c << " " << i;
    }
}

TEST_F(PluginHostTest, StateFileRoundTripReachesThePluginByteForByte)
{
    std::vector<uint8_t> saved;
    std::mt19937 rng(11);
    std::vector<uint8_t> stateA(3000), stateB(1);
    for (auto& b : stateA)
        b = static_cast<uint8_t>(rng());
    stateB[0] = 0x80;
    {
        auto host = MakeHost();
        TSettingEFX efx;
        efx.SetHost(host.get());
        ASSERT_TRUE(host->LoadPlugin(2, home.File("plugin/recorder.aep"), true));
        ASSERT_TRUE(host->LoadPlugin(7, home.File("plugin/sub/recorder_interleaved.aep"), true));
        host->SetData(2, stateA);
        host->SetData(7, stateB);
        efx.Slots[2] = {true, true, host->Slot(2).Name, {}};
        efx.Slots[7] = {true, false, host->Slot(7).Name, {}};
        ASSERT_TRUE(efx.Save(home.File("efxsetting.bin")));
        saved = test::ReadAll(home.File("efxsetting.bin"));
    }
    // The layout, read here byte by byte: slots 0 and 1 absent and on, slot 2 present.
    ASSERT_EQ(saved.size(), 2u * 8 + 2 * (256 + 4) + stateA.size() + stateB.size());
    EXPECT_EQ(saved[0], 0);
    EXPECT_EQ(saved[1], 1);
    const size_t slot2 = 4;
    EXPECT_EQ(saved[slot2], 1);
    EXPECT_EQ(saved[slot2 + 2], 19); // "MarlixTest|Recorder"
    EXPECT_EQ(std::string(saved.begin() + slot2 + 3, saved.begin() + slot2 + 22), "MarlixTest|Recorder");
    EXPECT_EQ(saved[slot2 + 258] | saved[slot2 + 259] << 8 | saved[slot2 + 260] << 16, 3000);

    auto host = MakeHost();
    TSettingEFX efx;
    efx.SetHost(host.get());
    efx.Load(home.File("efxsetting.bin"));
    EXPECT_TRUE(reports.empty());
    ASSERT_TRUE(host->Slot(2).Loaded.load());
    ASSERT_TRUE(host->Slot(7).Loaded.load());
    EXPECT_TRUE(efx.Slots[2].Present && efx.Slots[2].On);
    EXPECT_TRUE(efx.Slots[7].Present && !efx.Slots[7].On);
    EXPECT_EQ(Count(Log(*host, 2), "SetData 3000"), 1u);
    EXPECT_EQ(host->GetData(2), stateA);
    EXPECT_EQ(host->GetData(7), stateB);
    EXPECT_EQ(host->Slot(7).SourcePath, home.File("plugin/sub/recorder_interleaved.aep"));
    // Saving again writes the same bytes.
    ASSERT_TRUE(efx.Save(home.File("again.bin")));
    EXPECT_EQ(test::ReadAll(home.File("again.bin")), saved);
}

TEST_F(PluginHostTest, AMissingPluginIsReportedAndTheOtherSlotsStillLoad)
{
    TSettingEFX written;
    for (int i = 0; i < TSettingEFX::SlotCount; ++i)
        written.Slots[i] = {true, true, i == 3 ? "Someone|Gone Effect" : "MarlixTest|Recorder", {uint8_t(i)}};
    ASSERT_TRUE(written.Save(home.File("efxsetting.bin")));
    auto host = MakeHost();
    TSettingEFX efx;
    efx.SetHost(host.get());
    efx.Load(home.File("efxsetting.bin"));
    EXPECT_EQ(reports, std::vector<std::string>{"Audio Effect Plug-in: Gone Effect is not found."});
    for (int i = 0; i < TSettingEFX::SlotCount; ++i) {
        EXPECT_EQ(host->Slot(i).Loaded.load(), i != 3) << i;
        EXPECT_EQ(efx.Slots[i].Present, i != 3) << i;
        if (i != 3) {
            EXPECT_EQ(host->GetData(i), std::vector<uint8_t>{uint8_t(i)}) << i;
        }
    }
    // Loading again unloads first: still seven copies, not fourteen.
    efx.Load(home.File("efxsetting.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(host->TempFolder()), fs::directory_iterator()), 7);
    efx.Clear();
    EXPECT_TRUE(fs::is_empty(host->TempFolder()));
}

TEST_F(PluginHostTest, ForeignLadspaPluginsRunInsideTheBridge)
{
    test::TempDir ladspa;
    fs::copy_file(TestPlugin("ladspa_amp.so"), ladspa.File("amp.so"));
    setenv("LADSPA_PATH", ("/nonexistent:" + ladspa.Path()).c_str(), 1);
    auto host = MakeHost();
    const auto& catalogue = host->Catalogue();
    const auto amp = std::find_if(catalogue.begin(), catalogue.end(),
                                  [](const TCatalogueEntry& e) { return e.DisplayName == "Marlix Test Amplifier"; });
    ASSERT_NE(amp, catalogue.end());
    EXPECT_EQ(amp->Path, ladspa.File("amp.so"));
    ASSERT_TRUE(host->FindAndLoad(4, "LADSPA|Marlix Test Amplifier"));
    EXPECT_EQ(host->Slot(4).Bridged, 1);
    EXPECT_EQ(host->Slot(4).SourcePath, home.File("vstrack.aep"));
    EXPECT_EQ(host->Slot(4).Name, "LADSPA|Marlix Test Amplifier");

    TSettingEFX slots;
    const std::vector<double> x = Ramp(1024);
    TStageRun run(2, x);
    TEFXFilter stage(2, false, 44100, 4096, *host, slots.Slots);
    stage.Process(run.in, *stage.OutFIFO, 1024);
    std::vector<double> y0(1024), y1(1024);
    stage.OutFIFO->FIFOs[0]->Read(y0.data(), 1024);
    stage.OutFIFO->FIFOs[1]->Read(y1.data(), 1024);
    const double gain = 2.0; // the amplifier's default
    for (size_t i = 0; i < x.size(); ++i) {
        ASSERT_FLOAT_EQ(static_cast<float>(y0[i]), static_cast<float>(x[i] * gain)) << i;
        ASSERT_FLOAT_EQ(static_cast<float>(y1[i]), static_cast<float>(x[i] * gain)) << i;
    }
}

// Two libraries whose plug-ins carry the same label: the catalogue tells them apart by
// file, and a slot saved with the second one reloads the second one (which doubles).
TEST_F(PluginHostTest, SameLabelInTwoLibrariesReloadsTheLibraryThatWasSaved)
{
    test::TempDir first, second;
    fs::copy_file(TestPlugin("ladspa_amp.so"), first.File("amp.so"));
    fs::copy_file(TestPlugin("ladspa_loud.so"), second.File("loud.so"));
    setenv("LADSPA_PATH", (first.Path() + ":" + second.Path()).c_str(), 1);
    {
        auto host = MakeHost();
        std::vector<std::string> names;
        for (const TCatalogueEntry& e : host->Catalogue())
            names.push_back(e.DisplayName);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Marlix Test Amplifier (amp.so)",
                                                   "Marlix Test Amplifier (loud.so)", "Recorder",
                                                   "Recorder Interleaved"}));
        ASSERT_TRUE(host->LoadPlugin(1, second.File("loud.so"), true));
        TSettingEFX efx;
        efx.SetHost(host.get());
        efx.Slots[1] = {true, true, host->Slot(1).Name, {}};
        ASSERT_TRUE(efx.Save(home.File("efxsetting.bin")));
    }
    auto host = MakeHost();
    TSettingEFX efx;
    efx.SetHost(host.get());
    efx.Load(home.File("efxsetting.bin"));
    EXPECT_TRUE(reports.empty());
    ASSERT_TRUE(host->Slot(1).Loaded.load());

    TSettingEFX slots;
    slots.Slots[1].On = true;
    const std::vector<double> x = Ramp(256);
    TStageRun run(2, x);
    TEFXFilter stage(2, false, 44100, 4096, *host, slots.Slots);
    stage.Process(run.in, *stage.OutFIFO, 256);
    std::vector<double> y(256);
    stage.OutFIFO->FIFOs[0]->Read(y.data(), 256);
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_FLOAT_EQ(static_cast<float>(y[i]), static_cast<float>(x[i] * 4)) << i;
}

} // namespace
} // namespace marlix
