#pragma once

#include "fieldtext.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include <QByteArray>
#include <QString>
#include <QStringList>

// The two record kinds, as the logs store them and as the catalogue holds them in memory.
//
// The stored records are the exact bytes of the log files: fixed-width fields, each value cut to
// its field on a character boundary. Other readers and older copies of the program rely on that
// layout, so it stays as it is. In memory a text field also keeps the whole value when it did not
// fit; the logs' companion files keep those whole values on disk.

/// Item states, one ASCII letter in ItemRecord::State.
enum class ItemState : char
{
    New = 'N',        ///< a download was asked for; its outcome is not known yet
    Pending = 'P',    ///< waits for the Download command
    Downloaded = 'D', ///< filed in its category
    Failed = 'F',     ///< the last download reported an error
    Deleted = 'X',    ///< in the Deleted view, still catalogued
};

/// One catalogued movie as the items log stores it, 636 bytes.
struct StoredItemRecord
{
    std::uint8_t reserved0[4];
    char State;
    std::uint8_t reserved1[31];
    char Url[101];
    char Category[31];
    char Folder[101];
    char FileName[61]; ///< a bare name inside Folder, or a full path beginning with "/"
    std::uint8_t reserved2;
    char Comment[301];
    std::uint8_t StartNow; ///< 1 = start the download immediately, 0 = manually
    std::uint8_t reserved3[3];
};

/// One category as the category log stores it, 144 bytes.
struct StoredCategoryRecord
{
    std::int32_t Tag; ///< copied into the category's tree node as its data
    std::uint8_t reserved[8];
    char Name[31];
    char Folder[101]; ///< ends in "/" once stored
};

static_assert(std::is_standard_layout_v<StoredItemRecord>);
static_assert(std::is_trivially_copyable_v<StoredItemRecord>);
static_assert(sizeof(StoredItemRecord) == 636);
static_assert(offsetof(StoredItemRecord, State) == 4);
static_assert(offsetof(StoredItemRecord, Url) == 36);
static_assert(offsetof(StoredItemRecord, Category) == 137);
static_assert(offsetof(StoredItemRecord, Folder) == 168);
static_assert(offsetof(StoredItemRecord, FileName) == 269);
static_assert(offsetof(StoredItemRecord, reserved2) == 330);
static_assert(offsetof(StoredItemRecord, Comment) == 331);
static_assert(offsetof(StoredItemRecord, StartNow) == 632);

static_assert(std::is_standard_layout_v<StoredCategoryRecord>);
static_assert(std::is_trivially_copyable_v<StoredCategoryRecord>);
static_assert(sizeof(StoredCategoryRecord) == 144);
static_assert(offsetof(StoredCategoryRecord, Tag) == 0);
static_assert(offsetof(StoredCategoryRecord, Name) == 12);
static_assert(offsetof(StoredCategoryRecord, Folder) == 43);

/// What the program knows of an item beyond the log's fields; the side store beside the items
/// log keeps it. Default values are not stored.
struct ItemExtras
{
    QByteArray sha256; ///< hex SHA-256 of the movie file as downloaded; empty until known
    /// Whether the files the movie loads are kept with it; unset: as the options say.
    std::optional<bool> keepFiles;
    int keptFiles = 0;    ///< how many files are kept beside the movie
    QString archivedFrom; ///< the web archive's capture the file came from; empty: its site
    QString archivedAt;   ///< that capture's timestamp, YYYYMMDDhhmmss
    QString failure;      ///< why the last download failed; empty once one succeeded

    bool isEmpty() const
    {
        return sha256.isEmpty() && !keepFiles && keptFiles == 0 && archivedFrom.isEmpty() &&
               failure.isEmpty();
    }
    bool operator==(const ItemExtras&) const = default;
};

/// One catalogued movie in memory. Its stored bytes are kept as they were read, so that a save
/// writes back what it did not change.
struct ItemRecord
{
    std::uint8_t reserved0[4] = {};
    char State = 0;
    std::uint8_t reserved1[31] = {};
    TextField<101> Url;
    TextField<31> Category;
    TextField<101> Folder;
    TextField<61> FileName; ///< a bare name inside Folder, or a full path beginning with "/"
    std::uint8_t reserved2 = 0;
    TextField<301> Comment;
    std::uint8_t StartNow = 0; ///< 1 = start the download immediately, 0 = manually
    std::uint8_t reserved3[3] = {};
    ItemExtras extras; ///< not part of the stored bytes

    ItemState state() const { return static_cast<ItemState>(State); }
};

/// One category in memory.
struct CategoryRecord
{
    std::int32_t Tag = 0; ///< copied into the category's tree node as its data
    std::uint8_t reserved[8] = {};
    TextField<31> Name;
    TextField<101> Folder; ///< ends in "/" once stored
};

/// The record as its log stores it, and back: the whole values are not part of the stored bytes.
StoredItemRecord ToStored(const ItemRecord& record);
ItemRecord FromStored(const StoredItemRecord& stored);
StoredCategoryRecord ToStored(const CategoryRecord& record);
CategoryRecord FromStored(const StoredCategoryRecord& stored);

/// A zero-filled record, the start of every new item.
ItemRecord EmptyItemRecord();
CategoryRecord EmptyCategoryRecord();
/// A zero-filled category record with only its name set.
CategoryRecord CategoryNamed(const QString& name);

/// The item's local file: FileName when it is a full path, else Folder followed by FileName.
QString ItemFilePath(const ItemRecord& item);
/// The name and the folder the user is shown for the item's file: an item imported in place
/// stores its file's full path as FileName, and its category's folder, where the file is not.
QString ItemShownFileName(const ItemRecord& item);
QString ItemShownFolder(const ItemRecord& item);
/// "Download failed: <reason>" for an item whose download failed ("Download failed" when its
/// reason was not kept); empty for any other.
QString DownloadFailureText(const ItemRecord& item);

/// The folder movies are saved below unless a category says otherwise: "$HOME/clipvault/".
QString DefaultSaveFolder();

namespace builtin {
inline constexpr char Downloading[] = "Downloading";
inline constexpr char Downloaded[] = "Downloaded";
inline constexpr char Deleted[] = "Deleted";
} // namespace builtin

/// The built-in categories in the order they are added at start-up.
QStringList BuiltInCategoryNames();
/// The user categories of a first run, in order.
QStringList FirstRunCategoryNames();

/// The text without the blanks around it: every byte up to and including the space, as the
/// catalogue has always trimmed. Such bytes never occur inside a multi-byte UTF-8 character.
QByteArrayView TrimmedBlanks(QByteArrayView text);

/// Catalogue key of a name or URL: surrounding blanks trimmed and letter case folded, as UTF-8.
/// Items are matched by the key of their Url and categories by the key of their Name.
QByteArray CatalogueKey(QByteArrayView text);
QByteArray CatalogueKey(const QString& text);

/// Whether a category name (any case, surrounding blanks) is one of the built-in categories.
bool IsBuiltInCategory(QByteArrayView name);
