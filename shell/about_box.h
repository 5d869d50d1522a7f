// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg: the program's name and version, the icon two thirds of the way across, OK.
#pragma once

#include <QDialog>

namespace vantrel::shell {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon m_icon;
};

}  // namespace vantrel::shell
