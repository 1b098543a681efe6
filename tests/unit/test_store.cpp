#include "cataloguestore.h"

#include "catalogue.h"
#include "cataloguesaver.h"
#include "companionfile.h"
#include "scriptedprompt.h"
#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <random>

namespace {

class StoreTest : public ::testing::Test
{
protected:
    QString path(const char* name) const
    {
        return QDir(folder.path()).filePath(QLatin1String(name));
    }
    QString itemsLog() const { return path("downloading.log"); }
    QString categoriesLog() const { return path("category.log"); }

    /// Loads both logs into a fresh catalogue, as start-up does.
    void load()
    {
        catalogue = std::make_unique<Catalogue>(prompt, options);
        store = std::make_unique<CatalogueStore>(folder.path());
        itemsResult = store->LoadItems(*catalogue);
        categoriesResult = store->LoadCategories(*catalogue);
    }

    QStringList categoryNames() const
    {
        QStringList names;
        for (const CategoryRecord& category : catalogue->categories())
            names << FieldText(category.Name);
        return names;
    }

    /// Files longOne and longTwo, whose addresses the log cuts, and saves them.
    void saveTwoLongAddresses()
    {
        load();
        for (const QByteArray& url : {longOne, longTwo})
            ASSERT_GE(catalogue->AddItemFromUrl(QString::fromUtf8(url), {}), 0);
        ASSERT_TRUE(store->SaveItems(*catalogue));
    }

    const QByteArray longOne = "http://a.com/" + QByteArray(120, '1') + ".swf";
    const QByteArray longTwo = "http://a.com/" + QByteArray(120, '2') + ".swf";
    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    std::unique_ptr<Catalogue> catalogue;
    std::unique_ptr<CatalogueStore> store;
    LogLoadResult itemsResult;
    LogLoadResult categoriesResult;
};

/// The bytes the log holds for a record.
template <typename Record>
QByteArray storedBytes(const Record& record)
{
    const auto stored = ToStored(record);
    return QByteArray(reinterpret_cast<const char*>(&stored), sizeof stored);
}

QByteArray handMadeItemsLog()
{
    return logHeaderBytes("clipvault", 3) +
           itemBytes('D', "http://a.com/one.swf", "Game", "/m/Game/", "one.swf", "first") +
           itemBytes('P', "http://a.com/two.swf", "Downloaded", "/m/", "two.swf", "", 0) +
           itemBytes('X', "http://a.com/three.swf", "Fun", "/m/Fun/", "/abs/three.swf", "c", 1);
}

QByteArray handMadeCategoriesLog()
{
    return logHeaderBytes("category", 6) + categoryBytes("Game", "/m/Game/", 5) +
           categoryBytes("Fun", "/m/Fun/") + categoryBytes("Mtv", "/m/Mtv/") +
           categoryBytes("Downloading", "/m/") + categoryBytes("Downloaded", "/m/") +
           categoryBytes("Deleted", "/m/");
}

} // namespace

TEST_F(StoreTest, FirstRunHasTheFirstRunAndBuiltInCategoriesAndNoItems)
{
    load();
    EXPECT_FALSE(itemsResult.existed);
    EXPECT_EQ(catalogue->itemCount(), 0);
    EXPECT_EQ(categoryNames(),
              (QStringList{"Mtv", "Game", "Fun", "Downloading", "Downloaded", "Deleted"}));
    EXPECT_EQ(FieldText(catalogue->category(1).Folder),
              DefaultSaveFolder() + QStringLiteral("Game/"));
    EXPECT_TRUE(store->unreadableNotice().isEmpty());
    EXPECT_FALSE(QFile::exists(itemsLog())) << "loading writes nothing";
}

TEST_F(StoreTest, HandMadeLogsLoadFieldByFieldAndSaveBackByteForByte)
{
    ASSERT_TRUE(writeFile(itemsLog(), handMadeItemsLog()));
    ASSERT_TRUE(writeFile(categoriesLog(), handMadeCategoriesLog()));
    load();

    ASSERT_EQ(catalogue->itemCount(), 3);
    const ItemRecord& first = catalogue->item(0);
    EXPECT_EQ(first.state(), ItemState::Downloaded);
    EXPECT_EQ(FieldText(first.Url), QStringLiteral("http://a.com/one.swf"));
    EXPECT_EQ(FieldText(first.Category), QStringLiteral("Game"));
    EXPECT_EQ(FieldText(first.Folder), QStringLiteral("/m/Game/"));
    EXPECT_EQ(FieldText(first.Comment), QStringLiteral("first"));
    EXPECT_EQ(ItemFilePath(catalogue->item(2)), QStringLiteral("/abs/three.swf"));
    EXPECT_EQ(catalogue->item(2).StartNow, 1);
    EXPECT_EQ(catalogue->category(0).Tag, 5);
    EXPECT_EQ(categoryNames(),
              (QStringList{"Game", "Fun", "Mtv", "Downloading", "Downloaded", "Deleted"}));

    ASSERT_TRUE(store->SaveItems(*catalogue));
    ASSERT_TRUE(store->SaveCategories(*catalogue));
    EXPECT_EQ(readFile(itemsLog()), handMadeItemsLog());
    EXPECT_EQ(readFile(categoriesLog()), handMadeCategoriesLog());
}

