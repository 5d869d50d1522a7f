// SPDX-License-Identifier: GPL-3.0-or-later
// CMainDlg: the one main window; it wires the player, the panel, the bars and the dialogs together.
#include "shell/main_window.h"

#include "grab/bitmap_writer.h"
#include "grab/frame_grabber.h"
#include "panel/info_panel_picture.h"
#include "player/movie_player.h"
#include "player/player_texts.h"
#include "player/video_area.h"
#include "shell/about_box.h"
#include "shell/job_modes.h"
#include "shell/job_picture_view.h"
#include "shell/main_dialog_template.h"
#include "shell/main_toolbar.h"
#include "shell/pictures.h"
#include "shell/status_bar.h"
#include "vantrel/version.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace vantrel::shell {
namespace {

constexpr int kSliderHeight = 30;
constexpr int kSliderEndScroll = player::CMoviePlayer::kSliderEndScroll;
constexpr int kSliderThumbTrack = 5;
const QString kBitmapFilter = QStringLiteral("*.bmp (*.bmp)");
const QString kAviFilter = QStringLiteral("*.avi (*.avi)");
const QString kPrintFilter = QStringLiteral("DV files (*.avi *.dv);;*.avi (*.avi);;*.dv (*.dv)");

// Shows the info panel picture; repaints whenever the picture announces a new drawing.
class InfoPanelView : public QWidget {
public:
    InfoPanelView(panel::InfoPanelPicture* picture, QWidget* parent) : QWidget(parent), m_picture(picture)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        // Queued when drawn on a worker: the repaint always happens on the GUI thread.
        connect(picture, &panel::InfoPanelPicture::changed, this, qOverload<>(&QWidget::update));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawImage(0, 0, m_picture->picture());
    }

private:
    panel::InfoPanelPicture* m_picture;
};

// The trackbar notification code of a slider action (line, page, track, top, bottom).
int scrollCodeOf(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return 0;
    case QAbstractSlider::SliderSingleStepAdd: return 1;
    case QAbstractSlider::SliderPageStepSub: return 2;
    case QAbstractSlider::SliderPageStepAdd: return 3;
    case QAbstractSlider::SliderMove: return kSliderThumbTrack;
    case QAbstractSlider::SliderToMinimum: return 6;
    case QAbstractSlider::SliderToMaximum: return 7;
    default: return kSliderEndScroll;
    }
}

}  // namespace

ShellServices standardShellServices()
{
    ShellServices services;
    services.dialogs = standardFileDialogs();
    services.messageBox = [](const QString& caption, const QString& text) {
        QMessageBox::information(nullptr, caption, text);
    };
    services.makeGraph = player::gstPlaybackGraphFactory();
    services.grabFrame = [](const std::string& sourcePath, std::int64_t position100ns, const QImage& panel,
                            const QString& bitmapPath) -> std::optional<QString> {
        const std::string name = QFile::encodeName(bitmapPath).toStdString();
        const auto result = grab::GrabFrames(sourcePath, position100ns, panel, [&] { return name; });
        if (result.outcome == grab::GrabOutcome::Saved) return std::nullopt;
        return QString::fromLocal8Bit(result.message.c_str());
    };
    return services;
}

