#pragma once
#include <string>
#include <vector>

namespace marlix {

// The audio links of a page, as the library pane's play-all button takes them: lines whose
// first ".mp3" closes a link ('>' or '">' after it), made absolute against the page's
// folder, without script links or wildcards.
std::vector<std::string> PlayAllLinks(const std::vector<std::string>& pageLines, const std::string& location);

// True when a navigation to `url` is an audio file the playlist should take instead: its
// path (without query or fragment) ends in ".mp3", ".wav", ".mpg" or ".mid", in any case.
bool IsAudioLink(const std::string& url);

} // namespace marlix
