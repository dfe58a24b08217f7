#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace marlix {

class TAdditionLoader;
class TPendingAdditions;
class TPlayerState;

// One playlist entry. `FileName` is a location (file path or URL) or a title, "*" and
// a location.
struct TPlayItem {
    std::string FileName;
    bool Played = false;   // finished in the current pass
    bool Selected = false; // marked by the user
    bool Failed = false;   // could not be opened; never chosen again

    // The text after the first "*", or the whole entry.
    std::string Location() const;
    // The title before the first "*", or else the location's file name.
    std::string DisplayName() const;

    bool operator==(const TPlayItem&) const = default;
};

// The playlist: the main list with its cursor and playing entry, the hidden list of
// background music, and the choice of the next and previous track for the control loop.
// Modes come from the player state; new entries from the pending additions.
class TPlaylist {
public:
    explicit TPlaylist(TPlayerState& state, TPendingAdditions& pending);
    TPlaylist(); // the process-wide state and pending additions

    // The main list.
    void Add(const std::string& entry);
    int Count() const { return static_cast<int>(Entries.size()); }
    TPlayItem& Item(int index) { return Entries.at(static_cast<size_t>(index)); }
    const TPlayItem& Item(int index) const { return Entries.at(static_cast<size_t>(index)); }
    const std::vector<TPlayItem>& Items() const { return Entries; }
    // Empties the list; every index becomes -1.
    void Clear();
    // Removes the selected entries; hover, cursor and anchor become -1, the playing
    // index follows its entry (-1 when it was removed). Returns how many went.
    int DeleteSelected();
    int CountSelected() const;
    const std::vector<TPlayItem>& BGMItems() const { return Bgm; }

    // Rows of the main list, -1 when unset.
    int HoverIndex = -1;
    int CursorIndex = -1;
    int PlayingIndex = -1;
    int AnchorIndex = -1;
    // The background-music entry playing, -1 when none.
    int BGMPlayingIndex = -1;

    // The location to play next or before, or empty when there is none.
    std::string NextTrack();
    std::string PreviousTrack();
    // Marks every entry of either list whose location is `location` as failed.
    void MarkFailed(const std::string& location);

    // Moves every pending addition into the list: "#EXTINF" lines give the title of the
    // entries after them, a lone ".m3u" waits to be expanded and a lone ".mxp" waits to
    // be run as a favourite search; other ".m3u" and ".mxp" strings are dropped.
    void AddPending();
    // The timer's handling of the pending additions: replaces the list (or appends in
    // reservation mode), posts "Play" with "bPlayAtOpen", and expands a waiting ".m3u"
    // into the pending additions: through the loader when one is given (its lines
    // arrive when it has read them), else at once. True when the list changed.
    bool TakePending();
    void UseLoader(TAdditionLoader* loader) { Loader = loader; }
    // The favourite search file waiting to be run, or empty; background music stops
    // when there is one.
    std::string TakeFavourite();
    // Follows the decoder: `decoderFile` is its file while it is open or opening, else
    // empty. Does nothing while a command is pending. True when the main list's playing
    // row changed.
    bool FollowDecoder(const std::string& decoderFile);

    // Appends the lines of an ".m3u" file to `list`: blank lines and lines beginning with
    // "#" are skipped, relative locations are made relative to the file's folder. False
    // (nothing added) when the file cannot be read.
    static bool LoadM3U(const std::string& file, std::vector<std::string>& list);
    // The same, telling `step` the bytes read so far and the file's size as it reads, and
    // asking it again before each line: false stops the reading, adds nothing and
    // returns false.
    static bool LoadM3U(const std::string& file, std::vector<std::string>& list,
                        const std::function<bool(uint64_t done, uint64_t total)>& step);
    // Writes every entry, one per line (CR LF). False when the file could not be written.
    [[nodiscard]] bool SavePlaylist(const std::string& file) const;
    // "current.m3u" in the program folder, read at start and written at exit when
    // "bSavePlaylist" is set.
    void LoadCurrent();
    [[nodiscard]] bool SaveCurrent() const;
    static std::string CurrentFile();

    void SetRandomSeed(uint32_t seed) { Rng.seed(seed); }

private:
    int Random(int below);
    int ScanFrom(const std::vector<TPlayItem>& list, int start) const;
    int RandomUnplayed(std::vector<TPlayItem>& list, bool refill);
    int NextInOrder();
    std::string NextMain();
    std::string NextBGM();
    void ReloadBGM();
    int LastIndexOf(const std::vector<TPlayItem>& list, const std::string& location) const;

    TPlayerState& State;
    TPendingAdditions& Pending;
    std::vector<TPlayItem> Entries;
    std::vector<TPlayItem> Bgm;
    std::optional<std::filesystem::file_time_type> BgmAge;
    TAdditionLoader* Loader = nullptr;
    std::string WaitingM3U;
    std::string WaitingFavourite;
    std::mt19937 Rng;
};

} // namespace marlix
