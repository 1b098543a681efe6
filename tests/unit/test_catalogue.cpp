#include "catalogue.h"

#include "scriptedprompt.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <random>

namespace {

class CatalogueTest : public ::testing::Test
{
protected:
    CatalogueTest()
    {
        for (const QString& name : {QStringLiteral("Mtv"), QStringLiteral("Game"),
                                    QStringLiteral("Fun"), QStringLiteral("Downloading"),
                                    QStringLiteral("Downloaded"), QStringLiteral("Deleted")})
            catalogue.AddCategory(CategoryNamed(name));
    }

    static ItemRecord item(const QString& url, char state = 'N')
    {
        ItemRecord record = EmptyItemRecord();
        SetFieldText(record.Url, url);
        record.State = state;
        return record;
    }

    QStringList urls() const
    {
        QStringList result;
        for (int i = 0; i < catalogue.itemCount(); ++i)
            result << FieldText(catalogue.item(i).Url);
        return result;
    }

    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue{prompt, options};
    QSignalSpy appended{&catalogue, &Catalogue::itemAppended};
};

const QString kDuplicateQuestion =
    QStringLiteral("The URL has been in the download list, download it again?");

} // namespace

TEST_F(CatalogueTest, DuplicateUrlIsAskedAboutYesReplacesNoKeeps)
{
    catalogue.AppendItem(item(QStringLiteral("http://a.com/x.swf")));
    catalogue.AppendItem(item(QStringLiteral("http://a.com/y.swf")));

    prompt.answer({false});
    EXPECT_EQ(catalogue.AppendItem(item(QStringLiteral("  HTTP://A.com/X.SWF "), 'P')), -1);
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0].text, kDuplicateQuestion);
    EXPECT_EQ(prompt.questions[0].caption, QStringLiteral("confirm"));
    EXPECT_EQ(urls(), (QStringList{QStringLiteral("http://a.com/x.swf"),
                                   QStringLiteral("http://a.com/y.swf")}));

    prompt.answer({true});
    EXPECT_EQ(catalogue.AppendItem(item(QStringLiteral("  HTTP://A.com/X.SWF "), 'P')), 1);
    EXPECT_EQ(urls(), (QStringList{QStringLiteral("http://a.com/y.swf"),
                                   QStringLiteral("  HTTP://A.com/X.SWF ")}));
    EXPECT_EQ(catalogue.item(1).state(), ItemState::Pending);
    EXPECT_EQ(catalogue.FindItemByUrl(QStringLiteral("http://a.com/x.swf")), 1);
}

TEST_F(CatalogueTest, AddItemFromUrlFilesANewItemInItsCategory)
{
    const int index = catalogue.AddItemFromUrl(QStringLiteral("http://a.com/m/movie.swf"), {});
    ASSERT_EQ(index, 0);
    const ItemRecord& added = catalogue.item(index);
    EXPECT_EQ(FieldText(added.FileName), QStringLiteral("movie.swf"));
    EXPECT_EQ(FieldText(added.Category), QStringLiteral("Downloaded"));
    EXPECT_EQ(
        FieldText(added.Folder),
        FieldText(catalogue.category(catalogue.FindCategory(QStringLiteral("Downloaded"))).Folder));
    EXPECT_EQ(FieldText(added.Folder), DefaultSaveFolder());
    EXPECT_EQ(added.state(), ItemState::New);
    EXPECT_EQ(FieldText(added.Comment), QString());
    EXPECT_EQ(added.StartNow, 0);
    ASSERT_EQ(appended.count(), 1) << "the views hear of the new item";
    EXPECT_EQ(appended.at(0).at(0).toInt(), 0);
    EXPECT_TRUE(prompt.messages.empty()) << "the added pop-up is off by default";

    EXPECT_EQ(FieldText(catalogue
                            .item(catalogue.AddItemFromUrl(QStringLiteral("nomovie"),
                                                           QStringLiteral("game")))
                            .FileName),
              QStringLiteral("nomovie"));
    EXPECT_EQ(FieldText(catalogue.item(1).Folder), DefaultSaveFolder() + QStringLiteral("Game/"));
}

