#pragma once

#include "companionlinks.h"

#include <QObject>

class ClipVaultApp;
class FileDialogs;
class SingleInstance;

/// The bars the browser companion draws in the user's pages: each browser's companion reaches
/// the program through its host and the single-instance socket, hears whether the bar is on and
/// the user's categories (again whenever they change), and sends the choices made on its bar,
/// which are filed and downloaded as the shortcut bar's are.
class CompanionBars final : public QObject
{
    Q_OBJECT
public:
    CompanionBars(ClipVaultApp& app, FileDialogs& dialogs, SingleInstance& instance,
                  QObject* parent = nullptr);

    const CompanionLinks& links() const { return m_links; }

private:
    void tellBarState();
    void choose(const CompanionChoice& choice);

    ClipVaultApp& m_app;
    FileDialogs& m_dialogs;
    CompanionLinks m_links;
};