CMainDlg::CMainDlg(ShellServices services, QWidget* parent) : QDialog(parent), m_services(std::move(services))
{
    setWindowTitle(QString::fromLatin1(kMainCaptionBeforeVersion) + QString::fromLatin1(kVersion.data(), kVersion.size()));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kMainClientSize);
    setAcceptDrops(true);
    setWindowIcon(programIcon());
    QFont dialogFont(QStringLiteral("DejaVu Sans"));
    dialogFont.setPixelSize(11);
    setFont(dialogFont);

    createControls();
    m_playerTimer = new QTimer(this);
    m_playerTimer->setInterval(kPlayerTimerMs);
    connect(m_playerTimer, &QTimer::timeout, this, &CMainDlg::onPlayerTick);
    m_playerTimer->start();

    // g_hInfoBitmap: the size of the panel control; the formatter draws into it.
    m_infoPanel = new panel::InfoPanelPicture(templateControl(control::kInfoPanel).pixels().size(), this);
    m_formatter.setPanel(m_infoPanel);
    auto* panelView = new InfoPanelView(m_infoPanel, this);
    panelView->setGeometry(templateControl(control::kInfoPanel).pixels());
    panelView->lower();

    CreateBars();
    // The job window on the video area: shown in the job modes, the player's picture in Player mode.
    m_jobView = new JobPictureView(m_videoArea);
    m_jobView->hide();
    m_jobModes = std::make_unique<CJobModes>(m_statusBar, m_deviceList, m_jobView, &m_formatter);
    connect(m_jobModes.get(), &CJobModes::statusUpdated, this, &CMainDlg::UpdateToolbar);
    m_modeGroup->button(control::kPlayerMode)->setChecked(true);
    m_statusBar->SetStatusText(QStringLiteral("Current working mode : PLAYER"), 1);
    UpdateToolbar();
}

CMainDlg::~CMainDlg()
{
    m_jobModes.reset();  // the job stops (its file closed and named) while the views it draws on exist
    delete m_player;  // its graph's streaming threads end before the widgets they repaint
    m_player = nullptr;
}

void CMainDlg::createControls()
{
    for (const TemplateControl& c : kMainTemplate) {
        const QRect place = c.pixels();
        const QString text = QString::fromLatin1(c.text);
        QWidget* widget = nullptr;
        switch (c.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, this);
            connect(button, &QPushButton::clicked, this, &QDialog::reject);
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case ControlKind::Static:
            if (c.id == control::kVideoArea) {
                widget = m_videoArea = new player::VideoArea(this);
            } else if (c.id == control::kPositionLabel) {
                widget = m_positionLabel = new QLabel(this);
                m_positionLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            }
            break;  // the info panel's view is made with its picture
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(text, this);
            if (c.id == control::kWide) {
                m_wideBox = box;
                connect(box, &QCheckBox::clicked, this, &CMainDlg::onWideClicked);
            } else {
                m_autoControlBox = box;
                connect(box, &QCheckBox::clicked, this, [this](bool isOn) {
                    if (m_jobModes) m_jobModes->SetAutoDeviceControl(isOn);
                });
            }
            widget = box;
            break;
        }
        case ControlKind::GroupBox: widget = new QGroupBox(text, this); break;
        case ControlKind::PushLikeRadio: {
            if (m_modeGroup == nullptr) {
                m_modeGroup = new QButtonGroup(this);
                m_modeGroup->setExclusive(true);
                connect(m_modeGroup, &QButtonGroup::idClicked, this, [this](int id) {
                    chooseMode(id == control::kCaptureMode     ? MODE_CAPTURE
                               : id == control::kPrintToTapeMode ? MODE_PRINT_TO_TAPE
                                                                 : MODE_PLAYER);
                });
            }
            auto* button = new QPushButton(text, this);
            button->setCheckable(true);
            button->setFlat(true);
            button->setAutoDefault(false);
            m_modeGroup->addButton(button, c.id);
            widget = button;
            break;
        }
        case ControlKind::DropDownList:
            widget = m_deviceList = new QComboBox(this);
            connect(m_deviceList, &QComboBox::activated, this, [this](int) {
                if (!m_jobModes) return;
                m_jobModes->userCommand();
                m_jobModes->ApplyDeviceSelection();
                UpdateToolbar();
            });
            break;
        case ControlKind::Picture: {
            auto* picture = new QLabel(this);
            picture->setPixmap(QPixmap::fromImage(decorativePicture()));
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = picture;
            break;
        }
        case ControlKind::Invalid: break;
        }
        if (widget != nullptr) {
            widget->setGeometry(place);
            if (c.id != control::kNone) widget->setObjectName(QStringLiteral("control%1").arg(c.id));
        }
    }
    // Group boxes frame the buttons drawn after them: keep them underneath.
    for (QGroupBox* box : findChildren<QGroupBox*>()) box->lower();
}

