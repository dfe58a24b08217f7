#pragma once
#include <chrono>
#include <string>
#include <vector>

namespace marlix {

// A moment as days since 30 December 1899, local time, with the fraction of the day.
double ToDateTime(std::chrono::system_clock::time_point when);
double DateTimeNow();

// What the history holds for one name (file or sub-folder) of a folder.
struct THistoryEntry {
    std::string Name;
    int Count = 0;     // plays recorded
    double Date = 0;   // last play (see ToDateTime); 0 when never recorded
};

// The play history in program folder + "history/": one INI file per folder with the
// sections "Count" and "Date" keyed by name, and "history.log" with one line per play.
class THistory {
public:
    // `folder` is the history folder with a trailing "/".
    explicit THistory(std::string folder);
    // program folder + "history/".
    THistory();

    const std::string& Folder() const { return HistoryFolder; }
    // The history file of a folder: its path without the trailing "/", with every "/"
    // and ":" replaced by "_", plus ".ini".
    std::string FileFor(const std::string& folder) const;
    std::string LogFile() const { return HistoryFolder + "history.log"; }

    // Counts a play of `path` at `when` in its folder's file and appends the log line
    // "<when>,<path>". False when something could not be written.
    bool RecordTrackPlay(const std::string& path, double when);
    bool RecordTrackPlay(const std::string& path) { return RecordTrackPlay(path, DateTimeNow()); }
    // Counts a play of the file or folder at `path` at `when` in its folder's file,
    // without a log line (folder plays). False when the file could not be written.
    bool CountPlay(const std::string& path, double when);

    // The recorded plays of the file or folder at `path`; 0 when none or unreadable.
    int Count(const std::string& path) const;
    double Date(const std::string& path) const;
    // Every name the history file of `folder` knows, with its count and date.
    std::vector<THistoryEntry> ReadFolder(const std::string& folder) const;
    // Deletes every ".ini" file of the history folder and the log; other files stay.
    void Clear() const;

private:
    std::string HistoryFolder;
};

// The history step after the decoder opened `file`: with "bSaveHistory" set, makes the
// history folder and, unless background music plays or the file does not exist on disk,
// records the play.
void RecordOpenedTrack(const std::string& file);

} // namespace marlix
