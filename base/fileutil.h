#pragma once
#include <functional>
#include <string>
#include <vector>

namespace marlix {

// Appends the entries of `folder` to `list`, in the order the file system gives them.
// Not recursive: sub-folders by bare name, files as "!" + name. Recursive: only files,
// by full path ("folder/sub/name"), descending into every sub-folder once (a folder
// reached again through a symbolic link is skipped). `extensions` is a comma-separated
// list of lower-case extensions without dots ("wav,mp3"); a file is taken when its
// lower-cased extension is in it, or always when the list is empty. Only regular files
// count as files. A folder that does not exist lists nothing.
void ListFolder(const std::string& folder, std::vector<std::string>& list, bool recursive,
                const std::string& extensions);
// The same, asking `step` before each folder entry it looks at: an answer of false stops
// the listing there, keeping what was found so far. For progress and cancelling.
void ListFolder(const std::string& folder, std::vector<std::string>& list, bool recursive,
                const std::string& extensions, const std::function<bool()>& step);

// Deletes `folder` with everything in it. Symbolic links are removed, never followed;
// a folder given as a symbolic link loses only the link. Carries on past entries it
// cannot delete. Returns true when the folder no longer exists afterwards; an empty
// path or the root folder is refused.
bool DeleteTree(const std::string& folder);

} // namespace marlix