void CMainDlg::CreateBars()
{
    m_toolbar = new MainToolbar(this, [this](int commandId) { onCommand(commandId); });
    m_toolbar->setGeometry(0, 0, width(), m_toolbar->sizeHint().height());

    m_statusBar = new StatusBar(width(), this);
    m_statusBar->move(0, height() - m_statusBar->height());

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(0, 100);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(1);
    m_slider->setGeometry(0, m_toolbar->height() - 1, width(), kSliderHeight);
    m_slider->setObjectName(QStringLiteral("PositionSlider"));
    connect(m_slider, &QSlider::actionTriggered, this, &CMainDlg::onSliderAction);
    connect(m_slider, &QSlider::sliderReleased, this, &CMainDlg::onSliderReleased);
}

QAction* CMainDlg::action(int commandId) const
{
    return m_toolbar->action(commandId);
}

QPushButton* CMainDlg::modeButton(WorkingMode mode) const
{
    const int id = mode == MODE_CAPTURE ? control::kCaptureMode
                   : mode == MODE_PRINT_TO_TAPE ? control::kPrintToTapeMode
                                                : control::kPlayerMode;
    return static_cast<QPushButton*>(m_modeGroup->button(id));
}

void CMainDlg::onPlayerTick()
{
    if (m_player == nullptr) {
        player::PlayerServices services;
        services.chooseMediaFile = [this]() -> std::optional<std::string> {
            if (!m_services.dialogs.chooseMediaFile) return std::nullopt;
            const std::optional<QString> name = m_services.dialogs.chooseMediaFile();
            if (!name) return std::nullopt;
            return name->toStdString();
        };
        services.showMessage = [this](const std::string& text) {
            if (m_services.messageBox)
                m_services.messageBox(QString::fromLatin1(player::kMessageCaption), QString::fromStdString(text));
        };
        services.makeGraph = m_services.makeGraph;
        services.formatter = &m_formatter;
        m_player = new player::CMoviePlayer(m_videoArea, m_slider, m_positionLabel, std::move(services));
        emit playerCreated();
        openDeferredFile();
    }
    m_player->OnPositionTick();
    UpdateToolbar();
}

void CMainDlg::openWhenReady(const QString& path, bool thenPlay)
{
    m_pendingFile = path;
    m_playPendingFile = thenPlay;
    if (m_player != nullptr) openDeferredFile();
}

void CMainDlg::openDeferredFile()
{
    if (!m_pendingFile) return;
    const QString path = *m_pendingFile;
    m_pendingFile.reset();
    openInPlayer(path);
    if (m_playPendingFile && m_player->isLoaded()) onCommand(command::kPlay);
}

void CMainDlg::openInPlayer(const QString& path)
{
    if (m_mode != MODE_PLAYER) chooseMode(MODE_PLAYER);
    modeButton(MODE_PLAYER)->setChecked(true);
    m_player->OpenFile(path.toStdString());
    m_transport = TRANSPORT_OPENED;
    update();
    UpdateToolbar();
}

void CMainDlg::onCommand(int commandId)
{
    if (commandId == command::kAbout) {
        showAbout();
        return;
    }
    if (commandId == command::kCaptureBitmap) {
        GrabCurrentFrame();
        return;
    }
    if (m_mode != MODE_PLAYER) {
        onJobCommand(commandId);
        return;
    }
    if (m_player == nullptr) return;  // the first 55 ms
    switch (commandId) {
    case command::kOpen:
        m_player->OpenMediaFile();
        update();
        m_transport = TRANSPORT_OPENED;
        break;
    case command::kPlay:
        m_player->StartPlayback();
        update();
        m_transport = TRANSPORT_PLAYING;
        break;
    case command::kPause:
        m_player->ToggleByGraphState();
        m_transport = TRANSPORT_PAUSED;
        break;
    case command::kStop:
        m_player->StopPlayback();
        m_transport = TRANSPORT_IDLE;
        break;
    case command::kStepBack: m_player->StepBack(); break;
    case command::kStepForward: m_player->StepForward(); break;
    default: break;  // tape rewind and fast forward do nothing here
    }
    UpdateToolbar();
}

