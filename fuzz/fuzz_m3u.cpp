// Arbitrary bytes as an ".m3u" playlist: read it, move its lines through the pending
// additions into a playlist, save that and check that the saved file reads back as the
// same entries.
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playlist.h"

#include "fuzz/fuzzsupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using marlix::fuzz::Check;

const std::string& Folder()
{
    static const marlix::fuzz::TFolder folder("fuzz_m3u");
    return folder.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace marlix;
    const std::string path = Folder() + "in.m3u";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<std::string> lines;
    Check(TPlaylist::LoadM3U(path, lines), "file read");
    Check(lines.size() <= size, "at most one entry per byte");
    for (const auto& line : lines) {
        Check(!line.empty() && line.front() != '#', "no blank or comment lines");
        Check(line.find_first_of("\r\n") == std::string::npos, "one line per entry");
    }

    TPlayerState state;
    TPendingAdditions pending;
    TPlaylist list(state, pending);
    pending.Add(lines);
    list.TakePending();
    Check(pending.Empty() || lines.size() == 1, "only a lone playlist waits");
    for (const auto& item : list.Items()) {
        item.DisplayName();
        Check(!item.Location().empty() || item.FileName.ends_with('*'), "entry has a location");
    }

    state.Random = size % 2 == 1;
    state.Repeat = size % 3 == 1;
    for (int i = 0; i < 2 * list.Count() + 1; ++i) {
        const std::string next = list.NextTrack();
        list.FollowDecoder(next);
        if (i % 5 == 4)
            list.MarkFailed(next);
    }
    list.PreviousTrack();

    const std::string saved = Folder() + "out.m3u";
    Check(list.SavePlaylist(saved), "saved");
    // A byte order mark at the very start of a file is taken for one, so a first entry
    // that begins with one (only possible when it came from a later line) cannot survive.
    if (list.Count() > 0 && list.Items()[0].FileName.starts_with("\xEF\xBB\xBF"))
        return 0;
    std::vector<std::string> back;
    Check(TPlaylist::LoadM3U(saved, back), "saved file read");
    Check(back.size() == static_cast<size_t>(list.Count()), "saved entry count");
    for (size_t i = 0; i < back.size(); ++i)
        Check(back[i] == list.Items()[i].FileName, "saved entry reads back");
    return 0;
}
