// SPDX-License-Identifier: GPL-3.0-or-later
// The three-part status bar along the window's bottom edge, each part a raised panel.
#pragma once

#include <QWidget>

#include <array>

class QLabel;

namespace vantrel::shell {

// Right edges of the three parts for a client width: W / 3, 2W / 3, W.
constexpr std::array<int, 3> statusPartEdges(int clientWidth) noexcept
{
    return {clientWidth / 3, 2 * clientWidth / 3, clientWidth};
}

class StatusBar : public QWidget {
    Q_OBJECT
public:
    // The part edges are fixed from the width the bar is created with.
    StatusBar(int clientWidth, QWidget* parent);

    void SetStatusText(const QString& text, int part);
    QString text(int part) const;
    const QLabel* part(int part) const { return m_parts.at(static_cast<std::size_t>(part)); }

private:
    std::array<QLabel*, 3> m_parts{};
};

}  // namespace vantrel::shell
