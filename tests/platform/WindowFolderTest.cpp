// The folders of the editor's windows: readable by the user alone, removed with all they hold
// when the window goes, and those of killed windows removed by the next start while the folders
// of live windows, other names and whatever a link inside leads to stay.
#include "platform/WindowFolder.h"

#include "platform/FileUtil.h"
#include "support/System.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pelfry {
namespace {

using test::TempDir;

TEST(WindowFolder, DeadWindowsFoldersGoWhileLiveOnesAndOtherNamesStay) {
    TempDir place, outside;
    WriteWholeFile(outside / "keep", {1});
    const std::string dead = place / "pelfry-window-deadbeef";
    ASSERT_TRUE(ForceDirectories(dead + "/1/sub"));
    WriteWholeFile(dead + "/1/sub/ICON.IMG.png", {2});
    test::MakeLink(outside.Path(), dead + "/1/out", true);       // where links can be made
    ASSERT_TRUE(ForceDirectories(place / "pelfry-window-mine")); // no name a window makes
    std::string live;
    {
        WindowFolder folder(place.Path());
        live = folder.Path();
        WriteWholeFile(live + "ICON.IMG.png", {3});
        RemoveDeadWindowFolders(place.Path());
        EXPECT_FALSE(DirectoryExists(dead));
        EXPECT_TRUE(FileExists(live + "ICON.IMG.png"));
        EXPECT_EQ(place.Entries().size(), 2u); // the live one and pelfry-window-mine
        EXPECT_EQ(outside.Entries(), std::vector<std::string>{"keep"});
        if (!test::OnWindows) {
            EXPECT_EQ(std::filesystem::status(live).permissions(),
                      std::filesystem::perms::owner_all);
        }
    }
    EXPECT_FALSE(DirectoryExists(live));
}

} // namespace
} // namespace pelfry
