#include "traycontroller.h"

#include "icons.h"
#include "mainactions.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

TrayController::TrayController(const MainActions& actions, QObject* parent)
    : QObject(parent)
    , m_menu(new QMenu)
    , m_icon(new QSystemTrayIcon(Icons::application(), this))
{
    m_menu->setObjectName(QStringLiteral("PopNotify"));
    QAction* showWindow = m_menu->addAction(QStringLiteral("Show/Hide Clip Vault (F7)"));
    showWindow->setObjectName(QStringLiteral("ShowWindow1"));
    connect(showWindow, &QAction::triggered, this, &TrayController::toggleRequested);
    actions.fill(m_menu, MainActions::Place::TrayMenu);

    m_icon->setObjectName(QStringLiteral("RxTrayIcon"));
    m_icon->setToolTip(QStringLiteral("Press F7 to Show/Hide MainForm"));
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger)
                    emit toggleRequested();
            });
    m_icon->show();
}

TrayController::~TrayController()
{
    delete m_menu; // a menu with no parent widget is ours to delete
}

bool TrayController::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}
