#pragma once

#include <QString>

class QWidget;

/// The file and folder pickers the windows open. The program answers with Qt's dialogs; tests
/// hand in their answers instead.
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;
    /// Where to save a snapshot ("*.jpg"); empty when the user cancelled.
    virtual QString chooseSnapshotFile(QWidget* owner) = 0;
    /// A movie to play ("*.swf"); empty when the user cancelled.
    virtual QString chooseMovie(QWidget* owner) = 0;
    /// A movie, zip or Ruffle bundle to import; empty when the user cancelled.
    virtual QString chooseImportFile(QWidget* owner) = 0;
    /// A folder, under the prompt; empty when the user cancelled.
    virtual QString browseForFolder(QWidget* owner, const QString& prompt) = 0;
    /// Where to save a movie ("*.swf", the extension added when left out); empty when the user
    /// cancelled.
    virtual QString chooseMovieSaveFile(QWidget* owner) = 0;

    /// Where to export a movie, and as what.
    struct ExportTarget
    {
        QString path;          ///< empty when the user cancelled
        bool curation = false; ///< a curation folder; else a Ruffle bundle file
    };
    /// Picks an export: a Ruffle bundle ("*.ruf", the extension added when left out) or a
    /// curation folder, starting from `suggestedName`.
    virtual ExportTarget chooseExportTarget(QWidget* owner, const QString& suggestedName) = 0;
};

/// The pickers as Qt's file dialogs.
class QtFileDialogs final : public FileDialogs
{
public:
    QString chooseSnapshotFile(QWidget* owner) override;
    QString chooseMovie(QWidget* owner) override;
    QString chooseImportFile(QWidget* owner) override;
    QString browseForFolder(QWidget* owner, const QString& prompt) override;
    QString chooseMovieSaveFile(QWidget* owner) override;
    ExportTarget chooseExportTarget(QWidget* owner, const QString& suggestedName) override;
};
