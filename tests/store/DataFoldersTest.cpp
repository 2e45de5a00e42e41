#include "store/DataFolders.h"

#include <gtest/gtest.h>

#include <map>

using namespace brindlecot;

namespace {
EnvironmentLookup fakeEnvironment(std::map<std::string, std::string> vars)
{
    return [vars](const char* name) -> std::optional<std::string> {
        const auto it = vars.find(name);
        if (it == vars.end())
            return std::nullopt;
        return it->second;
    };
}
} // namespace

TEST(DataFolders, FollowXdgDataHomeWhenItIsSet)
{
    const auto env = fakeEnvironment({{"XDG_DATA_HOME", "/data/me"}, {"HOME", "/home/me"}});
    EXPECT_EQ(productFolder(env), "/data/me/Velarune");
    EXPECT_EQ(preferencesPath(env), "/data/me/Velarune/preferences.ini");
    EXPECT_EQ(presetsFolder(env), "/data/me/Velarune/presets");
    EXPECT_EQ(logsFolder(env), "/data/me/Velarune/logs");
    EXPECT_EQ(makerFolder(env), "/data/me/Brindlecot/shared");
}

TEST(DataFolders, FallBackToTheHomeFoldersLocalShare)
{
    for (const char* xdg : {"", "relative/data"}) {
        const auto env = fakeEnvironment({{"XDG_DATA_HOME", xdg}, {"HOME", "/home/me"}});
        EXPECT_EQ(productFolder(env), "/home/me/.local/share/Velarune") << xdg;
        EXPECT_EQ(makerFolder(env), "/home/me/.local/share/Brindlecot/shared") << xdg;
    }
    EXPECT_EQ(
        presetsFolder(fakeEnvironment({{"HOME", "/home/me"}})), "/home/me/.local/share/Velarune/presets");
}

TEST(DataFolders, AreAllEmptyWhenNoUsableFolderIsKnown)
{
    // Never a path relative to the working folder, such as "Velarune/preferences.ini".
    for (const auto& vars : std::vector<std::map<std::string, std::string>> {
             {}, {{"HOME", ""}}, {{"HOME", "home/me"}, {"XDG_DATA_HOME", "data"}}}) {
        const auto env = fakeEnvironment(vars);
        EXPECT_TRUE(applicationDataFolder(env).empty());
        EXPECT_TRUE(productFolder(env).empty());
        EXPECT_TRUE(preferencesPath(env).empty());
        EXPECT_TRUE(presetsFolder(env).empty());
        EXPECT_TRUE(logsFolder(env).empty());
        EXPECT_TRUE(makerFolder(env).empty());
    }
    EXPECT_TRUE(productFolder(EnvironmentLookup {}).empty());
}
