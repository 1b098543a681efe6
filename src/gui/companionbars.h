#pragma once

#include "companionlinks.h"

#include <QObject>

class Vault;
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
    /// `links`: the browser session's companions, which the bars' choices come from.
    CompanionBars(Vault& app, FileDialogs& dialogs, SingleInstance& instance, CompanionLinks& links,
                  QObject* parent = nullptr);

private:
    void tellBarState();
    void choose(const CompanionChoice& choice);

    Vault& m_app;
    FileDialogs& m_dialogs;
    CompanionLinks& m_links;
};
