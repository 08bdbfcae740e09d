// SPDX-License-Identifier: MIT
#include "mdlMainSettings.h"

#include "toolkit/Desktop.h"

namespace metronel {

namespace {
const QString kSection = QStringLiteral("Settings");
const QString kKey = QStringLiteral("UserFilePath");
const QString kDefaultFolder = QStringLiteral("/");
} // namespace

QString g_UserFilePath;

void LoadSettings(Desktop& desktop) {
    g_UserFilePath = desktop.GetSetting(kSection, kKey, kDefaultFolder);
}

void SaveSettings(Desktop& desktop) {
    desktop.SaveSetting(kSection, kKey, g_UserFilePath);
}

} // namespace metronel