TEST_F(StoreTest, EmptyLogsLoadEmptyAndAnEmptyCategoryLogGetsOnlyTheBuiltIns)
{
    ASSERT_TRUE(writeFile(itemsLog(), logHeaderBytes("clipvault", 0)));
    ASSERT_TRUE(writeFile(categoriesLog(), logHeaderBytes("category", 0)));
    load();
    EXPECT_TRUE(itemsResult.existed && itemsResult.whole);
    EXPECT_EQ(catalogue->itemCount(), 0);
    EXPECT_EQ(categoryNames(), (QStringList{"Downloading", "Downloaded", "Deleted"}));
    EXPECT_TRUE(store->unreadableNotice().isEmpty());
}

TEST_F(StoreTest, LoadedFoldersAreCompletedAndRepeatsAreDropped)
{
    ASSERT_TRUE(writeFile(categoriesLog(),
                          logHeaderBytes("category", 4) + categoryBytes("Swf", "/data/swf") +
                              categoryBytes("Cartoons", "") + categoryBytes("Downloaded", "") +
                              categoryBytes(" swf ", "/other/")));
    load();
    EXPECT_EQ(FieldText(catalogue->category(0).Folder), QStringLiteral("/data/swf/"));
    EXPECT_EQ(FieldText(catalogue->category(1).Folder),
              DefaultSaveFolder() + QStringLiteral("Cartoons/"));
    EXPECT_EQ(FieldText(catalogue->category(2).Folder), DefaultSaveFolder());
    EXPECT_EQ(categoryNames(),
              (QStringList{"Swf", "Cartoons", "Downloaded", "Downloading", "Deleted"}));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("The Category has exists!"));
}

TEST_F(StoreTest, RepeatedUrlsInTheLogAskTheDuplicateQuestion)
{
    const QByteArray log = logHeaderBytes("clipvault", 3) +
                           itemBytes('D', "http://a/x.swf", "Game", "/m/", "old.swf") +
                           itemBytes('D', "http://a/y.swf", "Game", "/m/", "y.swf") +
                           itemBytes('N', " HTTP://A/X.swf", "Fun", "/m/", "new.swf");
    ASSERT_TRUE(writeFile(itemsLog(), log));

    prompt.answer({true});
    load();
    ASSERT_EQ(catalogue->itemCount(), 2);
    EXPECT_EQ(FieldText(catalogue->item(1).FileName), QStringLiteral("new.swf"));

    prompt.answer({false});
    load();
    ASSERT_EQ(catalogue->itemCount(), 2);
    EXPECT_EQ(FieldText(catalogue->item(0).FileName), QStringLiteral("old.swf"));
    EXPECT_EQ(prompt.questions.size(), 2u);
}

TEST_F(StoreTest, ATruncatedLogLoadsWhatItHoldsAndIsKeptAsideBeforeTheFirstSave)
{
    QByteArray log = handMadeItemsLog();
    log.chop(300); // the third record is cut short
    ASSERT_TRUE(writeFile(itemsLog(), log));
    load();
    EXPECT_EQ(catalogue->itemCount(), 2);
    EXPECT_FALSE(itemsResult.whole);
    EXPECT_EQ(itemsResult.announced, 3);
    const QString notice = store->unreadableNotice();
    EXPECT_TRUE(notice.contains(QStringLiteral("downloading.log")));
    EXPECT_TRUE(notice.contains(QStringLiteral("2 of its records")));
    EXPECT_FALSE(QFile::exists(UnreadableCopyPath(itemsLog()))) << "nothing is written at load";

    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_EQ(readFile(UnreadableCopyPath(itemsLog())), log);
    EXPECT_EQ(readFile(itemsLog()).size(), 16 + 2 * 636);

    // The saved log is whole: the next save does not copy it aside again.
    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_FALSE(QFile::exists(UnreadableCopyPath(itemsLog()) + QStringLiteral(".2")));
}

TEST_F(StoreTest, RecordsBeyondTheAnnouncedCountAreKeptAsideNeverDroppedSilently)
{
    QByteArray log = handMadeItemsLog();
    log.replace(12, 4, QByteArray("\x02\x00\x00\x00", 4)); // announces 2 of the 3 records
    ASSERT_TRUE(writeFile(itemsLog(), log));
    load();
    EXPECT_EQ(catalogue->itemCount(), 2);
    EXPECT_FALSE(itemsResult.whole);
    EXPECT_FALSE(store->unreadableNotice().isEmpty()) << "the user hears of it";
    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_EQ(readFile(UnreadableCopyPath(itemsLog())), log) << "the third record is kept";

    // Stray bytes after the last record are the same case.
    ASSERT_TRUE(writeFile(itemsLog(), handMadeItemsLog() + "tail"));
    load();
    EXPECT_FALSE(itemsResult.whole);
}

