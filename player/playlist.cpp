#include "player/playlist.h"

#include "base/programfolder.h"
#include "player/additionloader.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "settings/settings.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <iterator>
#include <utility>

namespace marlix {

namespace {

constexpr size_t MaxTitleChars = 255;

bool IsValid(int index, size_t count) { return index >= 0 && static_cast<size_t>(index) < count; }

void ClearPlayed(std::vector<TPlayItem>& list)
{
    for (auto& item : list)
        item.Played = false;
}

// The lower-cased extension with its ".", or empty when the last "." belongs to a folder.
std::string Extension(const std::string& s)
{
    const size_t dot = s.rfind('.');
    if (dot == std::string::npos || s.find_first_of("/\\:", dot) != std::string::npos)
        return {};
    std::string e = s.substr(dot);
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return e;
}

// At most `count` UTF-8 characters from the start of `s`.
std::string Utf8Prefix(const std::string& s, size_t count)
{
    size_t end = 0;
    for (size_t chars = 0; end < s.size() && chars < count; ++chars) {
        ++end;
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
            ++end;
    }
    return s.substr(0, end);
}

// The title of an "#EXTINF" line. A "*" would end the title early when the entry is read
// back, so it becomes the full-width asterisk.
std::string ExtInfTitle(const std::string& line)
{
    const std::string info = Utf8Prefix(line.substr(7), MaxTitleChars);
    const size_t comma = info.find(',');
    std::string title = comma == std::string::npos ? info : info.substr(comma + 1);
    for (size_t star; (star = title.find('*')) != std::string::npos;)
        title.replace(star, 1, "\xEF\xBC\x8A");
    return title;
}

bool IsAbsoluteLocation(const std::string& location)
{
    return location.starts_with('/') || location.find("://") != std::string::npos ||
           location.find(":\\") != std::string::npos;
}

bool IsBlank(const std::string& line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

// A regular file's bytes, read in blocks so that `step` hears how far the reading is and
// can stop it. False when the file cannot be read or `step` stopped it.
bool ReadWhole(const std::string& file, std::string& text,
               const std::function<bool(uint64_t done, uint64_t total)>& step)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return false;
    const uint64_t total = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in)
        return false;
    constexpr size_t Block = 64 * 1024;
    char buffer[Block];
    while (in.read(buffer, Block) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (step && !step(std::min<uint64_t>(text.size(), total), total))
            return false;
    }
    return !in.bad();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

std::string TPlayItem::Location() const
{
    const size_t star = FileName.find('*');
    return star == std::string::npos ? FileName : FileName.substr(star + 1);
}

std::string TPlayItem::DisplayName() const
{
    const size_t star = FileName.find('*');
    if (star != std::string::npos && star > 0)
        return FileName.substr(0, star);
    std::string name = Location();
    name = name.substr(name.rfind('/') + 1);
    return name.substr(name.find_last_of("\\:") + 1);
}

TPlaylist::TPlaylist(TPlayerState& state, TPendingAdditions& pending)
    : State(state), Pending(pending),
      Rng(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()))
{
}

TPlaylist::TPlaylist() : TPlaylist(PlayerState(), PendingAdditions()) {}

void TPlaylist::Add(const std::string& entry) { Entries.push_back(TPlayItem{entry}); }

void TPlaylist::Clear()
{
    Entries.clear();
    HoverIndex = CursorIndex = PlayingIndex = AnchorIndex = -1;
}

int TPlaylist::DeleteSelected()
{
    std::vector<TPlayItem> kept;
    int playing = -1;
    for (int i = 0; i < Count(); ++i) {
        if (Entries[i].Selected)
            continue;
        if (i == PlayingIndex)
            playing = static_cast<int>(kept.size());
        kept.push_back(std::move(Entries[i]));
    }
    const int removed = Count() - static_cast<int>(kept.size());
    Entries = std::move(kept);
    HoverIndex = CursorIndex = AnchorIndex = -1;
    PlayingIndex = playing;
    return removed;
}

int TPlaylist::CountSelected() const
{
    return static_cast<int>(std::count_if(Entries.begin(), Entries.end(), [](const TPlayItem& i) { return i.Selected; }));
}

int TPlaylist::Random(int below) { return std::uniform_int_distribution<int>(0, below - 1)(Rng); }

// Starting at `start`, the first entry that is not failed; past the end the scan goes on
// with the entry whose index is the number of steps taken. When that finds nothing while
// playable entries remain, the first of them is taken rather than stopping playback.
int TPlaylist::ScanFrom(const std::vector<TPlayItem>& list, int start) const
{
    const long long n = static_cast<long long>(list.size());
    for (long long i = 0;; ++i) {
        const long long b = start + i;
        if (b >= 0 && b < n) {
            if (!list[static_cast<size_t>(b)].Failed)
                return static_cast<int>(b);
        } else if (i >= n) {
            break;
        } else if (!list[static_cast<size_t>(i)].Failed) {
            return static_cast<int>(i);
        }
    }
    const auto first = std::find_if(list.begin(), list.end(), [](const TPlayItem& i) { return !i.Failed; });
    return first == list.end() ? -1 : static_cast<int>(first - list.begin());
}

// A random entry not played in this pass. The main list (`mainList`) clears its marks
// when the pass is over and starts a new pass only with "Repeat"; the background list
// keeps its marks and always draws once more from all of its entries.
int TPlaylist::RandomUnplayed(std::vector<TPlayItem>& list, bool mainList)
{
    std::vector<int> candidates;
    for (int i = 0; i < static_cast<int>(list.size()); ++i)
        if (!list[i].Played)
            candidates.push_back(i);
    bool refilled = false;
    for (;;) {
        if (candidates.empty()) {
            if (mainList)
                ClearPlayed(list);
            if (refilled || (mainList && !State.Repeat) || list.empty())
                return -1;
            candidates.resize(list.size());
            for (int i = 0; i < static_cast<int>(list.size()); ++i)
                candidates[i] = i;
            refilled = true;
        }
        const int k = Random(static_cast<int>(candidates.size()));
        if (!list[candidates[k]].Failed)
            return candidates[k];
        candidates.erase(candidates.begin() + k);
    }
}

int TPlaylist::NextInOrder()
{
    for (int i = PlayingIndex + 1; i < Count(); ++i)
        if (!Entries[i].Failed)
            return i;
    ClearPlayed(Entries);
    if (!State.Repeat)
        return -1;
    for (int i = 0; i < Count(); ++i)
        if (!Entries[i].Failed)
            return i;
    return -1;
}

std::string TPlaylist::NextMain()
{
    int index = -1;
    if (!IsValid(PlayingIndex, Entries.size())) {
        ClearPlayed(Entries);
        int start = CursorIndex;
        if (State.Random && !IsValid(start, Entries.size()) && !Entries.empty())
            start = Random(Count());
        index = ScanFrom(Entries, start);
    } else if (State.Repeat1 && !Entries[PlayingIndex].Failed) {
        index = PlayingIndex;
    } else {
        Entries[PlayingIndex].Played = true;
        index = State.Random ? RandomUnplayed(Entries, true) : NextInOrder();
    }
    return index < 0 ? std::string() : Entries[index].Location();
}

void TPlaylist::ReloadBGM()
{
    const std::string& file = Settings().Function.BGMPlaylist;
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec))
        return;
    const auto age = std::filesystem::last_write_time(file, ec);
    if (ec || (!Bgm.empty() && BgmAge == age))
        return;
    std::vector<std::string> lines;
    if (!LoadM3U(file, lines))
        return;
    Bgm.clear();
    BGMPlayingIndex = -1;
    BgmAge = age;
    for (auto& line : lines)
        Bgm.push_back(TPlayItem{std::move(line)});
}

