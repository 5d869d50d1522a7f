// SPDX-License-Identifier: GPL-3.0-or-later
// CMainDlg: the one main window. It builds the controls of its template, the toolbar, slider and
// status bar, runs the 55 ms player timer, and turns each command into an action of the player
// (Player mode) or of the jobs (Capture and Print-to-tape modes).
#pragma once

#include "dv/info_lines.h"
#include "player/playback_graph.h"
#include "shell/file_choosers.h"
#include "shell/toolbar_table.h"

#include <QDialog>
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace vantrel::panel {
class InfoPanelPicture;
}
namespace vantrel::player {
class CMoviePlayer;
class VideoArea;
}  // namespace vantrel::player

namespace vantrel::shell {

class CJobModes;
class JobPictureView;
class MainToolbar;
class StatusBar;

// Writes the frame of `sourcePath` at `position100ns` with `panel` OR-ed over its corner as a
// bitmap file `bitmapPath`; the reason when it could not.
using FrameGrabber = std::function<std::optional<QString>(const std::string& sourcePath, std::int64_t position100ns,
                                                          const QImage& panel, const QString& bitmapPath)>;

// Everything the window asks of the world, replaceable in tests.
struct ShellServices {
    FileDialogs dialogs;
    std::function<void(const QString& caption, const QString& text)> messageBox;
    player::PlaybackGraphFactory makeGraph;
    FrameGrabber grabFrame;           // grab::GrabFrames in the program
};

// The window's own services: Qt's dialogs and message boxes, the GStreamer graph.
ShellServices standardShellServices();

class CMainDlg : public QDialog {
    Q_OBJECT
public:
    inline static constexpr int kPlayerTimerMs = 55;

    explicit CMainDlg(ShellServices services, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // Opens this file in the player as soon as the player exists (the command line, a drop).
    void openWhenReady(const QString& path, bool thenPlay);

    // A toolbar command, as the buttons send them.
    void onCommand(int commandId);
    // Sets the toolbar buttons from the mode and the transport or job state.
    void UpdateToolbar();

    player::CMoviePlayer* player() const noexcept { return m_player; }
    panel::InfoPanelPicture* infoPanel() const noexcept { return m_infoPanel; }
    // The lines the info panel shows now.
    const dv::InfoLines& panelLines() const noexcept { return m_formatter.lines(); }
    player::VideoArea* videoArea() const noexcept { return m_videoArea; }
    StatusBar* statusBar() const noexcept { return m_statusBar; }
    QSlider* slider() const noexcept { return m_slider; }
    QLabel* positionLabel() const noexcept { return m_positionLabel; }
    MainToolbar* toolbar() const noexcept { return m_toolbar; }
    QAction* action(int commandId) const;
    QPushButton* modeButton(WorkingMode mode) const;
    QCheckBox* wideBox() const noexcept { return m_wideBox; }
    WorkingMode mode() const noexcept { return m_mode; }
    TransportState transport() const noexcept { return m_transport; }
    bool isWide() const noexcept { return m_isWide; }
    const QString& captureBase() const noexcept { return m_strCaptureBase; }
    const QString& tapeFiles() const noexcept { return m_strTapeFiles; }
    CJobModes* jobModes() const noexcept { return m_jobModes.get(); }
    JobPictureView* jobView() const noexcept { return m_jobView; }
    QComboBox* deviceList() const noexcept { return m_deviceList; }
    QCheckBox* autoControlBox() const noexcept { return m_autoControlBox; }

signals:
    // The player was created by the first player-timer tick.
    void playerCreated();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void CreateBars();
    void onPlayerTick();
    void onSliderAction(int action);
    void onSliderReleased();
    void chooseMode(WorkingMode mode);
    void onWideClicked();
    void openDeferredFile();
    void GrabCurrentFrame();
    void openInPlayer(const QString& path);
    void showAbout();
    void onJobCommand(int commandId);

    ShellServices m_services;
    panel::InfoPanelPicture* m_infoPanel = nullptr;
    dv::InfoLineFormatter m_formatter;
    player::VideoArea* m_videoArea = nullptr;
    player::CMoviePlayer* m_player = nullptr;
    QLabel* m_positionLabel = nullptr;
    MainToolbar* m_toolbar = nullptr;
    QSlider* m_slider = nullptr;
    StatusBar* m_statusBar = nullptr;
    QCheckBox* m_wideBox = nullptr;
    QCheckBox* m_autoControlBox = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QComboBox* m_deviceList = nullptr;
    QTimer* m_playerTimer = nullptr;
    JobPictureView* m_jobView = nullptr;  // the job's live picture over the video area
    std::unique_ptr<CJobModes> m_jobModes;

    WorkingMode m_mode = MODE_PLAYER;
    TransportState m_transport = TRANSPORT_IDLE;
    bool m_isWide = false;            // g_b16x9: follows the clicks
    QString m_strCaptureBase;         // g_strCaptureBase
    QString m_strTapeFiles;           // g_strTapeFiles
    std::optional<QString> m_pendingFile;
    bool m_playPendingFile = false;
};

}  // namespace vantrel::shell
