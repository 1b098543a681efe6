#pragma once

#include <QString>
#include <QTemporaryDir>

/// The folder a running program's previews fetch into, in the user's cache folder: made at
/// first use, gone with its owner. A run that was killed cannot remove its own, so each holds a
/// lock on a file inside for as long as it lives, and the next start removes every folder whose
/// lock nobody holds.
class PreviewFolder
{
public:
    explicit PreviewFolder(const QString& cacheFolder);
    ~PreviewFolder();
    PreviewFolder(const PreviewFolder&) = delete;
    PreviewFolder& operator=(const PreviewFolder&) = delete;

    bool isValid() const { return m_folder.isValid(); }
    QString path() const { return m_folder.path(); }

    /// Removes the preview folders of runs that ended without removing them. A folder without
    /// a lock (made by an older build) goes once it was left untouched for a day. Returns how
    /// many were removed.
    static int RemoveDead(const QString& cacheFolder);

private:
    QTemporaryDir m_folder;
    int m_lock = -1;
};
