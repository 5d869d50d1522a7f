// SPDX-License-Identifier: GPL-3.0-or-later
// main() of the Qt test programs: one QApplication for the whole run, on the offscreen platform
// unless QT_QPA_PLATFORM names another (the screenshot tests run under Xvfb with xcb).
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::vector<char*> qtArguments(argv, argv + argc);
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        qtArguments.push_back(platformOption);
        qtArguments.push_back(offscreen);
    }
    qtArguments.push_back(nullptr);
    int qtArgumentCount = static_cast<int>(qtArguments.size()) - 1;
    QApplication application(qtArgumentCount, qtArguments.data());
    return RUN_ALL_TESTS();
}
