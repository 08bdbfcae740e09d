// SPDX-License-Identifier: MIT
// Starts the program: the remembered folder, then the main window with the command line.
#include "FrmMain.h"
#include "mdlMainSettings.h"
#include "toolkit/FocusIndicator.h"
#include "toolkit/QtDesktop.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(metronel::kAppTitle));
    QApplication::setOrganizationName(QString::fromLatin1(metronel::kAppTitle));
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Metronel"));

    metronel::FocusIndicator focusIndicator;
    metronel::QtDesktop desktop;
    metronel::LoadSettings(desktop);
    metronel::FrmMain window(desktop,
                             metronel::CommandLineFileName(QApplication::arguments().mid(1)));
    window.show();
    return app.exec();
}
