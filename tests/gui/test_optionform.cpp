#include "mainwindowfixture.h"
#include "modaldialog.h"

#include "mainactions.h"
#include "datafolder.h"
#include "optionform.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <functional>

namespace {

/// Runs `act` on the options dialog once it is up, then presses OK or Cancel.
void whenDialogOpens(std::function<void(QDialog&)> act, QDialogButtonBox::StandardButton press)
{
    onNextModal([act = std::move(act), press](QDialog& dialog) {
        act(dialog);
        dialog.findChild<QDialogButtonBox*>()->button(press)->click();
    });
}

template <typename T>
T* control(QDialog& dialog, const char* name)
{
    T* widget = dialog.findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QByteArray bytesOf(const OptionsRecord& options)
{
    return QByteArray(reinterpret_cast<const char*>(&options), sizeof options);
}

} // namespace

TEST(OptionForm, OpensOnDisplayAndShowsEveryFlag)
{
    OptionsRecord options = DefaultOptions();
    options.XPStyle = 0;
    options.NotifyTaskFailed = 1;
    whenDialogOpens(
        [](QDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Clip Vault Options"));
            auto* tabs = control<QTabWidget>(dialog, "pgcOptions");
            QStringList titles;
            for (int i = 0; i < tabs->count(); ++i)
                titles << tabs->tabText(i);
            EXPECT_EQ(titles, (QStringList{"General", "Event", "Style", "Display"}));
            EXPECT_EQ(tabs->currentIndex(), 3);
            EXPECT_TRUE(control<QRadioButton>(dialog, "rdo_xp_style_no")->isChecked());
            EXPECT_FALSE(control<QRadioButton>(dialog, "rdo_xp_style")->isChecked());
            EXPECT_TRUE(control<QCheckBox>(dialog, "chk_pop_task_failed")->isChecked());
            EXPECT_FALSE(control<QCheckBox>(dialog, "chk_pop_task_added")->isChecked());
            EXPECT_TRUE(control<QCheckBox>(dialog, "chk_show_bar")->isChecked());
            EXPECT_TRUE(control<QCheckBox>(dialog, "chk_start_minimize")->isHidden());
            EXPECT_EQ(control<QCheckBox>(dialog, "chk_pause_movie")->text(),
                      QStringLiteral("Pause movie in webpage when shutcutbar appears"));
        },
        QDialogButtonBox::Cancel);
    VaultSettings settings;
    EXPECT_FALSE(EditOptions(options, settings));
}

TEST(OptionForm, CancelChangesNothingAndOkLeavesTheFirstAndLastByteAlone)
{
    OptionsRecord options = DefaultOptions();
    options.reserved = 9;
    options.StartMinimized = 1;
    options.PreviewEnabled = 0;
    const OptionsRecord before = options;

    auto flipEverything = [](QDialog& dialog) {
        for (const char* name : {"chk_pause_movie", "chk_auto_start", "chk_pop_task_added",
                                 "chk_pop_task_finished", "chk_pop_task_failed", "chk_show_bar",
                                 "chk_show_miniwin", "chk_keep_files", "chk_archive"})
            control<QCheckBox>(dialog, name)->click();
        control<QRadioButton>(dialog, "rdo_xp_style_no")->click();
    };
    VaultSettings settings;
    whenDialogOpens(flipEverything, QDialogButtonBox::Cancel);
    EXPECT_FALSE(EditOptions(options, settings));
    EXPECT_EQ(bytesOf(options), bytesOf(before));
    EXPECT_TRUE(settings.keepFiles);

    whenDialogOpens(flipEverything, QDialogButtonBox::Ok);
    EXPECT_TRUE(EditOptions(options, settings));
    EXPECT_FALSE(settings.keepFiles) << "the clipvault.conf options are edited with the others";
    EXPECT_FALSE(settings.lookInArchive);
    EXPECT_EQ(bytesOf(options), QByteArray("\x09\x01\x00\x00\x01\x01\x01\x00\x00\x00\x00", 11))
        << "the hidden start-minimized flag is carried through unchanged";
}

TEST_F(MainWindowTest, OptionsCommandAppliesAutostartAndSavesTheOptions)
{
    start();
    ASSERT_EQ(app->options().AutoStart, 1) << "the first run's byte, with no entry written yet";
    // The box shows the entry, not the byte: unticked until the user ticks it.
    whenDialogOpens(
        [](QDialog& dialog) {
            EXPECT_FALSE(control<QCheckBox>(dialog, "chk_auto_start")->isChecked());
            control<QCheckBox>(dialog, "chk_pop_task_added")->click();
            control<QCheckBox>(dialog, "chk_auto_start")->click();
        },
        QDialogButtonBox::Ok);
    window->actions().action(MainActions::SetOptions)->trigger();
    EXPECT_EQ(app->options().NotifyTaskAdded, 1);
    EXPECT_EQ(autostart.calls(), 1);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(autostart.program(), QCoreApplication::applicationFilePath());
    EXPECT_EQ(readFile(path("clipvault.opt")), bytesOf(app->options()));

    whenDialogOpens([](QDialog& dialog) { control<QCheckBox>(dialog, "chk_auto_start")->click(); },
                    QDialogButtonBox::Ok);
    window->actions().action(MainActions::SetOptions)->trigger();
    EXPECT_FALSE(autostart.isEnabled());

    whenDialogOpens([](QDialog&) {}, QDialogButtonBox::Cancel);
    window->actions().action(MainActions::SetOptions)->trigger();
    EXPECT_EQ(autostart.calls(), 2) << "a cancelled dialog applies nothing";
}
