#include "filedialogs.h"

#include <QDir>
#include <QFileDialog>

namespace {

/// A save dialog of one file type, which adds its extension to a name typed without one.
QString chooseSaveFile(QWidget* owner, const char* name, const QString& filter,
                       const QString& extension)
{
    QFileDialog dialog(owner);
    dialog.setObjectName(QLatin1String(name));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(extension);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

} // namespace

QString QtFileDialogs::chooseSnapshotFile(QWidget* owner)
{
    return chooseSaveFile(owner, "savedlg", QStringLiteral("*.jpg (JPEG Image Format) (*.jpg)"),
                          QStringLiteral("jpg"));
}

QString QtFileDialogs::chooseMovieSaveFile(QWidget* owner)
{
    return chooseSaveFile(owner, "Savedlg", QStringLiteral("*.swf (flash files) (*.swf)"),
                          QStringLiteral("swf"));
}

QString QtFileDialogs::chooseMovie(QWidget* owner)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(),
                                        QStringLiteral("*.swf  (flash files) (*.swf)"));
}

QString QtFileDialogs::chooseImportFile(QWidget* owner)
{
    return QFileDialog::getOpenFileName(
        owner, QString(), QDir::homePath(),
        QStringLiteral("Movies and archives (*.swf *.zip *.ruf);;All files (*)"));
}

QString QtFileDialogs::browseForFolder(QWidget* owner, const QString& prompt)
{
    return QFileDialog::getExistingDirectory(owner, prompt, QDir::homePath());
}

FileDialogs::ExportTarget QtFileDialogs::chooseExportTarget(QWidget* owner,
                                                            const QString& suggestedName)
{
    const QString bundle = QStringLiteral("Ruffle bundle (*.ruf)");
    const QString curation = QStringLiteral("Curation folder for a preservation archive (*)");
    QFileDialog dialog(owner, QStringLiteral("Export"));
    dialog.setObjectName(QStringLiteral("Exportdlg"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({bundle, curation});
    dialog.selectFile(suggestedName);
    // The extension follows the kind: a bundle file ends in ".ruf", a folder in nothing.
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, bundle](const QString& filter) {
            dialog.setDefaultSuffix(filter == bundle ? QStringLiteral("ruf") : QString());
        });
    dialog.setDefaultSuffix(QStringLiteral("ruf"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return {dialog.selectedFiles().value(0), dialog.selectedNameFilter() == curation};
}
