#include "addtaskfromurl.h"
#include "categorymanage.h"

#include "catalogue.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

class DialogTest : public ::testing::Test
{
protected:
    DialogTest()
    {
        for (const char* name : {"Mtv", "Game", "Fun", "Downloading", "Downloaded", "Deleted"})
            catalogue.AddCategory(CategoryNamed(QString::fromLatin1(name)));
    }
    template <typename T>
    static T* control(QWidget& dialog, const char* name)
    {
        T* widget = dialog.findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QStringList entries(QComboBox* combo)
    {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
        return texts;
    }

    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue{prompt, options};
    ScriptedDialogs dialogs;
    QTemporaryDir folder;
};

} // namespace

TEST_F(DialogTest, ANewTaskTakesItsFileNameFromTheUrl)
{
    TAddTaskfromUrl dialog(catalogue);
    ItemRecord record = EmptyItemRecord();
    dialog.loadFrom(record);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add a Flash item with its URL"));
    EXPECT_EQ(entries(control<QComboBox>(dialog, "cmbCategory")),
              (QStringList{"Downloaded", "Mtv", "Game", "Fun"}));
    EXPECT_EQ(control<QComboBox>(dialog, "cmbSavePath")->currentText(), DefaultSaveFolder());
    EXPECT_FALSE(control<QComboBox>(dialog, "cmbSavePath")->isEnabled());
    EXPECT_FALSE(control<QLabel>(dialog, "img_new")->isHidden());
    EXPECT_TRUE(control<QLabel>(dialog, "img_property")->isHidden());

    auto* url = control<QLineEdit>(dialog, "edtUrl");
    auto* fileName = control<QLineEdit>(dialog, "edtSaveFileName");
    auto* ok = control<QPushButton>(dialog, "btnOk");
    EXPECT_FALSE(ok->isEnabled());
    url->setText(QStringLiteral("http://a.com/m/movie.swf"));
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(fileName->text(), QStringLiteral("movie.swf"));
    url->setText(QStringLiteral("http://a.com/m/MOVIE.SWF"));
    EXPECT_FALSE(ok->isEnabled()) << "only a lower-case swf counts";
    EXPECT_TRUE(fileName->text().isEmpty());
    url->setText(QStringLiteral("http://a.com/play.swf?id=3"));
    EXPECT_EQ(fileName->text(), QStringLiteral("play.swf?id=3"));

    auto* category = control<QComboBox>(dialog, "cmbCategory");
    category->setCurrentIndex(2);
    emit category->activated(2);
    EXPECT_EQ(control<QComboBox>(dialog, "cmbSavePath")->currentText(),
              DefaultSaveFolder() + QStringLiteral("Game/"));
    control<QRadioButton>(dialog, "rdo_manually")->setChecked(true);
    control<QPlainTextEdit>(dialog, "txtcomment")->setPlainText(QString(400, u'c'));

    dialog.storeInto(record);
    EXPECT_EQ(FieldText(record.Url), QStringLiteral("http://a.com/play.swf?id=3"));
    EXPECT_EQ(FieldText(record.FileName), QStringLiteral("play.swf?id=3"));
    EXPECT_EQ(FieldText(record.Category), QStringLiteral("Game"));
    EXPECT_EQ(FieldText(record.Folder), DefaultSaveFolder() + QStringLiteral("Game/"));
    EXPECT_EQ(FieldText(record.Comment), QString(400, u'c')) << "kept whole, never cut";
    EXPECT_TRUE(record.Comment.isCut()) << "the log's field holds what fits";
    EXPECT_EQ(record.StartNow, 0);
    EXPECT_EQ(record.State, 0) << "the dialog never sets the state";
}

