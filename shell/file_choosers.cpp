// SPDX-License-Identifier: GPL-3.0-or-later
// The shell's file choosers: one routine around the open and save dialogs, and the capture base name.
#include "shell/file_choosers.h"

#include "pipeline/capture_file_name.h"
#include "player/player_texts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

namespace vantrel::shell {

FileDialogs standardFileDialogs()
{
    FileDialogs dialogs;
    dialogs.choose = [](FileDialogKind kind, const QString& filter) -> std::optional<QStringList> {
        if (kind == FileDialogKind::OpenMany) {
            QStringList names = QFileDialog::getOpenFileNames(QApplication::activeWindow(), QString(), QDir::currentPath(), filter, nullptr,
                                                              QFileDialog::ReadOnly);
            if (names.isEmpty()) return std::nullopt;
            return names;
        }
        const QString name = QFileDialog::getSaveFileName(QApplication::activeWindow(), QString(), QDir::currentPath(), filter, nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        if (name.isEmpty()) return std::nullopt;
        return QStringList{name};
    };
    dialogs.chooseMediaFile = []() -> std::optional<QString> {
        // The first dialog starts at the root folder; later ones where the last one was left.
        static QString folder = QStringLiteral("/");
        const QString name = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString::fromLatin1(player::kOpenDialogTitle), folder,
                                                          QString::fromLatin1(player::kOpenDialogFilters));
        if (name.isEmpty()) return std::nullopt;
        folder = QFileInfo(name).absolutePath();
        return name;
    };
    return dialogs;
}

void ChooseFiles(const FileDialogs& dialogs, bool isOpen, QString& result, const QString& filter)
{
    if (!dialogs.choose) return;
    const std::optional<QStringList> chosen =
        dialogs.choose(isOpen ? FileDialogKind::OpenMany : FileDialogKind::Save, filter);
    if (!chosen || chosen->isEmpty()) return;
    result = isOpen ? chosen->join(QStringLiteral(" | ")) : chosen->front();
}

bool StripExtension(QString& path)
{
    std::string cut = path.toStdString();  // the capture files' own rule, so both cut alike
    const bool isLeft = pipeline::StripExtension(cut);
    path = QString::fromStdString(cut);
    return isLeft;
}

}  // namespace vantrel::shell
