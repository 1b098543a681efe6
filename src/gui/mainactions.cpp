#include "mainactions.h"

#include <QAction>
#include <QApplication>
#include <QStyle>

namespace {

struct ActionRow
{
    MainActions::Id id;
    const char* name;
    const char* caption;
    const char* hint;
    QStyle::StandardPixmap image;
};

// The command table. Captions are the commands' own; menus may show their own entry captions.
constexpr ActionRow kActionTable[] = {
    {MainActions::SetOptions, "SetOptions", "Options", "Options", QStyle::SP_FileDialogDetailedView},
    {MainActions::ExitAction, "ExitAction", "&Exit", "Exit", QStyle::SP_DialogCloseButton},
};
static_assert(std::size(kActionTable) == MainActions::Count);

} // namespace

MainActions::MainActions(QObject* parent)
    : QObject(parent)
{
    for (const ActionRow& row : kActionTable) {
        auto* action = new QAction(QApplication::style()->standardIcon(row.image),
                                   QString::fromLatin1(row.caption), this);
        action->setObjectName(QLatin1String(row.name));
        action->setToolTip(QString::fromLatin1(row.hint));
        action->setStatusTip(QString::fromLatin1(row.hint));
        m_actions[row.id] = action;
    }
}
