// The position the player shows is that of what the device is playing, not what the
// decoder has read: a file whose frames carry their own index plays bit-exactly into a
// file device, and at every moment the shown position must lie just before the newest
// frame the device has received.
#include "support/alsaenvironment.h"
#include "support/clickcheck.h"
#include "support/sessionrig.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace marlix {
namespace {

constexpr int kRate = 44100;

// Frame i holds i + 1: its low 15 bits on the left, the rest on the right (never a frame
// that looks silent).
void WriteCounterWav(const std::string& path, uint32_t frames)
{
    std::vector<int16_t> samples(2 * size_t(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        samples[2 * size_t(i)] = static_cast<int16_t>((i & 0x7FFF) + 1);
        samples[2 * size_t(i) + 1] = static_cast<int16_t>(i >> 15);
    }
    test::WriteStereo16Wav(path, kRate, samples);
}

// The index carried by the newest whole frame the device has received; -1 before any.
long NewestFrame(const std::string& raw)
{
    const std::vector<uint8_t> bytes = test::ReadAll(raw);
    for (size_t end = bytes.size() / 4; end > 0; --end) {
        uint16_t left = 0, right = 0;
        std::memcpy(&left, bytes.data() + 4 * (end - 1), 2);
        std::memcpy(&right, bytes.data() + 4 * (end - 1) + 2, 2);
        if (left != 0)
            return static_cast<long>(right) << 15 | (left - 1);
    }
    return -1;
}

TEST(HeardPosition, StaysWithTheNewestFrameTheDeviceGot)
{
    test::TempDir home;
    test::FileDevice().Clear();
    test::WriteText(home.File("setting.ini"), "[MME]\nDevice0=-1\n[Status]\nAVC=0\n");
    WriteCounterWav(home.File("count.wav"), 8 * kRate);
    test::TSessionRig rig(home.Path());
    rig.Session.Start({home.File("count.wav")});
    rig.State.Command.Post("Play");

    int compared = 0;
    double worstLead = -1e9, worstLag = -1e9;
    rig.RunUntil([&] { return compared >= 60; }, std::chrono::seconds(30), [&] {
        const double shown = rig.State.HeardMs.load() / 1000;
        const long newest = NewestFrame(test::FileDevice().DefaultFile);
        // Once the sound has started and while the track still plays.
        if (!rig.State.OutputRunning || newest < kRate / 2 || newest > 6 * kRate)
            return;
        ++compared;
        const double received = static_cast<double>(newest) / kRate;
        worstLead = std::max(worstLead, shown - received);
        worstLag = std::max(worstLag, received - shown);
    });
    (void)rig.Session.Shutdown();
    ASSERT_GE(compared, 40) << "the track did not play long enough to compare";
    // Shown not ahead of what the device has (but for the file device's own period, which
    // it writes out whole); behind it by no more than what a device may hold (its buffers
    // and ALSA's, well under half a second here).
    EXPECT_LE(worstLead, 0.1) << "shown ahead of the device by " << worstLead << " s";
    EXPECT_LE(worstLag, 0.5) << "shown behind the device by " << worstLag << " s";
    std::printf("shown position: at most %.3f s ahead of and %.3f s behind the newest frame received\n", worstLead,
                worstLag);
}

} // namespace
} // namespace marlix
