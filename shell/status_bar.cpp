// SPDX-License-Identifier: GPL-3.0-or-later
// The three-part status bar along the window's bottom edge, each part a raised panel.
#include "shell/status_bar.h"

#include <QLabel>

namespace vantrel::shell {

namespace {
constexpr int kStatusBarHeight = 22;
}

StatusBar::StatusBar(int clientWidth, QWidget* parent) : QWidget(parent)
{
    setFixedSize(clientWidth, kStatusBarHeight);
    const std::array<int, 3> edges = statusPartEdges(clientWidth);
    int left = 0;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        QLabel* label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Raised);
        label->setIndent(3);
        label->setGeometry(left, 0, edges[i] - left, kStatusBarHeight);
        m_parts[i] = label;
        left = edges[i];
    }
    SetStatusText(QStringLiteral("Ready"), 0);
}

void StatusBar::SetStatusText(const QString& text, int part)
{
    if (part < 0 || part > 2) return;
    m_parts[static_cast<std::size_t>(part)]->setText(text);
}

QString StatusBar::text(int part) const
{
    return m_parts.at(static_cast<std::size_t>(part))->text();
}

}  // namespace vantrel::shell
