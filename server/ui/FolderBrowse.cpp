#include "server/ui/FolderBrowse.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

QString BrowseForFolder(QWidget* parent, const QString& current) {
    const QString typed = current.trimmed();
    const QString start = !typed.isEmpty() && QFileInfo(typed).isDir() ? QFileInfo(typed).absoluteFilePath() : QDir::currentPath();
    return QFileDialog::getExistingDirectory(parent, "Please select a folder.", start, QFileDialog::ShowDirsOnly).trimmed();
}

void BrowseInto(QWidget* parent, QLineEdit* field) {
    const QString chosen = BrowseForFolder(parent, field->text());
    if (!chosen.isEmpty()) field->setText(chosen);
}
