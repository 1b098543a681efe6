#include "filedialogs.h"

#include <QDir>
#include <QFileDialog>

QString QtFileDialogs::chooseSnapshotFile(QWidget* owner)
{
    QFileDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("savedlg"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("*.jpg (JPEG Image Format) (*.jpg)"));
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString QtFileDialogs::chooseMovie(QWidget* owner)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(),
                                        QStringLiteral("*.swf  (flash files) (*.swf)"));
}

QString QtFileDialogs::browseForFolder(QWidget* owner, const QString& prompt)
{
    return QFileDialog::getExistingDirectory(owner, prompt, QDir::homePath());
}
