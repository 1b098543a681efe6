#pragma once

#include "filedialogs.h"

#include <QStringList>

/// Answers the file and folder pickers with what the test set, and records each opening.
class ScriptedDialogs final : public FileDialogs
{
public:
    QString chooseSnapshotFile(QWidget*) override
    {
        opened << QStringLiteral("snapshot");
        return snapshotFile;
    }
    QString chooseMovie(QWidget*) override
    {
        opened << QStringLiteral("movie");
        return movie;
    }
    QString chooseImportFile(QWidget*) override
    {
        opened << QStringLiteral("import");
        return importFile;
    }
    QString browseForFolder(QWidget*, const QString& prompt) override
    {
        opened << QStringLiteral("folder");
        folderPrompts << prompt;
        return folder;
    }

    QString chooseMovieSaveFile(QWidget*) override
    {
        opened << QStringLiteral("save movie");
        return movieSaveFile;
    }

    ExportTarget chooseExportTarget(QWidget*, const QString& suggestedName) override
    {
        opened << QStringLiteral("export");
        exportSuggestions << suggestedName;
        return exportTarget;
    }

    QString snapshotFile; ///< empty: the user cancels
    ExportTarget exportTarget;
    QStringList exportSuggestions;
    QString movieSaveFile;
    QString movie;
    QString importFile;
    QString folder;
    QStringList opened;        ///< "snapshot", "movie", "folder" or "save movie", in order
    QStringList folderPrompts; ///< the prompts the folder picker showed
};
