// SPDX-License-Identifier: GPL-3.0-or-later
// A player on a fake graph, with the widgets it drives and the messages and panel lines it produced.
#pragma once

#include "dv/info_lines.h"
#include "player/fake_playback_graph.h"
#include "player/movie_player.h"
#include "player/video_area.h"

#include <QLabel>
#include <QSlider>

#include <memory>
#include <string>
#include <vector>

namespace vantrel::player {

class RecordingPanel final : public dv::IInfoPanel {
public:
    void drawInfoLines(const dv::InfoLines& lines) override { firstLines.emplace_back(lines.line1); }
    std::vector<std::string> firstLines;
};

struct PlayerBench {
    FakeGraphScript script;
    FakeGraphLog log;
    std::vector<std::string> messages;
    std::optional<std::string> chosenFile;
    RecordingPanel panel;
    dv::InfoLineFormatter formatter{&panel};
    VideoArea host;
    QSlider slider{Qt::Horizontal};
    QLabel label;
    std::unique_ptr<CMoviePlayer> player;

    PlayerBench()
    {
        slider.setRange(0, 100);
        PlayerServices services;
        services.chooseMediaFile = [this] { return chosenFile; };
        services.showMessage = [this](const std::string& text) { messages.push_back(text); };
        services.makeGraph = fakeGraphFactory(script, log);
        services.formatter = &formatter;
        player = std::make_unique<CMoviePlayer>(&host, &slider, &label, std::move(services));
    }
};

}  // namespace vantrel::player
