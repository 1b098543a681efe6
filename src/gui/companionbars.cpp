#include "companionbars.h"

#include "barchoice.h"
#include "optionform.h"
#include "browserurls.h"
#include "catalogue.h"
#include "vault.h"
#include "records.h"
#include "privatefolder.h"
#include "singleinstance.h"

#include <QLocalSocket>

CompanionBars::CompanionBars(Vault& app, FileDialogs& dialogs, SingleInstance& instance,
                             CompanionLinks& links, QObject* parent)
    : QObject(parent)
    , m_app(app)
    , m_dialogs(dialogs)
    , m_links(links)
{
    connect(&instance, &SingleInstance::companionConnected, &m_links, &CompanionLinks::adopt);
    // The command line asks the running program which companions are connected, and for the
    // visible tab's movies through them.
    instance.answerRequest(QByteArray(kCompanionsRequest), [this](QLocalSocket& socket) {
        QByteArray lines;
        for (const QString& browser : m_links.connectedNames())
            lines += browser.toUtf8() + '\n';
        socket.write(lines);
        socket.disconnectFromServer();
    });
    instance.answerRequest(QByteArray(kTabMoviesRequest), [this](QLocalSocket& socket) {
        if (!m_links.isConnected()) {
            socket.disconnectFromServer();
            return;
        }
        m_links.findTabMovies(&socket, [&socket](const QList<TabMovie>& movies) {
            socket.write(TabMoviesJson(movies));
            socket.disconnectFromServer();
        });
    });
    connect(&m_links, &CompanionLinks::choiceMade, this, &CompanionBars::choose);
    connect(&app, &Vault::optionsChanged, this, &CompanionBars::tellBarState);
    connect(&app.catalogue(), &Catalogue::categoriesChanged, this, &CompanionBars::tellBarState);
    tellBarState();
}

void CompanionBars::tellBarState()
{
    m_links.setBarState(m_app.options().ShortcutBarEnabled != 0,
                        m_app.options().PauseMovieOnBar != 0, BarMenuCategories(m_app.catalogue()));
}

void CompanionBars::choose(const CompanionChoice& choice)
{
    if (choice.action == u"options") {
        EditVaultOptions(m_app, nullptr);
        return;
    }
    const QString address = BarMovieAddress(choice.movie, choice.frame, choice.page);
    const QString caption = choice.action == u"saveAs"  ? kBarSaveTo
                            : choice.category.isEmpty() ? QLatin1String(builtin::Downloaded)
                                                        : choice.category;
    FileMovieFromBar(m_app, m_dialogs, nullptr, address, caption);
}