TEST_F(CatalogueTest, AddItemFromUrlAnnouncesWhenAskedAndRefusesUnknownCategories)
{
    options.NotifyTaskAdded = 1;
    catalogue.AddItemFromUrl(QStringLiteral("http://a.com/b.swf"), QStringLiteral("Fun"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("http://a.com/b.swf added!"));
    EXPECT_EQ(prompt.messages[0].caption, QStringLiteral("Information"));

    ASSERT_TRUE(catalogue.RemoveCategory(QStringLiteral("Fun")));
    EXPECT_EQ(catalogue.AddItemFromUrl(QStringLiteral("http://a.com/c.swf"), QStringLiteral("Fun")),
              -1);
    EXPECT_EQ(catalogue.itemCount(), 1);
    EXPECT_EQ(prompt.messages.size(), 1u) << "an unknown category is refused without a word";
}

TEST_F(CatalogueTest, AddItemFromUrlAsTakesTheGivenFileNameOrPath)
{
    const int index = catalogue.AddItemFromUrlAs(QStringLiteral("http://a.com/x.swf"), {},
                                                 QStringLiteral("/movies/keep.swf"));
    EXPECT_EQ(ItemFilePath(catalogue.item(index)), QStringLiteral("/movies/keep.swf"));
    const int other = catalogue.AddItemFromUrlAs(QStringLiteral("http://a.com/y.swf"), {}, {});
    EXPECT_EQ(FieldText(catalogue.item(other).FileName), QStringLiteral("y.swf"));
}

TEST_F(CatalogueTest, RepeatedCategoriesAreRefusedBuiltInsSilently)
{
    EXPECT_FALSE(catalogue.AddCategory(CategoryNamed(QStringLiteral("  game "))));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("The Category has exists!"));
    EXPECT_EQ(prompt.messages[0].caption, QStringLiteral("Information"));

    EXPECT_FALSE(catalogue.AddCategory(CategoryNamed(QStringLiteral("DELETED"))));
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(catalogue.categoryCount(), 6);
}

TEST_F(CatalogueTest, CategoryFoldersFollowTheFolderRule)
{
    CategoryRecord swf = CategoryNamed(QStringLiteral("Swf"));
    SetFieldText(swf.Folder, QStringLiteral("/data/swf"));
    ASSERT_TRUE(catalogue.AddCategory(swf));
    ASSERT_TRUE(catalogue.AddCategory(CategoryNamed(QStringLiteral(" Cartoons"))));
    auto folderOf = [&](const QString& name) {
        return FieldText(catalogue.category(catalogue.FindCategory(name)).Folder);
    };
    EXPECT_EQ(folderOf(QStringLiteral("swf")), QStringLiteral("/data/swf/"));
    EXPECT_EQ(folderOf(QStringLiteral("cartoons")),
              DefaultSaveFolder() + QStringLiteral(" Cartoons/"))
        << "the name goes into the folder as stored, untrimmed";
    EXPECT_EQ(folderOf(QStringLiteral("Downloaded")), DefaultSaveFolder());

    // A folder too long for its stored field is kept whole, and ends in "/".
    CategoryRecord deep = CategoryNamed(QStringLiteral("Deep"));
    SetFieldText(deep.Folder, QStringLiteral("/") + QString(199, u'd'));
    ASSERT_TRUE(catalogue.AddCategory(deep));
    EXPECT_EQ(folderOf(QStringLiteral("Deep")), QStringLiteral("/") + QString(199, u'd') + u'/');
    const QString name = QString(200, u'n');
    ASSERT_TRUE(catalogue.AddCategory(CategoryNamed(name)));
    EXPECT_EQ(folderOf(name), DefaultSaveFolder() + name + u'/');
    EXPECT_EQ(catalogue.FindCategory(name.left(30)), -1) << "names are told apart whole";
}

TEST_F(CatalogueTest, BuiltInCategoriesCannotBeRemovedAndItemsKeepTheirCategory)
{
    for (const QString& name :
         {QStringLiteral("Downloaded"), QStringLiteral("downloading "), QStringLiteral("Deleted")})
        EXPECT_FALSE(catalogue.RemoveCategory(name));
    EXPECT_EQ(catalogue.categoryCount(), 6);

    const int index =
        catalogue.AddItemFromUrl(QStringLiteral("http://a.com/g.swf"), QStringLiteral("Game"));
    EXPECT_TRUE(catalogue.RemoveCategory(QStringLiteral(" GAME")));
    EXPECT_EQ(catalogue.FindCategory(QStringLiteral("Game")), -1);
    EXPECT_EQ(FieldText(catalogue.item(index).Category), QStringLiteral("Game"));
    EXPECT_TRUE(catalogue.RemoveCategory(QStringLiteral("never there")));
    EXPECT_EQ(catalogue.FindCategory(QStringLiteral("Fun")), 1) << "later categories move up";
}

TEST_F(CatalogueTest, LookupsFindTheFirstOfRepeatedKeysAndFollowRemovals)
{
    catalogue.AppendItem(item(QStringLiteral("http://a/1")));
    catalogue.AppendItem(item(QStringLiteral("http://a/2")));
    catalogue.AppendItem(item(QStringLiteral("http://a/3")));
    // An edit in place can make two items share a URL; the first one wins.
    catalogue.updateItem(2, item(QStringLiteral("HTTP://A/2")));
    EXPECT_EQ(catalogue.FindItemByUrl(QStringLiteral("http://a/2")), 1);
    EXPECT_EQ(catalogue.FindItemByUrl(QStringLiteral("http://a/3")), -1);

    catalogue.RemoveItemByUrl(QStringLiteral("http://a/1"));
    EXPECT_EQ(catalogue.FindItemByUrl(QStringLiteral("http://a/2")), 0);
    catalogue.RemoveItemByUrl(QStringLiteral("http://a/2"));
    EXPECT_EQ(catalogue.FindItemByUrl(QStringLiteral("http://a/2")), 0)
        << "the second holder of the key is found once the first is gone";
    EXPECT_EQ(FieldText(catalogue.item(0).Url), QStringLiteral("HTTP://A/2"));
    EXPECT_TRUE(catalogue.RemoveItemByUrl(QStringLiteral("http://nowhere")));
    EXPECT_EQ(catalogue.itemCount(), 1);
}

