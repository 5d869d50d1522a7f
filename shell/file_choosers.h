// SPDX-License-Identifier: GPL-3.0-or-later
// The shell's file choosers: one routine around the open and save dialogs, and the capture base name.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace vantrel::shell {

enum class FileDialogKind { Invalid, OpenMany, Save };

// The dialogs themselves, replaceable so that tests never run a modal loop. Each returns the
// chosen paths, or nothing when the dialog was not confirmed.
struct FileDialogs {
    std::function<std::optional<QStringList>(FileDialogKind kind, const QString& filter)> choose;
    // The player's open dialog (title, filters, starting folder), nothing when cancelled.
    std::function<std::optional<QString>()> chooseMediaFile;
};

// Qt's dialogs, owned by the active window, starting in the current folder.
FileDialogs standardFileDialogs();

// ChooseFiles: an open dialog (several files, joined with " | ") or a save dialog (one file, no
// question before an existing one). A cancelled dialog leaves result unchanged.
void ChooseFiles(const FileDialogs& dialogs, bool isOpen, QString& result, const QString& filter);

// Cuts the path at the last "." of its file name (never inside a folder name, never the leading
// dot of a hidden file); true when
// something is left.
bool StripExtension(QString& path);

}  // namespace vantrel::shell
