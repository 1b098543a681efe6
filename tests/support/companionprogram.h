#pragma once

#include "catalogue.h"
#include "vault.h"
#include "companionbars.h"
#include "companionlinks.h"
#include "options.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "singleinstance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

/// Clip Vault as the browser companion reaches it: the catalogue of a data folder of the test's
/// own, its single-instance socket, and the bars' choices filed as the program files them; the
/// host manifests written by `browser connect` into a home of the test's own.
struct CompanionProgram
{
    /// Writes the host manifests for `browser` (with `--profile` when not empty) and readies
    /// the environment a browser started with them is given.
    void connectBrowser(const QString& browser, const QString& profile,
                        QProcessEnvironment& environment)
    {
        QStringList arguments{QStringLiteral("--data-dir"), data.path(),
                              QStringLiteral("browser"),    QStringLiteral("connect"),
                              QStringLiteral("--browser"),  browser};
        if (!profile.isEmpty())
            arguments << QStringLiteral("--profile") << profile;
        QProcess connect;
        QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
        own.insert(QStringLiteral("HOME"), home.path()); // its record stays the test's
        connect.setProcessEnvironment(own);
        connect.start(QStringLiteral(CLIPVAULT_CLI), arguments);
        ASSERT_TRUE(connect.waitForFinished(60000));
        ASSERT_EQ(connect.exitCode(), 0) << connect.readAllStandardError().constData();
        environment.insert(QStringLiteral("CLIPVAULT_HOME"), data.path());
    }

    void start()
    {
        app = std::make_unique<Vault>(data.path(), DefaultOptions(), prompt);
        app->LoadCatalogue();
        instance = std::make_unique<SingleInstance>(data.path());
        ASSERT_TRUE(instance->acquire());
        bars = std::make_unique<CompanionBars>(*app, dialogs, *instance, links);
    }

    /// The item of `url`, once it is downloaded.
    std::optional<ItemRecord> downloaded(const QString& url) const
    {
        const int index = app->catalogue().FindItemByUrl(url);
        if (index < 0 || app->catalogue().item(index).state() != ItemState::Downloaded)
            return std::nullopt;
        return app->catalogue().item(index);
    }

    /// The catalogue's items, for a failure's message.
    QString itemsText() const
    {
        QStringList items;
        for (int i = 0; i < app->catalogue().itemCount(); ++i)
            items << FieldText(app->catalogue().item(i).Url) + u' ' +
                         QChar::fromLatin1(app->catalogue().item(i).State);
        return items.join(QStringLiteral(", "));
    }

    QTemporaryDir home;
    QTemporaryDir data;
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    std::unique_ptr<Vault> app;
    std::unique_ptr<SingleInstance> instance;
    CompanionLinks links;
    std::unique_ptr<CompanionBars> bars;
};
