#include "barchoice.h"

#include "catalogue.h"
#include "vault.h"
#include "fieldtext.h"
#include "records.h"
#include "filedialogs.h"
#include "userprompt.h"

const QString kBarSaveTo = QStringLiteral("Save to ...");

QStringList BarMenuCategories(const Catalogue& catalogue)
{
    QStringList categories;
    for (const CategoryRecord& category : catalogue.categories()) {
        if (!IsBuiltInCategory(FieldBytes(category.Name)))
            categories << FieldText(category.Name);
    }
    return categories;
}

void FileMovieFromBar(Vault& app, FileDialogs& dialogs, QWidget* parent, const QString& address,
                      const QString& caption, const std::function<void()>& beforeQuestion)
{
    const auto goForAQuestion = [&] {
        if (beforeQuestion && app.catalogue().FindItemByUrl(address) >= 0)
            beforeQuestion();
    };
    int index = -1;
    if (caption != kBarSaveTo) {
        goForAQuestion();
        index = app.catalogue().AddItemFromUrl(address, caption);
    } else {
        const QString file = dialogs.chooseMovieSaveFile(parent);
        if (file.isEmpty())
            return;
        goForAQuestion();
        // No category: the item is filed under "Downloaded".
        index = app.catalogue().AddItemFromUrlAs(address, QString(), file);
    }
    if (index >= 0)
        app.downloads().StartItemDownload(address);
}