TEST_F(StoreTest, AddressesThatDifferOnlyInBytesThatAreNoUtf8StayDistinct)
{
    ASSERT_TRUE(
        writeFile(itemsLog(), logHeaderBytes("clipvault", 3) +
                                  itemBytes('D', "http://a.com/\xff.swf", "Game", "/m/", "1.swf") +
                                  itemBytes('D', "http://a.com/\xfe.swf", "Game", "/m/", "2.swf") +
                                  itemBytes('D', "http://a.com/\xc0.swf", "Game", "/m/", "3.swf")));
    load();
    EXPECT_TRUE(prompt.questions.empty()) << "no duplicate question for distinct addresses";
    EXPECT_EQ(catalogue->itemCount(), 3);
    EXPECT_TRUE(itemsResult.whole);
    ASSERT_TRUE(store->SaveItems(*catalogue));
    load();
    EXPECT_EQ(catalogue->itemCount(), 3);
    EXPECT_NE(CatalogueKey(QByteArrayView("HTTP://A.COM/\xff.swf")),
              CatalogueKey(QByteArrayView("http://a.com/\xfe.swf")));
    EXPECT_EQ(CatalogueKey(QByteArrayView("HTTP://A.COM/\xff.swf")),
              CatalogueKey(QByteArrayView("http://a.com/\xff.swf")))
        << "ASCII letters still fold around such bytes";
}

TEST_F(StoreTest, GarbageNegativeAndAbsurdCountsLoadNothingAndKeepEveryCopy)
{
    const QByteArray cases[] = {
        QByteArray("not a log"), // shorter than a header
        logHeaderBytes("clipvault", -4) + itemBytes('D', "u", "c", "f", "n"),
        logHeaderBytes("clipvault", 0x7fffffff),
        QByteArray(5000, '\xff'), // another kind of file
        QByteArray(),             // empty
    };
    int copies = 0;
    for (const QByteArray& bytes : cases) {
        ASSERT_TRUE(writeFile(itemsLog(), bytes));
        load();
        EXPECT_FALSE(itemsResult.whole);
        EXPECT_EQ(catalogue->itemCount(), 0);
        EXPECT_FALSE(store->unreadableNotice().isEmpty());
        ASSERT_TRUE(store->SaveItems(*catalogue));
        ++copies;
        const QString copy = copies == 1
                                 ? UnreadableCopyPath(itemsLog())
                                 : UnreadableCopyPath(itemsLog()) + u'.' + QString::number(copies);
        EXPECT_EQ(readFile(copy), bytes) << "copy " << copies;
    }
}

TEST_F(StoreTest, AFailedSaveKeepsThePreviousFileWhole)
{
    load();
    ASSERT_TRUE(store->SaveItems(*catalogue));
    const QByteArray before = readFile(itemsLog());
    for (int i = 0; i < 10; ++i)
        catalogue->AddItemFromUrl(QStringLiteral("http://a/%1.swf").arg(i), {});

    QString error;
    {
        FileSizeLimit diskFull(2000); // ten items need 6376 bytes
        EXPECT_FALSE(store->SaveItems(*catalogue, &error));
    }
    EXPECT_EQ(error, QStringLiteral("Cannot create file ") + itemsLog());
    EXPECT_EQ(readFile(itemsLog()), before);
    EXPECT_TRUE(QDir(folder.path()).entryList({QStringLiteral("*.log*")}, QDir::Files).size() == 1)
        << "no temporary file is left behind";

    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_EQ(readFile(itemsLog()).size(), 16 + 10 * 636);
}

