#include "records.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <cstring>

#include <QDir>

namespace {

QByteArray rawBytes(const ItemRecord& record)
{
    const StoredItemRecord stored = ToStored(record);
    return QByteArray(reinterpret_cast<const char*>(&stored), sizeof stored);
}

} // namespace

TEST(Records, ItemFieldsLandAtTheirFileOffsets)
{
    ItemRecord record = EmptyItemRecord();
    record.State = 'D';
    SetFieldText(record.Url, QStringLiteral("http://example.com/a.swf"));
    SetFieldText(record.Category, QStringLiteral("Game"));
    SetFieldText(record.Folder, QStringLiteral("/home/u/clipvault/Game/"));
    SetFieldText(record.FileName, QStringLiteral("a.swf"));
    SetFieldText(record.Comment, QStringLiteral("nice"));
    record.StartNow = 1;

    EXPECT_EQ(rawBytes(record), itemBytes('D', "http://example.com/a.swf", "Game",
                                          "/home/u/clipvault/Game/", "a.swf", "nice", 1));
}

TEST(Records, CategoryFieldsLandAtTheirFileOffsets)
{
    CategoryRecord record = CategoryNamed(QStringLiteral("Fun"));
    record.Tag = 7;
    SetFieldText(record.Folder, QStringLiteral("/srv/fun/"));
    const StoredCategoryRecord stored = ToStored(record);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&stored), sizeof stored),
              categoryBytes("Fun", "/srv/fun/", 7));
}

TEST(Records, FieldsStoreACutOnACharacterBoundaryAndKeepTheWholeValue)
{
    const auto storedText = [](const auto& field) {
        return QString::fromUtf8(fieldtext::bytes(field.stored, sizeof field.stored));
    };
    ItemRecord record = EmptyItemRecord();
    const QString url100 = QStringLiteral("http://") + QString(93, u'x');
    ASSERT_EQ(url100.size(), 100);
    SetFieldText(record.Url, url100);
    EXPECT_EQ(FieldText(record.Url), url100);
    EXPECT_FALSE(record.Url.isCut());
    EXPECT_EQ(record.Url.stored[100], '\0');
    EXPECT_EQ(record.Category.stored[0], '\0') << "the next field must stay untouched";

    SetFieldText(record.Url, url100 + QStringLiteral("yz"));
    EXPECT_EQ(storedText(record.Url), url100);
    EXPECT_EQ(FieldText(record.Url), url100 + QStringLiteral("yz"));
    SetFieldText(record.Url, QStringLiteral("http://short/"));
    EXPECT_FALSE(record.Url.isCut()) << "a shorter value leaves no whole value behind";
    EXPECT_EQ(FieldText(record.Url), QStringLiteral("http://short/"));

    // 29 ASCII letters then "é" (2 bytes) then more: 31 bytes do not fit in 30, and the cut
    // must not leave half of the "é" behind.
    const QString category = QString(29, u'a') + QStringLiteral("éé");
    SetFieldText(record.Category, category);
    EXPECT_EQ(storedText(record.Category), QString(29, u'a'));
    EXPECT_EQ(FieldText(record.Category), category);
    SetFieldText(record.Category, QString(28, u'a') + QStringLiteral("é€"));
    EXPECT_EQ(storedText(record.Category), QString(28, u'a') + QStringLiteral("é"));
}

TEST(Records, AWholeValueIsRestoredOnlyOverItsOwnCut)
{
    const QByteArray whole = "http://example.com/" + QByteArray(200, 'm') + ".swf";
    ItemRecord record = EmptyItemRecord();
    SetFieldBytes(record.Url, whole);
    ItemRecord readBack = FromStored(ToStored(record));
    EXPECT_FALSE(readBack.Url.isCut()) << "the stored bytes alone hold the cut";
    EXPECT_FALSE(
        RestoreWholeValue(readBack.Url, QByteArray("http://example.com/" + QByteArray(200, 'x'))))
        << "another value with another beginning";
    EXPECT_FALSE(RestoreWholeValue(readBack.Url, "http://example.com/")) << "a value that fits";
    EXPECT_TRUE(RestoreWholeValue(readBack.Url, whole));
    EXPECT_EQ(FieldBytes(readBack.Url), whole);
}

TEST(Records, ReadersStopAtTheFirstZeroOrAtTheFieldWidth)
{
    ItemRecord record = EmptyItemRecord();
    SetFieldText(record.FileName, QStringLiteral("a-long-name.swf"));
    SetFieldText(record.FileName, QStringLiteral("b.swf"));
    EXPECT_EQ(FieldText(record.FileName), QStringLiteral("b.swf"));
    // A shorter value leaves the older bytes behind its terminator, as stored logs have them.
    EXPECT_EQ(std::memcmp(record.FileName.stored + 6, "-name.swf", 9), 0);

    // A field without terminator (a foreign writer) is read to its width, never beyond.
    CategoryRecord category = EmptyCategoryRecord();
    std::memset(category.Name.stored, 'n', sizeof category.Name.stored);
    category.Folder.stored[0] = 'X';
    EXPECT_EQ(FieldText(category.Name), QString(31, u'n'));
}

TEST(Records, ItemFilePathIsAFullFileNameOrFolderPlusName)
{
    ItemRecord record = EmptyItemRecord();
    SetFieldText(record.Folder, QStringLiteral("/home/u/clipvault/Game/"));
    SetFieldText(record.FileName, QStringLiteral("a.swf"));
    EXPECT_EQ(ItemFilePath(record), QStringLiteral("/home/u/clipvault/Game/a.swf"));
    SetFieldText(record.FileName, QStringLiteral("/movies/a.swf"));
    EXPECT_EQ(ItemFilePath(record), QStringLiteral("/movies/a.swf"));
}

TEST(Records, CatalogueKeysIgnoreSurroundingBlanksAndLetterCase)
{
    EXPECT_EQ(CatalogueKey(QStringLiteral("  HTTP://Example.com/A.swf \t")),
              QByteArray("http://example.com/a.swf"));
    EXPECT_EQ(CatalogueKey(QStringLiteral(" ÄRGER ")), CatalogueKey(QStringLiteral("ärger")));
    EXPECT_NE(CatalogueKey(QStringLiteral("a b")), CatalogueKey(QStringLiteral("ab")));
    EXPECT_TRUE(IsBuiltInCategory("  DELETED "));
    EXPECT_TRUE(IsBuiltInCategory("downloading "));
    EXPECT_FALSE(IsBuiltInCategory("Downloads"));
}

TEST(Records, DefaultSaveFolderIsBelowHomeAndEndsWithSlash)
{
    EXPECT_TRUE(DefaultSaveFolder().endsWith(QStringLiteral("/clipvault/")));
    EXPECT_TRUE(DefaultSaveFolder().startsWith(QDir::homePath()));
}