TEST_F(DialogTest, PropertiesOfADownloadedItemLockUrlAndStartMode)
{
    ItemRecord record = EmptyItemRecord();
    record.State = 'D';
    record.StartNow = 1;
    SetFieldText(record.Url, QStringLiteral("http://a.com/x/tune.swf"));
    SetFieldText(record.FileName, QStringLiteral("/somewhere/renamed.swf"));
    SetFieldText(record.Category, QStringLiteral("gAmE"));
    SetFieldText(record.Comment, QStringLiteral("old comment"));
    SetFieldText(record.Folder, QStringLiteral("/old/"));

    TAddTaskfromUrl dialog(catalogue);
    dialog.loadFrom(record);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Properties"));
    EXPECT_TRUE(control<QLineEdit>(dialog, "edtUrl")->isReadOnly());
    EXPECT_FALSE(control<QGroupBox>(dialog, "rdo_start_immediate")->isEnabled());
    EXPECT_TRUE(control<QRadioButton>(dialog, "rdo_immediately")->isChecked());
    EXPECT_EQ(control<QComboBox>(dialog, "cmbCategory")->currentText(), QStringLiteral("Game"));
    EXPECT_EQ(control<QLineEdit>(dialog, "edtSaveFileName")->text(), QStringLiteral("tune.swf"))
        << "the file name is derived from the URL again";
    EXPECT_EQ(control<QPlainTextEdit>(dialog, "txtcomment")->toPlainText(),
              QStringLiteral("old comment"));
    EXPECT_TRUE(control<QPushButton>(dialog, "btnOk")->isEnabled());
    EXPECT_TRUE(control<QLabel>(dialog, "lblFailure")->isHidden()) << "nothing failed";

    // A failed download's reason is shown, kept with the item.
    ItemRecord failed = record;
    failed.State = 'F';
    failed.extras.failure = QStringLiteral("the server answered with status 404");
    TAddTaskfromUrl failedDialog(catalogue);
    failedDialog.loadFrom(failed);
    EXPECT_FALSE(control<QLabel>(failedDialog, "lblFailure")->isHidden());
    EXPECT_TRUE(control<QLabel>(failedDialog, "lblFailure")
                    ->text()
                    .endsWith(QStringLiteral("the server answered with status 404")));

    dialog.storeInto(record);
    EXPECT_EQ(record.State, 'D');
    EXPECT_EQ(FieldText(record.Folder), DefaultSaveFolder() + QStringLiteral("Game/"));
}

TEST_F(DialogTest, AnItemOfAVanishedCategoryOpensWithNoneSelected)
{
    ItemRecord record = EmptyItemRecord();
    record.State = 'P';
    SetFieldText(record.Url, QStringLiteral("http://a.com/page"));
    SetFieldText(record.Category, QStringLiteral("Gone"));
    TAddTaskfromUrl dialog(catalogue);
    dialog.loadFrom(record);
    EXPECT_EQ(control<QComboBox>(dialog, "cmbCategory")->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(dialog, "cmbSavePath")->currentText(), DefaultSaveFolder());
    EXPECT_FALSE(control<QPushButton>(dialog, "btnOk")->isEnabled()) << "no swf in the URL";
    EXPECT_TRUE(control<QRadioButton>(dialog, "rdo_manually")->isChecked());
    dialog.storeInto(record);
    EXPECT_EQ(FieldText(record.Category), QString());
}