TEST_F(StoreTest, ChangesReachTheDiskAsTheyHappenAndAFailedSaveIsToldOnceAndTriedAgain)
{
    load();
    CatalogueSaver saver(*catalogue, *store, 50);
    saver.start();
    QStringList failures;
    QObject::connect(&saver, &CatalogueSaver::saveFailed,
                     [&](const QString& error) { failures << error; });
    const auto onDisk = [&](const QString& url) {
        Catalogue again(prompt, options);
        CatalogueStore(folder.path()).LoadItems(again);
        return again.FindItemByUrl(url) >= 0;
    };

    catalogue->AddItemFromUrl(QStringLiteral("http://a/first.swf"), {});
    ASSERT_TRUE(waitUntil([&] { return onDisk(QStringLiteral("http://a/first.swf")); }));
    EXPECT_EQ(readFile(categoriesLog()).size(), 16 + 6 * 144);

    {
        FileSizeLimit diskFull(2000); // ten more items need 6376 bytes
        for (int i = 0; i < 10; ++i)
            catalogue->AddItemFromUrl(QStringLiteral("http://a/%1.swf").arg(i), {});
        ASSERT_TRUE(waitUntil([&] { return !failures.isEmpty(); }));
        // Tried every 50 ms meanwhile, and told only once.
        EXPECT_FALSE(waitUntil([&] { return failures.size() > 1; }, 1000));
    }
    EXPECT_EQ(failures.value(0), QStringLiteral("Cannot create file ") + itemsLog());
    EXPECT_TRUE(onDisk(QStringLiteral("http://a/first.swf"))) << "the failure kept the last log";
    EXPECT_TRUE(waitUntil([&] { return onDisk(QStringLiteral("http://a/9.swf")); }));
}

