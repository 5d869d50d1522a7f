// SPDX-License-Identifier: GPL-3.0-or-later
// CJobModes: the Capture and Print-to-tape modes of the main window. It owns the job window's job
// side (`CJobWnd`), the "Video devices" list's names, the 200 ms status timer and the sleep
// inhibitor, and turns the window's commands into job operations; status texts go to the bar.
//
// Two things differ from a plain reading of the modes on purpose. Play and Pause rebuild the job
// only when no job of the mode runs or the selected device is not the job's device, so Pause
// pauses a recording (capture: the file is closed; print: the list holds where it is) and the next
// Play resumes it, instead of restarting the job. And an error shown in part 0 stays there until
// the user's next command: the status timer keeps writing parts 1 and 2 meanwhile.
#pragma once

#include "dv/pack_decoders.h"
#include "pipeline/job_state.h"
#include "pipeline/job_wnd.h"
#include "shell/sleep_inhibitor.h"
#include "shell/toolbar_table.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <string>
#include <vector>

class QComboBox;

namespace vantrel::dv {
class InfoLineFormatter;
}

namespace vantrel::shell {

class JobPictureView;
class StatusBar;

class CJobModes : public QObject, private pipeline::IJobObserver, private dv::IFrameInfoObserver {
    Q_OBJECT
public:
    inline static constexpr int kStatusTimerMs = 200;
    inline static constexpr const char* kNameFormat = "%y-%m-%d_%H-%M";
    inline static constexpr int kNumberWidth = 2;

    // The controls it writes to; all outlive it.
    CJobModes(StatusBar* statusBar, QComboBox* deviceList, JobPictureView* view, dv::InfoLineFormatter* formatter,
              QObject* parent = nullptr);
    ~CJobModes() override;  // the job stops first (its file closed and named)

    void setMode(WorkingMode mode) noexcept { m_mode = mode; }
    // Every command the user gives lets an error text in part 0 go.
    void userCommand() noexcept { m_isErrorHeld = false; }

    void FillDeviceList();
    void ApplyDeviceSelection();
    void Reinitialize();
    void ToggleCapture(const QString& captureBase);
    void ToggleTapePrint(const QString& tapeFiles);
    // Stop in the job modes; true when the mode's chosen name or list is to be emptied.
    bool Stop();
    // Tape rewind, step back, step forward, fast forward: sent only while the job allows them.
    void TapeCommand(int commandId);
    void SetAutoDeviceControl(bool isOn) noexcept { m_job.SetAutoDeviceControl(isOn); }

    void ShowError(const QString& message);
    void UpdateStatus();

    pipeline::JobState state() const noexcept { return m_job.GetState(); }
    pipeline::CJobWnd& job() noexcept { return m_job; }
    const std::vector<std::string>& deviceNames() const noexcept { return m_deviceNames; }
    const std::string& captureDevice() const noexcept { return m_captureDevice; }
    const std::string& tapeDevice() const noexcept { return m_tapeDevice; }
    bool isStatusTimerRunning() const { return m_statusTimer.isActive(); }
    bool isErrorHeld() const noexcept { return m_isErrorHeld; }
    const SleepInhibitor& inhibitor() const noexcept { return m_inhibitor; }

signals:
    // The status texts were written by a timer tick (the toolbar follows the job state).
    void statusUpdated();
    // A capture file was closed under its final name.
    void fileClosed(const QString& path);

private:
    // Called on the worker's thread (or StopJob's): handed to the GUI thread queued.
    void captureFileClosed(const std::string& path) override;
    void jobFailed(const std::string& message) override;
    void frameAnalysed(const dv::DVFrameInfo& info, long frameNumber) override;

    void setText(const QString& text, int part);
    void startStatusTimer();
    void stopStatusTimer();
    // The device the list selects now, or nothing.
    const std::string* selectedDevice() const;

    StatusBar* m_statusBar;
    QComboBox* m_deviceList;
    JobPictureView* m_view;
    dv::InfoLineFormatter* m_formatter;
    WorkingMode m_mode = MODE_PLAYER;
    std::vector<std::string> m_deviceNames;
    std::string m_captureDevice;
    std::string m_tapeDevice;
    std::string m_jobDevice;  // the device of the job that runs
    bool m_isErrorHeld = false;
    QTimer m_statusTimer;
    SleepInhibitor m_inhibitor;
    pipeline::CJobWnd m_job;  // last: destroyed (stopped) first
};

}  // namespace vantrel::shell
