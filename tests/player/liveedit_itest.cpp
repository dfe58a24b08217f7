// Edits made while a 440 Hz sine plays, heard the way a listener hears them: the
// session plays through the shared output into an ALSA device that writes the samples
// it receives to a file, the edits go through the same hand-over the windows use, and
// the received samples must show no click and no gap longer than a fade.
#include "dsp/pluginhost.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "support/alsaenvironment.h"
#include "support/clickcheck.h"
#include "support/sessionrig.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

namespace marlix {
namespace {

constexpr int kRate = 44100;
constexpr double kFrequency = 440;

// What an edit may touch: the records, the player state and the live hand-over.
struct TEditContext {
    TSettings& Settings;
    TPlayerState& State;
    TLiveSettings& Live;
    TPluginHost* Plugins;
};
using TEdit = std::function<void(TEditContext&)>;

struct TScenario {
    const char* Name;
    TEdit Before; // on the settings before playback starts
    std::vector<TEdit> Edits; // one a second while the sine plays
};

void SetCurve(TEditContext& c, std::vector<TEQ1> points)
{
    c.Settings.EQ.Curve(-1).Points = std::move(points);
    c.Live.PublishEQ(c.Settings.EQ);
}

// Two echoes: what a sine's abrupt start would make audible twice.
void Echoes(TEditContext& c)
{
    TConvolverEntry& e = c.Settings.Convolver.Conv[0];
    e.HasIR = true;
    e.On = true;
    e.CutDS = false;
    e.InCh = e.OutCh = 0;
    e.Level = 0;
    e.IR.assign(3000, 0.0);
    e.IR[0] = 0.5;
    e.IR[2999] = 0.3;
    e.IRLength = 3000;
    e.IRRate = kRate;
    c.Settings.Convolver.Conv[1] = e;
    c.Settings.Convolver.Conv[1].InCh = c.Settings.Convolver.Conv[1].OutCh = 1;
}

TEdit Set(std::atomic<bool> TPlayerState::*flag, bool on)
{
    return [flag, on](TEditContext& c) { (c.State.*flag).store(on); };
}

std::vector<TScenario> Scenarios()
{
    return {
        {"EQ switched on and off", [](TEditContext& c) { SetCurve(c, {TEQ1{0, 440, 1, 0, 6}}); },
         {Set(&TPlayerState::EQ, true), Set(&TPlayerState::EQ, false)}},
        {"EQ curve edits and preset changes",
         [](TEditContext& c) {
             c.State.EQ = true;
             SetCurve(c, {TEQ1{0, 440, 1, 0, 6}});
         },
         // A shelf far above the sine still moves the filter's middle taps: switched
         // between two samples, the sine would jump.
         {[](TEditContext& c) { SetCurve(c, {TEQ1{0, 440, 1, 0, 6}, TEQ1{1, 2000, 1, 0, 9}}); },
          [](TEditContext& c) { SetCurve(c, {TEQ1{0, 440, 1, 0, -6}}); }}},
        {"convolver switched on and off", Echoes,
         {Set(&TPlayerState::Convolver, true), Set(&TPlayerState::Convolver, false)}},
        {"convolver level and dry/wet",
         [](TEditContext& c) {
             Echoes(c);
             c.State.Convolver = true;
         },
         {[](TEditContext& c) {
              c.Settings.Convolver.Conv[0].Level = c.Settings.Convolver.Conv[1].Level = -6;
              c.Live.PublishConvolver(c.Settings.Convolver);
          },
          [](TEditContext& c) {
              c.Settings.Convolver.DryWet = 2;
              c.Live.PublishConvolver(c.Settings.Convolver);
          }}},
        {"matrix switched and routed",
         [](TEditContext& c) {
             c.Settings.Matrix.bInv[0][0] = true;
             c.Live.PublishMatrix(c.Settings.Matrix);
         },
         {Set(&TPlayerState::Matrix, true),
          [](TEditContext& c) {
              c.Settings.Matrix.fLevel[1][1] = -60;
              c.Live.PublishMatrix(c.Settings.Matrix);
          },
          Set(&TPlayerState::Matrix, false)}},
        {"effects switched on and off",
         [](TEditContext& c) {
             c.Settings.EFX.Slots[0].Present = true;
             c.Settings.EFX.Slots[0].Name = "Marlix|Crossfeed";
         },
         {Set(&TPlayerState::EFX, true), Set(&TPlayerState::EFX, false)}},
        {"an effect slot switched off and on",
         [](TEditContext& c) {
             c.Settings.EFX.Slots[0].Present = true;
             c.Settings.EFX.Slots[0].Name = "Marlix|Crossfeed";
             c.State.EFX = true;
         },
         {[](TEditContext& c) { c.Settings.EFX.Slots[0].On = false; },
          [](TEditContext& c) {
              // As the effect page does: a slot switched back on starts from a clear state.
              c.Settings.EFX.Slots[0].On = true;
              c.Plugins->RequestClear(0);
          }}},
        {"HSC switched on and off", {}, {Set(&TPlayerState::HSC, true), Set(&TPlayerState::HSC, false)}},
        {"master volume", {},
         {[](TEditContext& c) { c.State.MasterVolume = -120; }, [](TEditContext& c) { c.State.MasterVolume = -30; }}},
        {"trim, polarity and delay", {},
         {[](TEditContext& c) { c.Settings.Output.fLevel[0] = -60; },
          [](TEditContext& c) { c.Settings.Output.bInvPhase[1] = true; },
          [](TEditContext& c) { c.Settings.Output.fDelay[0] = 5; }}},
    };
}

// Plays a sine with the scenario's edits one a second, and returns what the device got.
std::vector<int16_t> Play(const TScenario& scenario)
{
    test::TempDir home;
    const auto& device = test::FileDevice();
    device.Clear();
    std::filesystem::create_directories(home.File("plugin"));
    std::filesystem::copy_file(std::string(MARLIX_TEST_BIN_DIR) + "plugin/crossfeed.aep",
                               home.File("plugin/crossfeed.aep"));
    test::WriteText(home.File("setting.ini"), "[MME]\nDevice0=-1\n[Status]\nAVC=0\n");
    const double seconds = 2.0 + static_cast<double>(scenario.Edits.size());
    test::WriteSineWav(home.File("sine.wav"), seconds, kRate, kFrequency, 0.4);

    TPluginHost plugins(home.Path());
    test::TSessionRig rig(home.Path(), &plugins);
    TEditContext context{rig.Settings, rig.State, rig.Session.Control.Chain.Live, &plugins};
    if (scenario.Before) {
        // Set up as a user would have left them: in the files the session loads.
        TIniFile ini(home.File("setting.ini"));
        rig.Settings.Load(ini, home.Path());
        rig.State.Load(ini);
        scenario.Before(context);
        EXPECT_TRUE(rig.Settings.SaveRecords(ini, home.Path()));
        rig.State.Save(ini);
        EXPECT_TRUE(ini.UpdateFile());
    }
    rig.Session.Start({home.File("sine.wav")});
    rig.State.Command.Post("Play");

    // The edits come one a second once the output runs, until the track has ended.
    using Clock = std::chrono::steady_clock;
    Clock::time_point started{};
    size_t done = 0;
    rig.RunUntil([&] { return started != Clock::time_point{} && !rig.State.OutputRunning && rig.State.Command.Empty(); },
                 std::chrono::seconds(60), [&] {
                     const auto now = Clock::now();
                     if (rig.State.OutputRunning && started == Clock::time_point{})
                         started = now;
                     if (started != Clock::time_point{} && done < scenario.Edits.size() &&
                         now - started >= std::chrono::milliseconds(1000 * static_cast<int>(done + 1)))
                         scenario.Edits[done++](context);
                 });
    EXPECT_EQ(done, scenario.Edits.size()) << scenario.Name << ": playback ended before every edit";
    (void)rig.Session.Shutdown();
    return test::ReadRaw16(device.DefaultFile);
}

TEST(LiveEdits, NeverClickNorLeaveAGap)
{
    for (const TScenario& scenario : Scenarios()) {
        const std::vector<int16_t> received = Play(scenario);
        const test::TClickReport report = test::CheckSine(received, 2, kRate, kFrequency);
        std::printf("%-36s %s\n", scenario.Name, report.Describe().c_str());
        EXPECT_GT(report.SoundFrames, 2 * kRate) << scenario.Name;
        EXPECT_EQ(report.Clicks, 0) << scenario.Name << ": " << report.Describe();
        EXPECT_LE(report.LongestSilenceMs, 50.0) << scenario.Name << ": " << report.Describe();
    }
}

} // namespace
} // namespace marlix