TEST_F(StoreTest, SavingAndLoadingAgainReproducesBothLists)
{
    load();
    catalogue->AddCategory(CategoryNamed(QStringLiteral("Ünïcode")));
    catalogue->AddItemFromUrl(QStringLiteral("http://a/ü.swf"), QStringLiteral("ünïcode"));
    catalogue->AddItemFromUrl(QStringLiteral("http://a/b.swf"), QStringLiteral("Mtv"));
    ASSERT_TRUE(store->SaveItems(*catalogue));
    ASSERT_TRUE(store->SaveCategories(*catalogue));
    std::vector<ItemRecord> items;
    for (int i = 0; i < catalogue->itemCount(); ++i)
        items.push_back(catalogue->item(i));
    const auto categories = catalogue->categories();

    load();
    ASSERT_EQ(catalogue->itemCount(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(storedBytes(catalogue->item(i)), storedBytes(items[i])) << i;
    ASSERT_EQ(catalogue->categories().size(), categories.size());
    for (std::size_t i = 0; i < categories.size(); ++i)
        EXPECT_EQ(storedBytes(catalogue->categories()[i]), storedBytes(categories[i])) << i;
}

TEST_F(StoreTest, ValuesTooLongForTheLogSurviveInItsCompanionWhileTheLogKeepsItsLayout)
{
    const QString url = QStringLiteral("https://web.archive.org/web/20070315000000/http://") +
                        QString(2000, u'u') + QStringLiteral(".swf");
    const QString category = QString(200, u'c');
    const QString folder = QStringLiteral("/tmp/") + QString(200, u'f') + u'/';
    const QString fileName = QString(300, u'n') + QStringLiteral(".swf");
    const QByteArray invalidUtf8 = "http://h/" + QByteArray(150, 'x') + "\xff\xfe.swf";
    load();
    CategoryRecord longCategory = CategoryNamed(category);
    SetFieldText(longCategory.Folder, folder);
    ASSERT_TRUE(catalogue->AddCategory(longCategory));
    ASSERT_GE(catalogue->AddItemFromUrlAs(url, category, fileName), 0);
    ItemRecord foreign = EmptyItemRecord();
    foreign.State = 'P';
    SetFieldBytes(foreign.Url, invalidUtf8);
    ASSERT_GE(catalogue->AppendItem(foreign), 0);
    ASSERT_TRUE(store->SaveItems(*catalogue));
    ASSERT_TRUE(store->SaveCategories(*catalogue));

    // The log itself holds each value cut to its field, as other readers expect.
    const QByteArray log = readFile(itemsLog());
    ASSERT_EQ(log.size(), 16 + 2 * 636);
    EXPECT_EQ(QByteArray(log.constData() + 16 + 36), url.toUtf8().left(100));
    EXPECT_TRUE(QFile::exists(CompanionPath(itemsLog())));

    load();
    ASSERT_EQ(catalogue->itemCount(), 2);
    const ItemRecord& item = catalogue->item(0);
    EXPECT_EQ(FieldText(item.Url), url);
    EXPECT_EQ(FieldText(item.Category), category);
    EXPECT_EQ(FieldText(item.Folder), folder);
    EXPECT_EQ(FieldText(item.FileName), fileName);
    EXPECT_EQ(FieldBytes(catalogue->item(1).Url), invalidUtf8) << "bytes travel unchanged";
    EXPECT_EQ(FieldText(catalogue->category(catalogue->FindCategory(category)).Folder), folder);

    // Without its companion the log loads as it always did: the values cut.
    ASSERT_TRUE(QFile::remove(CompanionPath(itemsLog())));
    load();
    EXPECT_EQ(FieldText(catalogue->item(0).Url), url.left(100));
}

TEST_F(StoreTest, ACompanionThatDoesNotMatchItsLogGivesOnlyValuesWhoseRecordsStillMatch)
{
    ASSERT_NO_FATAL_FAILURE(saveTwoLongAddresses());
    const QByteArray companion = readFile(CompanionPath(itemsLog()));
    QByteArray log = readFile(itemsLog());

    // An older program changed the second record's comment and saved the log alone: its whole
    // value no longer belongs to it, the first record's still does; the user hears of it once,
    // and the companion is kept aside before the next save replaces it.
    log[16 + 636 + 331] = 'c';
    writeFile(itemsLog(), log);
    load();
    EXPECT_EQ(FieldBytes(catalogue->item(0).Url), longOne);
    EXPECT_EQ(FieldBytes(catalogue->item(1).Url), longTwo.left(100));
    EXPECT_TRUE(store->unreadableNotice().contains(QStringLiteral("downloading.log.long")));
    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_EQ(readFile(UnreadableCopyPath(CompanionPath(itemsLog()))), companion);

    // Damaged text, or an empty file, gives nothing and is kept aside the same way.
    for (const QByteArray& damaged : {companion.left(companion.size() / 2), QByteArray()}) {
        writeFile(CompanionPath(itemsLog()), damaged);
        load();
        EXPECT_EQ(catalogue->itemCount(), 2);
        EXPECT_EQ(FieldBytes(catalogue->item(0).Url), longOne.left(100));
        EXPECT_FALSE(store->unreadableNotice().isEmpty());
    }
}

TEST_F(StoreTest, ADamagedEntryInTheCompanionIsTreatedAsDamageOfTheWholeFile)
{
    ASSERT_NO_FATAL_FAILURE(saveTwoLongAddresses());
    const QJsonObject written =
        QJsonDocument::fromJson(readFile(CompanionPath(itemsLog()))).object();

    // The second record's address, damaged in one way each time.
    const std::pair<const char*, QJsonValue> damages[] = {
        {"record", -1},
        {"record", 0.5},
        {"field", QStringLiteral("nonsense")},
        {"text", QString(QStringLiteral("http://elsewhere/") + QString(150, u'x'))},
        {"text", QString(3 << 20, u'x')},
    };
    for (const auto& [key, value] : damages) {
        SCOPED_TRACE(key);
        QJsonObject root = written;
        QJsonArray values = root.value(QStringLiteral("values")).toArray();
        for (qsizetype i = 0; i < values.size(); ++i) {
            QJsonObject entry = values[i].toObject();
            if (entry.value(QStringLiteral("record")).toInt() == 1 &&
                entry.value(QStringLiteral("field")).toString() == u"url") {
                entry.insert(QLatin1String(key), value);
                values[i] = entry;
            }
        }
        root.insert(QStringLiteral("values"), values);
        const QByteArray damaged = QJsonDocument(root).toJson();
        QFile::remove(UnreadableCopyPath(CompanionPath(itemsLog())));
        ASSERT_TRUE(writeFile(CompanionPath(itemsLog()), damaged));

        load();
        EXPECT_EQ(FieldBytes(catalogue->item(0).Url), longOne) << "the sound entry is taken";
        EXPECT_EQ(FieldBytes(catalogue->item(1).Url), longTwo.left(100));
        const QString notice = store->unreadableNotice();
        EXPECT_TRUE(notice.contains(QStringLiteral("downloading.log.long"))) << qPrintable(notice);
        EXPECT_EQ(notice.contains(QStringLiteral("2 MiB")), value.toString().size() > (2 << 20));
        ASSERT_TRUE(store->SaveItems(*catalogue));
        EXPECT_EQ(readFile(UnreadableCopyPath(CompanionPath(itemsLog()))), damaged);
    }
}

TEST_F(StoreTest, ASaveStoppedAtAnyStepKeepsEveryLongValueOfTheLogOnDisk)
{
    const auto longUrl = [](char c) -> QString {
        return QStringLiteral("http://a.com/") + QString(150, QLatin1Char(c)) +
               QStringLiteral(".swf");
    };
    // Before: long 1, a short one, long 2, long 3. After: the short one and long 1 removed
    // (the others move up), long 4 added.
    load();
    const QStringList before = {longUrl('1'), QStringLiteral("http://a.com/s.swf"), longUrl('2'),
                                longUrl('3')};
    for (const QString& url : before)
        ASSERT_GE(catalogue->AddItemFromUrl(url, {}), 0);
    ASSERT_TRUE(store->SaveItems(*catalogue));
    const QByteArray logBefore = readFile(itemsLog());
    const QByteArray companionBefore = readFile(CompanionPath(itemsLog()));
    ASSERT_TRUE(catalogue->RemoveItemByUrl(QStringLiteral("http://a.com/s.swf")));
    ASSERT_TRUE(catalogue->RemoveItemByUrl(longUrl('1')));
    ASSERT_GE(catalogue->AddItemFromUrl(longUrl('4'), {}), 0);
    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_FALSE(QFile::exists(NextCompanionPath(itemsLog())));
    const QByteArray logAfter = readFile(itemsLog());
    const QByteArray companionAfter = readFile(CompanionPath(itemsLog()));

    struct Moment
    {
        const char* when;
        QByteArray log;
        QByteArray nextCompanion; // empty: none
        QStringList urls;
    };
    const QList<Moment> moments = {
        {"the new companion written, the log not (a kill, a full disk)", logBefore, companionAfter,
         before},
        {"the log written, the new companion not renamed yet",
         logAfter,
         companionAfter,
         {longUrl('2'), longUrl('3'), longUrl('4')}},
    };
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.when);
        writeFile(itemsLog(), moment.log);
        writeFile(CompanionPath(itemsLog()), companionBefore);
        writeFile(NextCompanionPath(itemsLog()), moment.nextCompanion);
        load();
        QStringList urls;
        for (int i = 0; i < catalogue->itemCount(); ++i)
            urls << FieldText(catalogue->item(i).Url);
        EXPECT_EQ(urls, moment.urls);
        EXPECT_TRUE(store->unreadableNotice().isEmpty());
        // The next save completes the pair and keeps the values.
        ASSERT_TRUE(store->SaveItems(*catalogue));
        load();
        EXPECT_EQ(FieldText(catalogue->item(0).Url), moment.urls.first());
        EXPECT_FALSE(QFile::exists(UnreadableCopyPath(CompanionPath(itemsLog()))));
    }
}