TEST_F(DialogTest, CategoryNamesProposeTheirFolders)
{
    TCategoryManage dialog(catalogue, dialogs);
    CategoryRecord record = EmptyCategoryRecord();
    record.Tag = 42;
    dialog.loadFrom(record);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Search for ..."));
    auto* name = control<QLineEdit>(dialog, "edtcatname");
    auto* path = control<QLineEdit>(dialog, "edtcatpath");
    auto* ok = control<QPushButton>(dialog, "btnOk");
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_TRUE(name->text().isEmpty() && path->text().isEmpty());

    name->setText(QStringLiteral("fUN"));
    EXPECT_EQ(path->text(), DefaultSaveFolder() + QStringLiteral("Fun/"));
    EXPECT_TRUE(ok->isEnabled());

    dialogs.folder = QDir(folder.path()).filePath(QStringLiteral("picked"));
    control<QToolButton>(dialog, "BitBtn1")->click();
    EXPECT_EQ(dialogs.folderPrompts, QStringList{"Select a directory for this Category"});
    EXPECT_EQ(path->text(), QDir(folder.path()).filePath(QStringLiteral("picked")));
    name->setText(QStringLiteral("Games"));
    EXPECT_EQ(path->text(), DefaultSaveFolder() + QStringLiteral("Games"))
        << "typing replaces a picked folder";

    const QString target = QDir(folder.path()).filePath(QStringLiteral("new/Games"));
    path->setText(target);
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(QFileInfo(target).isDir());
    dialog.storeInto(record);
    EXPECT_EQ(FieldText(record.Name), QStringLiteral("Games"));
    EXPECT_EQ(FieldText(record.Folder), target + u'/');
    EXPECT_EQ(record.Tag, 42);
}

TEST_F(DialogTest, AnEmptyFolderOrNameKeepsTheCategoryDialogOpen)
{
    TCategoryManage dialog(catalogue, dialogs);
    CategoryRecord record = EmptyCategoryRecord();
    dialog.loadFrom(record);
    auto* name = control<QLineEdit>(dialog, "edtcatname");
    auto* ok = control<QPushButton>(dialog, "btnOk");
    name->setText(QStringLiteral("x"));
    control<QLineEdit>(dialog, "edtcatpath")->clear();
    dialog.show();
    ok->click();
    EXPECT_TRUE(dialog.isVisible());

    name->setText(QStringLiteral("   "));
    EXPECT_FALSE(ok->isEnabled()) << "blanks are no name";
    control<QLineEdit>(dialog, "edtcatpath")->setText(folder.path());
    ok->setEnabled(true); // even when forced, the dialog refuses
    ok->click();
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(DialogTest, ALongCategoryNameMakesTheFolderItIsFiledUnder)
{
    const QString longName = QString(200, u'n');
    TCategoryManage dialog(catalogue, dialogs);
    CategoryRecord record = EmptyCategoryRecord();
    dialog.loadFrom(record);
    control<QLineEdit>(dialog, "edtcatname")->setText(longName);
    const QString shown = QDir(folder.path()).filePath(longName);
    control<QLineEdit>(dialog, "edtcatpath")->setText(shown);
    control<QPushButton>(dialog, "btnOk")->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    dialog.storeInto(record);
    ASSERT_TRUE(catalogue.AddCategory(record));
    const int item = catalogue.AddItemFromUrl(QStringLiteral("http://a.com/x.swf"), longName);
    ASSERT_GE(item, 0);
    EXPECT_EQ(FieldText(catalogue.item(item).Category), longName);
    EXPECT_EQ(ItemFilePath(catalogue.item(item)), shown + QStringLiteral("/x.swf"))
        << "the file lands in the folder the dialog showed";
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{longName})
        << "one folder, under the whole name";
}

TEST_F(DialogTest, CategoryPropertiesShowTheStoredNameAndFolder)
{
    CategoryRecord record = catalogue.category(catalogue.FindCategory(QStringLiteral("Game")));
    SetFieldText(record.Folder, QStringLiteral("/media/games/"));
    TCategoryManage dialog(catalogue, dialogs);
    dialog.loadFrom(record);
    EXPECT_EQ(control<QLineEdit>(dialog, "edtcatname")->text(), QStringLiteral("Game"));
    EXPECT_EQ(control<QLineEdit>(dialog, "edtcatpath")->text(), QStringLiteral("/media/games/"));
    dialog.storeInto(record);
    EXPECT_EQ(FieldText(record.Folder), QStringLiteral("/media/games/"))
        << "a trailing / is kept as it is";
}
