#pragma once
#include "server/catalogue.h"

#include <optional>
#include <string>
#include <vector>

namespace marlix {

// Reads a file's tags through FFmpeg into a catalogue track: title (else the file's
// name without extension), artist, genre and date. nullopt when FFmpeg cannot open it.
std::optional<TCatalogueTrack> ReadTrackTags(const std::string& file);

// Every audio file under `folder` (sorted), read into tracks. Files FFmpeg cannot open,
// links that lead out of the folder and entries that cannot be examined are listed in
// `skipped`.
std::vector<TCatalogueTrack> ReadFolderTags(const std::string& folder, std::vector<std::string>& skipped);

} // namespace marlix