std::string TPlaylist::NextBGM()
{
    ReloadBGM();
    int index = -1;
    if (!IsValid(BGMPlayingIndex, Bgm.size())) {
        ClearPlayed(Bgm);
        if (!Bgm.empty())
            index = ScanFrom(Bgm, Random(static_cast<int>(Bgm.size())));
    } else {
        if (!State.Repeat1)
            Bgm[BGMPlayingIndex].Played = true;
        index = RandomUnplayed(Bgm, false);
    }
    return index < 0 ? std::string() : Bgm[index].Location();
}

std::string TPlaylist::NextTrack() { return State.BGMActive ? NextBGM() : NextMain(); }

std::string TPlaylist::PreviousTrack()
{
    if (!IsValid(PlayingIndex, Entries.size()))
        return {};
    for (int i = PlayingIndex - 1; i >= 0; --i)
        if (!Entries[i].Failed)
            return Entries[i].Location();
    return {};
}

void TPlaylist::MarkFailed(const std::string& location)
{
    for (auto* list : {&Entries, &Bgm})
        for (auto& item : *list)
            if (item.Location() == location)
                item.Failed = true;
}

void TPlaylist::AddPending()
{
    const std::vector<std::string> batch = Pending.Take();
    std::string title;
    for (const auto& s : batch) {
        // An entry is one line of a playlist file.
        if (s.empty() || s.find_first_of("\r\n") != std::string::npos)
            continue;
        if (s.starts_with('#')) {
            if (s.starts_with("#EXTINF"))
                title = ExtInfTitle(s);
            continue;
        }
        const std::string e = Extension(s);
        if (e == ".m3u" || e == ".mxp") {
            if (batch.size() == 1)
                (e == ".m3u" ? WaitingM3U : WaitingFavourite) = s;
            continue;
        }
        Add(title.empty() ? s : title + "*" + s);
    }
}