void CMainDlg::onJobCommand(int commandId)
{
    m_jobModes->userCommand();
    const bool isCapture = m_mode == MODE_CAPTURE;
    switch (commandId) {
    case command::kOpen:
        if (isCapture) {
            ChooseFiles(m_services.dialogs, false, m_strCaptureBase, kAviFilter);
            StripExtension(m_strCaptureBase);
        } else {
            ChooseFiles(m_services.dialogs, true, m_strTapeFiles, kPrintFilter);
        }
        break;
    case command::kPlay:
    case command::kPause:
        if (isCapture) m_jobModes->ToggleCapture(m_strCaptureBase);
        else m_jobModes->ToggleTapePrint(m_strTapeFiles);
        break;
    case command::kStop:
        if (m_jobModes->Stop()) (isCapture ? m_strCaptureBase : m_strTapeFiles).clear();
        break;
    default: m_jobModes->TapeCommand(commandId); break;
    }
    UpdateToolbar();
}

void CMainDlg::UpdateToolbar()
{
    const std::int32_t jobState = m_jobModes ? m_jobModes->state() : 0;
    const bool hasName = !(m_mode == MODE_CAPTURE ? m_strCaptureBase : m_strTapeFiles).isEmpty();
    m_toolbar->apply(toolbarEnables(m_mode, m_transport, jobState, hasName));
}

void CMainDlg::chooseMode(WorkingMode mode)
{
    m_mode = mode;
    static const char* const texts[] = {"Current working mode : PLAYER", "Current working mode : CAPTURING",
                                        "Current working mode : PRINT TO TAPE"};
    m_statusBar->SetStatusText(QString::fromLatin1(texts[mode]), 1);
    if (m_jobModes) {
        m_jobModes->userCommand();
        m_jobModes->setMode(mode);
        if (mode != MODE_PLAYER) m_jobModes->FillDeviceList();
    }
    if (m_jobView) m_jobView->setVisible(mode != MODE_PLAYER);
    UpdateToolbar();
}

void CMainDlg::onWideClicked()
{
    m_isWide = !m_isWide;  // follows the clicks, whatever the box shows
    if (m_player != nullptr) m_player->SetVideoAspect(m_isWide);
}

void CMainDlg::onSliderAction(int action)
{
    if (m_player == nullptr) return;
    const int code = scrollCodeOf(action);
    m_player->SeekToPercent(code, m_slider->sliderPosition());
    // Keys and page clicks are whole moves: their end follows at once; a drag ends on release.
    if (code != kSliderThumbTrack) m_player->SeekToPercent(kSliderEndScroll, m_slider->sliderPosition());
}

void CMainDlg::onSliderReleased()
{
    if (m_player != nullptr) m_player->SeekToPercent(kSliderEndScroll, m_slider->sliderPosition());
}

void CMainDlg::GrabCurrentFrame()
{
    if (m_player == nullptr) return;
    const std::optional<std::int64_t> position = m_player->grabPosition();
    if (!position) return;
    QString name;
    ChooseFiles(m_services.dialogs, false, name, kBitmapFilter);
    if (name.isEmpty()) return;  // not confirmed: nothing is written
    name = QString::fromStdString(grab::bitmapFileName(name.toStdString()));
    const std::optional<QString> error =
        m_services.grabFrame
            ? m_services.grabFrame(m_player->grabPath(), *position, m_infoPanel->picture(), name)
            : std::optional<QString>(QStringLiteral("this build has no frame grabber"));
    if (error && m_services.messageBox)
        m_services.messageBox(QStringLiteral("Vantrel"),
                              QStringLiteral("The bitmap %1 was not written: %2").arg(name, *error));
}

void CMainDlg::showAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) event->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    openWhenReady(urls.front().toLocalFile(), false);
}

}  // namespace vantrel::shell
