#pragma once

#include <QObject>

class MainActions;
class QAction;
class QMenu;
class QSystemTrayIcon;

/// The tray icon "RxTrayIcon" with its hint and its menu "PopNotify". A left click, and the
/// menu's "Show/Hide Clip Vault (F7)", ask for the main window to be shown or hidden.
class TrayController final : public QObject
{
    Q_OBJECT
public:
    /// `exitAction` closes the program; the menu shares it with the main window.
    TrayController(const MainActions& actions, QObject* parent = nullptr);
    ~TrayController() override;
    Q_DISABLE_COPY_MOVE(TrayController)

    /// Whether the desktop shows tray icons; without one, minimizing keeps a taskbar button.
    bool isAvailable() const;
    QSystemTrayIcon* icon() const { return m_icon; }
    QMenu* menu() const { return m_menu; }

signals:
    void toggleRequested();

private:
    QMenu* m_menu;
    QSystemTrayIcon* m_icon;
};
