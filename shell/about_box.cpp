// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg: the program's name and version, the icon two thirds of the way across, OK.
#include "shell/about_box.h"

#include "shell/dialog_units.h"
#include "shell/pictures.h"
#include "vantrel/version.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace vantrel::shell {

namespace {
constexpr int kIconSize = 32;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_icon(programIcon())
{
    setWindowTitle(QStringLiteral("About Vantrel"));
    setFixedSize(horizontalPixels(235), verticalPixels(55));
    auto* name = new QLabel(QStringLiteral("Vantrel Version ") + QString::fromLatin1(kVersion.data(), kVersion.size()), this);
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(dialogRect(26, 10, 119, 8));
    auto* line = new QLabel(QStringLiteral("DV metadata, GPL-3.0"), this);
    line->setGeometry(dialogRect(25, 25, 90, 8));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(dialogRect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int x = (2 * (width() - kIconSize) + 2) / 3;
    const int y = (height() - kIconSize + 1) / 2;
    m_icon.paint(&painter, QRect(x, y, kIconSize, kIconSize));
}

}  // namespace vantrel::shell
