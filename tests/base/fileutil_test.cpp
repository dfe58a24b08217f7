#include "base/fileutil.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;
using Names = std::vector<std::string>;

Names Sorted(Names v)
{
    std::sort(v.begin(), v.end());
    return v;
}

Names List(const std::string& folder, bool recursive, const std::string& extensions)
{
    Names list;
    ListFolder(folder, list, recursive, extensions);
    return Sorted(list);
}

// root/ a.wav  b.MP3  c.mp3x  d.txt  noext  sub/ e.Wav  sub/deep/ f.mp3  g.flac  empty/
class FolderTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = dir.Path() + "root/";
        fs::create_directories(root + "sub/deep");
        fs::create_directories(root + "empty");
        for (const char* name : {"a.wav", "b.MP3", "c.mp3x", "d.txt", "noext", "sub/e.Wav", "sub/deep/f.mp3",
                                 "sub/deep/g.flac"})
            WriteText(root + name, "x");
    }

    TempDir dir;
    std::string root;
};

TEST_F(FolderTree, FlatListingNamesFoldersAndMarksFiles)
{
    EXPECT_EQ(List(root, false, ""), Sorted({"!a.wav", "!b.MP3", "!c.mp3x", "!d.txt", "!noext", "empty", "sub"}));
    // Folders are listed whatever the filter; the extension is compared in lower case.
    EXPECT_EQ(List(root, false, "wav,mp3"), Sorted({"!a.wav", "!b.MP3", "empty", "sub"}));
    EXPECT_EQ(List(root, false, "txt"), Sorted({"!d.txt", "empty", "sub"}));
}

TEST_F(FolderTree, RecursiveListingGivesFullPathsOfFilesOnly)
{
    EXPECT_EQ(List(root, true, "wav,mp3"),
              Sorted({root + "a.wav", root + "b.MP3", root + "sub/e.Wav", root + "sub/deep/f.mp3"}));
    EXPECT_EQ(List(root, true, "").size(), 8u);
}

TEST_F(FolderTree, TrailingSlashMakesNoDifference)
{
    const std::string bare = root.substr(0, root.size() - 1);
    EXPECT_EQ(List(bare, true, "flac,txt"), Sorted({root + "d.txt", root + "sub/deep/g.flac"}));
    EXPECT_EQ(List(bare, true, ""), List(root, true, ""));
    EXPECT_EQ(List(bare, false, "wav"), List(root, false, "wav"));
}

TEST_F(FolderTree, ListingAppendsToTheGivenList)
{
    Names list{"kept"};
    ListFolder(root + "sub", list, false, "");
    EXPECT_EQ(Sorted(list), Sorted({"kept", "!e.Wav", "deep"}));
}

TEST_F(FolderTree, MissingFolderListsNothing)
{
    EXPECT_TRUE(List(root + "nothing-here", false, "").empty());
    EXPECT_TRUE(List(root + "nothing-here", true, "").empty());
    EXPECT_TRUE(List(root + "a.wav", true, "").empty());
    EXPECT_TRUE(List("", false, "").empty());
}

TEST_F(FolderTree, LinkedFoldersAreListedButNotLoopedThrough)
{
    fs::create_directory_symlink(root, root + "sub/back-to-root");
    EXPECT_EQ(List(root + "sub", false, "wav"), Sorted({"!e.Wav", "back-to-root", "deep"}));
    // Every file once, though the link leads back to the top.
    EXPECT_EQ(List(root, true, "wav,mp3"),
              Sorted({root + "a.wav", root + "b.MP3", root + "sub/e.Wav", root + "sub/deep/f.mp3"}));
}

TEST_F(FolderTree, DeleteTreeRemovesNestedFolders)
{
    EXPECT_TRUE(DeleteTree(root));
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(fs::exists(dir.Path()));
}

TEST_F(FolderTree, DeleteTreeNeverFollowsLinksOutOfTheTree)
{
    const std::string outside = dir.Path() + "outside/";
    fs::create_directories(outside + "inner");
    WriteText(outside + "keep.wav", "keep");
    WriteText(outside + "inner/keep2.wav", "keep");
    fs::create_directory_symlink(outside, root + "sub/deep/to-outside");
    fs::create_symlink(outside + "keep.wav", root + "linked.wav");

    EXPECT_TRUE(DeleteTree(root.substr(0, root.size() - 1)));
    EXPECT_FALSE(fs::exists(root));
    EXPECT_EQ(test::ReadText(outside + "keep.wav"), "keep");
    EXPECT_EQ(test::ReadText(outside + "inner/keep2.wav"), "keep");
}

TEST_F(FolderTree, DeleteTreeOfALinkRemovesOnlyTheLink)
{
    fs::create_directory_symlink(root, dir.Path() + "link");
    EXPECT_TRUE(DeleteTree(dir.Path() + "link/"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() + "link")));
    EXPECT_TRUE(fs::exists(root + "sub/deep/f.mp3"));
}

TEST_F(FolderTree, DeleteTreeRefusesWhatIsNotAFolderTree)
{
    EXPECT_FALSE(DeleteTree(root + "a.wav"));
    EXPECT_TRUE(fs::exists(root + "a.wav"));
    EXPECT_FALSE(DeleteTree(""));
    EXPECT_TRUE(DeleteTree(root + "never-was"));
}

} // namespace
} // namespace marlix
