// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own pictures: the icon, the decorative picture, and toolbar pictures the style lacks.
#include "shell/pictures.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

// The resources live in this static library: tell Qt about them before the first use.
static void initialiseShellResources()
{
    Q_INIT_RESOURCE(shell);
}

namespace vantrel::shell {
namespace {

// A cassette shell with two reels and a label: the drawing shared by the icon and the picture.
void drawCassette(QPainter& painter, const QRectF& box)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal radius = box.height() * 0.08;
    QLinearGradient body(box.topLeft(), box.bottomLeft());
    body.setColorAt(0.0, QColor(70, 74, 84));
    body.setColorAt(1.0, QColor(28, 30, 36));
    painter.setPen(QPen(QColor(12, 12, 16), box.height() * 0.02));
    painter.setBrush(body);
    painter.drawRoundedRect(box, radius, radius);

    const QRectF window(box.left() + box.width() * 0.18, box.top() + box.height() * 0.42, box.width() * 0.64,
                        box.height() * 0.36);
    painter.setBrush(QColor(14, 16, 20));
    painter.drawRoundedRect(window, radius * 0.6, radius * 0.6);
    const qreal reel = window.height() * 0.36;
    for (const qreal fx : {0.27, 0.73}) {
        const QPointF centre(window.left() + window.width() * fx, window.center().y());
        painter.setBrush(QColor(220, 220, 210));
        painter.drawEllipse(centre, reel, reel);
        painter.setBrush(QColor(40, 40, 44));
        painter.drawEllipse(centre, reel * 0.45, reel * 0.45);
    }
    const QRectF label(box.left() + box.width() * 0.1, box.top() + box.height() * 0.1, box.width() * 0.8,
                       box.height() * 0.24);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 214, 0));
    painter.drawRoundedRect(label, radius * 0.5, radius * 0.5);
}

}  // namespace

QIcon programIcon()
{
    initialiseShellResources();
    if (QFile::exists(QStringLiteral(":/icons/vantrel.svg"))) {
        QIcon icon(QStringLiteral(":/icons/vantrel.svg"));
        if (!icon.pixmap(32, 32).isNull()) return icon;  // needs the SVG image plugin
    }
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        drawCassette(painter, QRectF(size * 0.04, size * 0.18, size * 0.92, size * 0.64));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QImage decorativePicture()
{
    QImage picture(kDecorativeWidth, kDecorativeHeight, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient sky(0, 0, 0, kDecorativeHeight);
    sky.setColorAt(0.0, QColor(18, 34, 64));
    sky.setColorAt(1.0, QColor(4, 8, 18));
    painter.fillRect(picture.rect(), sky);
    // Scan lines of a DV frame's DIF blocks, faint, as a backdrop.
    painter.setPen(QColor(255, 255, 255, 14));
    for (int y = 0; y < kDecorativeHeight; y += 6) painter.drawLine(0, y, kDecorativeWidth, y);
    drawCassette(painter, QRectF(24, 30, 180, 120));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(255, 214, 0));
    painter.drawText(QRect(214, 52, 150, 44), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vantrel"));
    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(12);
    painter.setFont(subtitle);
    painter.setPen(QColor(200, 210, 230));
    painter.drawText(QRect(216, 96, 150, 60), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("DV camcorder\nmetadata, frame\nby frame"));
    return picture;
}

QIcon captureBitmapIcon()
{
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(9);
    font.setBold(true);
    painter.setFont(font);
    const struct {
        const char* letter;
        QColor colour;
        int x;
    } letters[] = {{"B", Qt::red, 0}, {"M", QColor(0, 150, 0), 5}, {"P", Qt::blue, 11}};
    for (const auto& l : letters) {
        painter.setPen(l.colour);
        painter.drawText(QRect(l.x, 2, 7, 12), Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(l.letter));
    }
    painter.end();
    return QIcon(pixmap);
}

}  // namespace vantrel::shell
