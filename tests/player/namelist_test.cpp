#include "player/namelist.h"
#include "support/testutil.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace marlix {
namespace {

TEST(NameList, NaturalOrderAndCommandLineNames)
{
    std::vector<std::string> names{"track 10.wav", "track 9.wav", "track 009b.wav", "b", "a10", "a2", "a02x", "a"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "a2", "a02x", "a10", "b", "track 9.wav", "track 009b.wav",
                                               "track 10.wav"}));

    // A command line keeps what is not a folder; a folder gives its files with a listed
    // extension (compared without case and blanks in the list).
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("cd/sub"));
    for (const char* f : {"cd/1.WAV", "cd/sub/2.flac", "cd/notes.txt"})
        test::WriteText(dir.File(f), "x");
    const std::vector<std::string> given{"http://radio.example/live", dir.File("cd"), dir.File("gone.wav")};
    EXPECT_EQ(ExpandNames(given, "WAV, flac", true),
              (std::vector<std::string>{"http://radio.example/live", dir.File("cd/1.WAV"), dir.File("cd/sub/2.flac"),
                                        dir.File("gone.wav")}));
    EXPECT_EQ(ExpandNames(given, "wav", false), (std::vector<std::string>{dir.File("cd/1.WAV")}));
}

} // namespace
} // namespace marlix
