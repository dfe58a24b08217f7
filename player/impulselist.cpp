#include "player/impulselist.h"

#include "base/fileutil.h"
#include "base/flexfilebuf.h"
#include "dsp/convolverset.h"

#include <algorithm>
#include <filesystem>

namespace marlix {

namespace {

// Responses longer than this (about 22 minutes at 48 kHz) are not taken.
constexpr int64_t kMaxFrames = 1 << 26;

} // namespace

std::vector<TImpulseItem> GatherImpulseResponses(const std::string& folder)
{
    std::vector<std::string> files;
    ListFolder(folder, files, true, "wav");
    std::sort(files.begin(), files.end());
    std::vector<TImpulseItem> items;
    for (const std::string& file : files) {
        TFlexFileBuf wav;
        if (wav.OpenFile(TFlexFileBuf::ReadSide, {file}, 0, 0, 1, 0) != 0)
            continue;
        const int channels = wav.GetFileChannels(TFlexFileBuf::ReadSide);
        wav.CloseFile(TFlexFileBuf::ReadSide);
        const std::string stem = std::filesystem::path(file).stem().string();
        for (int ch = 0; ch < channels; ++ch)
            items.push_back({file, ch, stem + " (Ch " + std::to_string(ch + 1) + ")"});
    }
    return items;
}

bool LoadImpulseResponse(const TImpulseItem& item, TConvolverEntry& entry)
{
    TFlexFileBuf wav;
    if (wav.OpenFile(TFlexFileBuf::ReadSide, {item.File}, 0, 0, 1, 0) != 0)
        return false;
    const int64_t frames = wav.GetFileLength(TFlexFileBuf::ReadSide);
    const int rate = wav.GetFileRate(TFlexFileBuf::ReadSide);
    if (frames <= 0 || frames > kMaxFrames || item.Channel >= wav.GetFileChannels(TFlexFileBuf::ReadSide))
        return false;
    const int read = wav.ReadBlock(static_cast<int>(frames));
    if (read <= 0)
        return false;
    const auto* samples = static_cast<const double*>(wav.GetData(65)[item.Channel]);
    entry.IR.assign(samples, samples + read);
    entry.IRLength = read;
    entry.IRRate = rate;
    entry.IRName = item.Caption.substr(0, 255);
    entry.HasIR = true;
    return true;
}

} // namespace marlix