bool TPlaylist::TakePending()
{
    bool changed = false;
    if (!Pending.Empty()) {
        State.BGMActive = false;
        const bool play = Settings().Operation.bPlayAtOpen;
        if (!State.Reserve) {
            Clear();
        } else if (!State.OutputRunning) {
            HoverIndex = CursorIndex = State.Random ? -1 : Count();
        }
        if (play && !(State.Reserve && State.OutputRunning))
            State.Command.Post("Play");
        AddPending();
        changed = true;
    }
    if (!WaitingM3U.empty() && Loader) {
        Loader->AddM3U(std::exchange(WaitingM3U, {}));
    } else if (!WaitingM3U.empty()) {
        std::vector<std::string> lines;
        LoadM3U(WaitingM3U, lines);
        Pending.Add(lines);
        WaitingM3U.clear();
    }
    return changed;
}

std::string TPlaylist::TakeFavourite()
{
    if (!WaitingFavourite.empty())
        State.BGMActive = false;
    return std::exchange(WaitingFavourite, {});
}

int TPlaylist::LastIndexOf(const std::vector<TPlayItem>& list, const std::string& location) const
{
    for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i)
        if (list[i].Location() == location)
            return i;
    return -1;
}

bool TPlaylist::FollowDecoder(const std::string& decoderFile)
{
    if (!State.Command.Empty())
        return false;
    const bool bgm = State.BGMActive;
    const int index = bgm || decoderFile.empty() ? -1 : LastIndexOf(Entries, decoderFile);
    bool changed = false;
    if (index != PlayingIndex) {
        PlayingIndex = index;
        if (index >= 0)
            CursorIndex = index;
        else
            ClearPlayed(Entries);
        changed = true;
    }
    if (bgm) {
        const int bgmIndex = decoderFile.empty() ? -1 : LastIndexOf(Bgm, decoderFile);
        if (bgmIndex != BGMPlayingIndex) {
            BGMPlayingIndex = bgmIndex;
            if (bgmIndex < 0)
                ClearPlayed(Bgm);
        }
    }
    return changed;
}

bool TPlaylist::LoadM3U(const std::string& file, std::vector<std::string>& list)
{
    return LoadM3U(file, list, {});
}

bool TPlaylist::LoadM3U(const std::string& file, std::vector<std::string>& list,
                        const std::function<bool(uint64_t done, uint64_t total)>& step)
{
    std::string text;
    if (!ReadWhole(file, text, step))
        return false;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.erase(0, 3);
    std::error_code ec;
    std::string folder = std::filesystem::absolute(file, ec).parent_path().string();
    if (!folder.ends_with('/'))
        folder += '/';
    std::vector<std::string> lines;
    for (auto& line : SplitLines(text)) {
        if (step && !step(text.size(), text.size()))
            return false;
        if (IsBlank(line) || line.starts_with('#'))
            continue;
        const size_t star = line.find('*');
        const size_t at = star == std::string::npos ? 0 : star + 1;
        std::string location = line.substr(at);
        if (!IsAbsoluteLocation(location)) {
            std::replace(location.begin(), location.end(), '\\', '/');
            line = line.substr(0, at) + folder + location;
        }
        lines.push_back(std::move(line));
    }
    list.insert(list.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    return true;
}

bool TPlaylist::SavePlaylist(const std::string& file) const
{
    std::string text;
    for (const auto& item : Entries)
        text += item.FileName + "\r\n";
    return WriteFileAtomic(file, text);
}

std::string TPlaylist::CurrentFile() { return ProgramFolder() + "current.m3u"; }

void TPlaylist::LoadCurrent()
{
    if (!Settings().Function.bSavePlaylist)
        return;
    std::vector<std::string> lines;
    LoadM3U(CurrentFile(), lines);
    Pending.Add(lines);
    HoverIndex = CursorIndex = PlayingIndex = AnchorIndex = -1;
    AddPending();
}

bool TPlaylist::SaveCurrent() const
{
    return !Settings().Function.bSavePlaylist || SavePlaylist(CurrentFile());
}

} // namespace marlix
