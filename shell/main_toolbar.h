// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's toolbar: the 15 entries with their pictures and tooltips, enabled by table.
#pragma once

#include "shell/toolbar_table.h"

#include <QToolBar>

#include <functional>
#include <map>

class QAction;

namespace vantrel::shell {

class MainToolbar : public QToolBar {
    Q_OBJECT
public:
    // `onCommand` receives the command of each button pressed.
    MainToolbar(QWidget* parent, std::function<void(int)> onCommand);

    QAction* action(int commandId) const { return m_actions.at(commandId); }
    // Enables or disables the switched buttons; those without a value keep their state.
    void apply(const ToolbarEnables& enables);

private:
    std::map<int, QAction*> m_actions;
};

}  // namespace vantrel::shell
