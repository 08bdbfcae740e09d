// SPDX-License-Identifier: MIT
#pragma once

// The window's remembered folder and its settings entry: the window's own state, kept
// beside the desktop seam rather than in the shared core.

#include <QString>

namespace metronel {

class Desktop;

// The remembered folder: ends in "/", or is empty.
extern QString g_UserFilePath;

// Reads g_UserFilePath from "Settings"/"UserFilePath"; "/" when there is none.
void LoadSettings(Desktop& desktop);
// Writes g_UserFilePath to "Settings"/"UserFilePath".
void SaveSettings(Desktop& desktop);

} // namespace metronel