TEST_F(StoreTest, ASaveWithNothingTooLongTakesTheCompanionAway)
{
    load();
    ASSERT_GE(catalogue->AddItemFromUrl(QStringLiteral("http://a.com/") + QString(120, u'x'), {}),
              0);
    ASSERT_TRUE(store->SaveItems(*catalogue));
    ASSERT_TRUE(QFile::exists(CompanionPath(itemsLog())));
    catalogue->clearItems();
    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_FALSE(QFile::exists(CompanionPath(itemsLog())));
}

TEST_F(StoreTest, ItemDetailsLiveInTheSideStoreAndFollowTheirItemsByTheSameRule)
{
    load();
    const QString longUrl =
        QStringLiteral("http://a.com/") + QString(150, u'l') + QStringLiteral(".swf");
    for (const QString& url : {QStringLiteral("http://a.com/plain.swf"), longUrl,
                               QStringLiteral("http://a.com/gone.swf")})
        ASSERT_GE(catalogue->AddItemFromUrl(url, {}), 0);
    ItemRecord plain = catalogue->item(0);
    plain.extras = {"aa11", false, 0, {}, {}, {}};
    catalogue->updateItem(0, plain);
    ItemRecord cut = catalogue->item(1);
    cut.extras = {"bb22", true, 7, {}, {}, QStringLiteral("the server answered with status 404")};
    catalogue->updateItem(1, cut);
    ASSERT_TRUE(store->SaveItems(*catalogue));
    const QByteArray logBefore = readFile(itemsLog());
    const QByteArray metaBefore = readFile(SideFilePath(itemsLog(), SideFile::Extras));
    ASSERT_FALSE(metaBefore.isEmpty());

    load();
    EXPECT_EQ(catalogue->item(0).extras, plain.extras);
    EXPECT_EQ(catalogue->item(1).extras, cut.extras);
    EXPECT_EQ(FieldText(catalogue->item(1).Url), longUrl) << "both side files are read";
    EXPECT_TRUE(catalogue->item(2).extras.isEmpty());

    // A side store left from an older log (an older program saved the log alone) gives each
    // item only the details whose record's stored bytes it names, and is kept aside.
    ASSERT_TRUE(catalogue->RemoveItemByUrl(QStringLiteral("http://a.com/plain.swf")));
    ASSERT_TRUE(store->SaveItems(*catalogue));
    writeFile(SideFilePath(itemsLog(), SideFile::Extras), metaBefore);
    load();
    EXPECT_EQ(catalogue->item(0).extras, cut.extras);
    EXPECT_TRUE(catalogue->item(1).extras.isEmpty());
    EXPECT_TRUE(store->unreadableNotice().contains(QStringLiteral("downloading.log.meta")));

    // Nothing left to say: the side store goes.
    catalogue->clearItems();
    ASSERT_TRUE(store->SaveItems(*catalogue));
    EXPECT_FALSE(QFile::exists(SideFilePath(itemsLog(), SideFile::Extras)));
    EXPECT_NE(readFile(itemsLog()), logBefore);
}

