// SPDX-License-Identifier: GPL-3.0-or-later
// The main window offscreen for the shell's tests: its dialogs, message boxes, bitmap grabs and
// player graphs answered by the test, and short ways to drive it and read it.
#pragma once

#include "player/fake_playback_graph.h"
#include "shell/job_modes.h"
#include "shell/main_window.h"
#include "shell/status_bar.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::shell::testing {

struct WindowBench {
    player::FakeGraphScript script;
    player::FakeGraphLog log;
    std::optional<QStringList> chosen;  // what the next file dialog answers
    std::optional<QString> chosenMedia = QStringLiteral("/clips/a.avi");
    std::vector<std::string> messages;
    std::vector<std::string> grabs;  // "source @position bitmap"
    std::optional<QString> grabError;
    std::unique_ptr<CMainDlg> window;

    WindowBench()
    {
        ShellServices services;
        services.dialogs.choose = [this](FileDialogKind, const QString&) { return chosen; };
        services.dialogs.chooseMediaFile = [this] { return chosenMedia; };
        services.messageBox = [this](const QString&, const QString& text) { messages.push_back(text.toStdString()); };
        services.makeGraph = player::fakeGraphFactory(script, log);
        services.grabFrame = [this](const std::string& source, std::int64_t position, const QImage&,
                                    const QString& bitmap) {
            grabs.push_back(source + " @" + std::to_string(position) + " " + bitmap.toStdString());
            return grabError;
        };
        window = std::make_unique<CMainDlg>(std::move(services));
    }

    void waitForPlayer()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return window->player() != nullptr; }, 5000));
    }
    void mode(WorkingMode m) { window->modeButton(m)->click(); }
    void command(int id) { window->onCommand(id); }
    void choose(const QStringList& names)
    {
        chosen = names;
        command(command::kOpen);
    }
    QString part(int index) const { return window->statusBar()->text(index); }
    pipeline::JobState state() const { return window->jobModes()->state(); }
    QStringList devices() const
    {
        QStringList names;
        for (int i = 0; i < window->deviceList()->count(); ++i) names << window->deviceList()->itemText(i);
        return names;
    }
    // Open, Play, Pause, Stop, the four tape buttons and Capture bitmap, enabled (1) or not (0),
    // from column `first` on (the job modes leave Open as it was).
    std::string buttons(std::size_t first = 0) const
    {
        std::string flags;
        for (std::size_t i = first; i < kSwitchedCommands.size(); ++i)
            flags += window->action(kSwitchedCommands[i])->isEnabled() ? '1' : '0';
        return flags;
    }
    std::string panelLine(int index) const
    {
        const dv::InfoLines& lines = window->panelLines();
        const char* texts[] = {lines.line1, lines.line2, lines.line3, lines.timeCode};
        return texts[index];
    }
    bool statusTicks(int count)
    {
        QSignalSpy ticks(window->jobModes(), &CJobModes::statusUpdated);
        return QTest::qWaitFor([&] { return ticks.count() >= count; }, 10000);
    }
    // With VANTREL_SCREENSHOT_DIR set, the window as it looks now, for the README.
    void screenshot(const char* name) const
    {
        if (const char* folder = std::getenv("VANTREL_SCREENSHOT_DIR"))
            window->grab().save(QString::fromLocal8Bit(folder) + u'/' + QString::fromLatin1(name));
    }
};

}  // namespace vantrel::shell::testing