// The index must answer exactly as a walk of the list from its start would, whatever mix of
// appends, replacements, edits in place and removals came before.
TEST_F(CatalogueTest, IndexAgreesWithALinearWalkUnderRandomChanges)
{
    std::mt19937 random(20261207);
    auto randomUrl = [&] {
        const int n = static_cast<int>(random() % 40);
        QString url = QStringLiteral("http://host/%1.swf").arg(n);
        if (random() % 3 == 0)
            url = QStringLiteral("  ") + url.toUpper();
        return url;
    };
    auto walk = [&](const QString& url) {
        const QByteArray key = CatalogueKey(url);
        for (int i = 0; i < catalogue.itemCount(); ++i) {
            if (CatalogueKey(FieldBytes(catalogue.item(i).Url)) == key)
                return i;
        }
        return -1;
    };
    prompt.setFallback(true);
    for (int step = 0; step < 3000; ++step) {
        switch (random() % 4) {
        case 0:
        case 1:
            catalogue.AppendItem(item(randomUrl()));
            break;
        case 2:
            catalogue.RemoveItemByUrl(randomUrl());
            break;
        case 3:
            if (catalogue.itemCount() > 0)
                catalogue.updateItem(static_cast<int>(random() % catalogue.itemCount()),
                                     item(randomUrl()));
            break;
        }
        const QString probe = randomUrl();
        ASSERT_EQ(catalogue.FindItemByUrl(probe), walk(probe)) << "step " << step;
    }
}

TEST_F(CatalogueTest, SetItemStateStoresTheLetter)
{
    catalogue.AppendItem(item(QStringLiteral("http://a/1"), 'P'));
    catalogue.SetItemState(0, ItemState::Failed);
    EXPECT_EQ(catalogue.itemState(0), ItemState::Failed);
    EXPECT_EQ(catalogue.item(0).State, 'F');
}

TEST_F(CatalogueTest, ListenersHearEachChangeWithThePositionsItTouched)
{
    QSignalSpy changed(&catalogue, &Catalogue::itemChanged);
    QSignalSpy removed(&catalogue, &Catalogue::itemsRemoved);
    QSignalSpy reset(&catalogue, &Catalogue::itemsReset);
    for (int i = 0; i < 6; ++i)
        catalogue.AppendItem(item(QStringLiteral("http://a/%1").arg(i), 'P'));
    EXPECT_EQ(appended.count(), 6);

    catalogue.SetItemState(2, ItemState::Pending);
    EXPECT_EQ(changed.count(), 0) << "the same letter again changes nothing";
    catalogue.SetItemState(2, ItemState::Downloaded);
    ItemRecord edited = catalogue.item(4);
    SetFieldText(edited.Comment, QStringLiteral("note"));
    catalogue.updateItem(4, edited);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 2);
    EXPECT_EQ(changed.at(1).at(0).toInt(), 4);

    // Removals name the positions the items had before, ascending, in one notice per call.
    catalogue.RemoveItemsByUrl({QStringLiteral("http://a/4"), QStringLiteral("HTTP://A/1 "),
                                QStringLiteral("http://a/nowhere")});
    catalogue.RemoveItemByUrl(QStringLiteral("http://a/0"));
    ASSERT_EQ(removed.count(), 2);
    EXPECT_EQ(removed.at(0).at(0).value<QList<int>>(), (QList<int>{1, 4}));
    EXPECT_EQ(removed.at(1).at(0).value<QList<int>>(), (QList<int>{0}));
    catalogue.RemoveItemsByUrl({QStringLiteral("http://a/nowhere")});
    EXPECT_EQ(removed.count(), 2) << "nothing removed, nothing said";

    // A duplicate taken again leaves its old place and comes in at the end.
    prompt.answer({true});
    catalogue.AppendItem(item(QStringLiteral("http://a/2")));
    ASSERT_EQ(removed.count(), 3);
    EXPECT_EQ(removed.at(2).at(0).value<QList<int>>(), (QList<int>{0})) << "2, 3, 5 were left";
    EXPECT_EQ(appended.last().at(0).toInt(), catalogue.itemCount() - 1);

    catalogue.clearItems();
    EXPECT_EQ(reset.count(), 1);
}
