// SPDX-License-Identifier: MIT
// The window's remembered folder in its settings entry.
#include "mdlMainSettings.h"
#include "ScriptedDesktop.h"

#include <gtest/gtest.h>

using namespace metronel;
using metronel::testing::ScriptedDesktop;

TEST(mdlMainSettings, EntryIsReadOrRootAndWrittenBack) {
    ScriptedDesktop desktop;
    g_UserFilePath = "stale";
    LoadSettings(desktop);
    EXPECT_EQ(g_UserFilePath, "/");

    desktop.settings["Settings/UserFilePath"] = "/home/me/loops/";
    LoadSettings(desktop);
    EXPECT_EQ(g_UserFilePath, "/home/me/loops/");
    g_UserFilePath = "";
    SaveSettings(desktop);
    EXPECT_EQ(desktop.settings.value("Settings/UserFilePath", "missing"), "");
    EXPECT_EQ(desktop.settings.size(), 1);
}