// Loaded records stay in the log until they change: look-ups, edits, removals and a save must
// agree with a plain list of the same records, whatever mix of loaded and changed items there is.
// The log is large enough to be read in two halves; its last record repeats one of the first half.
TEST_F(StoreTest, ALoadedCatalogueChangedAtRandomFindsAndSavesWhatAPlainListWould)
{
    constexpr int kLoaded = 3000;
    QByteArray log = logHeaderBytes("clipvault", kLoaded);
    for (int i = 0; i < kLoaded; ++i) {
        const QByteArray url = (i % 7 ? "http://host/" : "  HTTP://HOST/") +
                               QByteArray::number(i == kLoaded - 1 ? 10 : i);
        const char* category = i < kLoaded / 2 ? (i % 2 ? "Game" : "Fun") : (i % 2 ? "Mtv" : "Fun");
        log += itemBytes("DPX"[i % 3], url.constData(), category, "/m/", "f.swf", "");
    }
    ASSERT_TRUE(writeFile(itemsLog(), log));
    prompt.setFallback(true);
    load();
    ASSERT_EQ(prompt.questions.size(), 1u) << "the repeated address asks once";
    ASSERT_EQ(catalogue->itemCount(), kLoaded - 1);
    EXPECT_EQ(FieldText(catalogue->item(kLoaded - 2).Url), QStringLiteral("http://host/10"));
    EXPECT_EQ(catalogue->itemCategory(kLoaded - 4), QByteArrayView("Mtv")) << "record 2997";

    std::vector<ItemRecord> plain;
    for (int i = 0; i < catalogue->itemCount(); ++i)
        plain.push_back(catalogue->item(i));
    std::mt19937 random(20261208);
    auto randomUrl = [&] {
        return QStringLiteral("http://host/%1").arg(random() % (kLoaded + 50));
    };
    auto walk = [&](const QString& url) {
        for (std::size_t i = 0; i < plain.size(); ++i) {
            if (CatalogueKey(FieldBytes(plain[i].Url)) == CatalogueKey(url))
                return static_cast<int>(i);
        }
        return -1;
    };
    for (int step = 0; step < 1500; ++step) {
        const QString url = randomUrl();
        const int at = walk(url);
        switch (random() % 4) {
        case 0: { // a new item, or a repeated one replacing the older
            ItemRecord record = EmptyItemRecord();
            SetFieldText(record.Url, url);
            if (at >= 0)
                plain.erase(plain.begin() + at);
            catalogue->AppendItem(record);
            plain.push_back(record);
            break;
        }
        case 1:
            catalogue->RemoveItemByUrl(url);
            if (at >= 0)
                plain.erase(plain.begin() + at);
            break;
        case 2:
            if (at >= 0) {
                catalogue->SetItemState(at, ItemState::Failed);
                plain[static_cast<std::size_t>(at)].State = 'F';
            }
            break;
        case 3:
            if (at >= 0) {
                ItemRecord record = plain[static_cast<std::size_t>(at)];
                SetFieldText(record.Comment, QStringLiteral("edited %1").arg(step));
                catalogue->updateItem(at, record);
                plain[static_cast<std::size_t>(at)] = record;
            }
            break;
        }
        const QString probe = randomUrl();
        ASSERT_EQ(catalogue->FindItemByUrl(probe), walk(probe)) << "step " << step;
    }
    ASSERT_TRUE(store->SaveItems(*catalogue));
    load();
    ASSERT_EQ(catalogue->itemCount(), static_cast<int>(plain.size()));
    for (std::size_t i = 0; i < plain.size(); ++i)
        ASSERT_EQ(storedBytes(catalogue->item(static_cast<int>(i))), storedBytes(plain[i])) << i;
}

