#include "server/ui/FolderBrowse.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

QString BrowseForFolder(QWidget* parent, const QString& current) {
    const QString typed = current.trimmed();
    const QString start =
        !typed.isEmpty() && QFileInfo(typed).isDir() ? QFileInfo(typed).absoluteFilePath() : QDir::currentPath();
    return QFileDialog::getExistingDirectory(parent, "Please select a folder.", start, QFileDialog::ShowDirsOnly)
        .trimmed();
}

void BrowseInto(QWidget* parent, QLineEdit* field) {
    const QString chosen = BrowseForFolder(parent, field->text());
    if (chosen.isEmpty()) return;
    // NET.9 separates its fields with spaces and stores a space as "_", so
    // such a folder would come back as another path.
    if (chosen.contains(' ')) {
        QMessageBox::warning(parent, parent->windowTitle(),
                             "The folder \"" + chosen + "\" cannot be used: its path contains a space.");
        return;
    }
    field->setText(chosen);
}
