// SPDX-License-Identifier: MIT
// One main for the core's tests: no application object, and number texts use "." whatever
// the machine's locale.
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
