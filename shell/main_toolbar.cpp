// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's toolbar: the 15 entries with their pictures and tooltips, enabled by table.
#include "shell/main_toolbar.h"

#include "shell/pictures.h"

#include <QAction>
#include <QPainter>
#include <QStyle>

namespace vantrel::shell {
namespace {

// The picture with a faded copy for disabled buttons: greying alone leaves black glyphs black.
QIcon withFadedDisabled(const QIcon& icon)
{
    const QPixmap normal = icon.pixmap(QSize(16, 16));
    QPixmap faded(normal.size());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(0.3);
    painter.drawPixmap(0, 0, normal);
    painter.end();
    QIcon result(normal);
    result.addPixmap(faded, QIcon::Disabled);
    return result;
}

QIcon standardToolbarPicture(QStyle* style, int picture)
{
    switch (picture) {
    case 0: return style->standardIcon(QStyle::SP_DialogOpenButton);
    case 1: return style->standardIcon(QStyle::SP_MediaPlay);
    case 2: return style->standardIcon(QStyle::SP_MediaPause);
    case 3: return style->standardIcon(QStyle::SP_MediaStop);
    case 4: return style->standardIcon(QStyle::SP_MediaSkipBackward);
    case 5: return style->standardIcon(QStyle::SP_MediaSeekBackward);
    case 6: return style->standardIcon(QStyle::SP_MediaSeekForward);
    case 7: return style->standardIcon(QStyle::SP_MediaSkipForward);
    case 9: return style->standardIcon(QStyle::SP_TitleBarContextHelpButton);
    default: return {};
    }
}

QIcon toolbarPicture(QStyle* style, int picture)
{
    return withFadedDisabled(picture == 8 ? captureBitmapIcon() : standardToolbarPicture(style, picture));
}}  // namespace

MainToolbar::MainToolbar(QWidget* parent, std::function<void(int)> onCommand) : QToolBar(parent)
{
    setIconSize(QSize(16, 15));
    setMovable(false);
    for (const ToolbarEntry& entry : kToolbarEntries) {
        if (entry.isSeparator()) {
            addSeparator();
            continue;
        }
        QAction* action = addAction(toolbarPicture(style(), entry.picture), QString());
        if (const char* tip = toolbarTooltip(entry.command)) action->setToolTip(QString::fromLatin1(tip));
        const int commandId = entry.command;
        connect(action, &QAction::triggered, this, [onCommand, commandId] { onCommand(commandId); });
        m_actions[entry.command] = action;
    }
}

void MainToolbar::apply(const ToolbarEnables& enables)
{
    for (std::size_t i = 0; i < kSwitchedCommands.size(); ++i)
        if (enables[i]) m_actions.at(kSwitchedCommands[i])->setEnabled(*enables[i]);
}

}  // namespace vantrel::shell