TEST_F(StoreTest, ALogAnotherProgramChangesIsLeftAsItIsAndTheProgramsOwnItemsAreKeptBesideIt)
{
    const QByteArray other = logHeaderBytes("clipvault", 4) +
                             itemBytes('D', "http://b.com/1.swf", "Fun", "/m/", "1.swf", "") +
                             itemBytes('D', "http://b.com/2.swf", "Fun", "/m/", "2.swf", "") +
                             itemBytes('D', "http://b.com/3.swf", "Fun", "/m/", "3.swf", "") +
                             itemBytes('D', "http://b.com/4.swf", "Fun", "/m/", "4.swf", "");
    enum class Change
    {
        CutInPlace,
        CopiedOverInPlace,
        RenamedOverAfterASave
    };
    struct Case
    {
        Change change;
        QStringList kept; ///< the items of the file kept beside the log, "url comment"
    };
    const Case cases[] = {
        {Change::CutInPlace, {"http://a.com/one.swf mine"}},
        {Change::CopiedOverInPlace, {"http://a.com/one.swf mine"}},
        {Change::RenamedOverAfterASave,
         {"http://a.com/one.swf mine", "http://a.com/two.swf ", "http://a.com/three.swf c",
          "http://a/new.swf "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.change));
        for (const QString& name : QDir(folder.path()).entryList(QDir::Files))
            QFile::remove(path(name.toUtf8().constData()));
        ASSERT_TRUE(writeFile(itemsLog(), handMadeItemsLog()));
        load();
        CatalogueSaver saver(*catalogue, *store, 50);
        saver.start();
        QStringList notices;
        QObject::connect(&saver, &CatalogueSaver::keptAside,
                         [&](const QString& notice) { notices << notice; });
        QObject::connect(&saver, &CatalogueSaver::keptAside, catalogue.get(),
                         &Catalogue::dropUnreadableItems);

        QByteArray theirs = other;
        if (c.change == Change::RenamedOverAfterASave) {
            catalogue->AddItemFromUrl(QStringLiteral("http://a/new.swf"), {});
            ASSERT_TRUE(waitUntil([&] { return readFile(itemsLog()).size() == 16 + 4 * 636; }));
            ASSERT_TRUE(writeFile(itemsLog() + ".new", other));
            ASSERT_EQ(std::rename(QFile::encodeName(itemsLog() + ".new").constData(),
                                  QFile::encodeName(itemsLog()).constData()),
                      0);
        } else {
            if (c.change == Change::CutInPlace)
                theirs = handMadeItemsLog().first(16 + 636);
            QFile file(itemsLog());
            ASSERT_TRUE(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
            ASSERT_EQ(file.write(theirs), theirs.size());
            file.close();
            EXPECT_TRUE(FieldText(catalogue->item(1).Url).isEmpty())
                << "no record of the other file is taken for one of ours";
        }
        StoredItemRecord mine{};
        const QByteArray mineBytes =
            itemBytes('D', "http://a.com/one.swf", "Game", "/m/Game/", "one.swf", "mine");
        std::memcpy(&mine, mineBytes.constData(), sizeof mine);
        catalogue->updateItem(0, FromStored(mine));

        ASSERT_TRUE(waitUntil([&] { return !notices.isEmpty(); }));
        const QStringList keptFiles =
            QDir(folder.path()).entryList({QStringLiteral("downloading.log.*.kept")});
        ASSERT_EQ(keptFiles.size(), 1);
        EXPECT_TRUE(notices.first().contains(keptFiles.first())) << notices.first().toStdString();
        EXPECT_EQ(readFile(itemsLog()), theirs) << "the other program's file is left as it is";

        // Later changes go beside the log too, quietly.
        catalogue->AddItemFromUrl(QStringLiteral("http://a/later.swf"), {});
        QStringList expected = c.kept;
        expected << QStringLiteral("http://a/later.swf ");
        QStringList found;
        ASSERT_TRUE(waitUntil([&] {
            QTemporaryDir reader;
            QFile::copy(path(keptFiles.first().toUtf8().constData()),
                        QDir(reader.path()).filePath(QStringLiteral("downloading.log")));
            Catalogue again(prompt, options);
            CatalogueStore(reader.path()).LoadItems(again);
            found.clear();
            for (int i = 0; i < again.itemCount(); ++i)
                found << FieldText(again.item(i).Url) + u' ' + FieldText(again.item(i).Comment);
            return found == expected;
        })) << found.join(u'|').toStdString();
        EXPECT_EQ(catalogue->itemCount(), expected.size());
        EXPECT_EQ(notices.size(), 1);
        EXPECT_EQ(readFile(itemsLog()), theirs);
    }
}

namespace {

/// The process's resident memory in bytes: "VmHWM" its peak since the last reset, "VmRSS" now.
qint64 residentBytes(const char* which)
{
    const QList<QByteArray> lines = readFile(QStringLiteral("/proc/self/status")).split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith(which))
            return line.mid(qstrlen(which) + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

TEST_F(StoreTest, ASaveStreamsTheLogInsteadOfHoldingItWholeInMemory)
{
    // 100 000 items: a log of 64 MB.
    constexpr int kItems = 100000;
    QByteArray log = logHeaderBytes("clipvault", kItems);
    log.reserve(16 + qsizetype(kItems) * 636);
    for (int i = 0; i < kItems; ++i) {
        const QByteArray url = "http://a.com/" + QByteArray::number(i) + ".swf";
        log += itemBytes('D', url.constData(), "Game", "/m/", "x.swf");
    }
    ASSERT_TRUE(writeFile(itemsLog(), log));
    log = {};
    load();
    catalogue->AddItemFromUrl(QStringLiteral("http://a.com/new.swf"), {});

    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    ASSERT_TRUE(reset.open(QIODevice::WriteOnly) && reset.write("5") == 1) << "peak reset";
    reset.close();
    const qint64 before = residentBytes("VmRSS:");
    ASSERT_TRUE(store->SaveItems(*catalogue));
    const qint64 peak = residentBytes("VmHWM:");
    EXPECT_LT(peak - before, qint64(16) << 20) << "the save held " << (peak - before) << " bytes";
    EXPECT_EQ(QFileInfo(itemsLog()).size(), 16 + qint64(kItems + 1) * 636);
}
