#include "optionform.h"

#include "ui_optionform.h"

#include "autostart.h"
#include "platformfactory.h"

#include "datafolder.h"
#include "icons.h"
#include "options.h"
#include "userprompt.h"
#include "vault.h"

#include <QCoreApplication>
#include <QPainter>

namespace {

// Small illustrations beside the display switches: the shortcut bar over a movie, and the
// hanging window in a corner of the desktop.
QPixmap illustration(bool shortcutBar)
{
    QPixmap pixmap(64, 48);
    pixmap.fill(QColor(0xe8, 0xe8, 0xe8));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x60, 0x60, 0x60));
    if (shortcutBar) {
        painter.setBrush(QColor(0x30, 0x50, 0x90));
        painter.drawRect(QRect(6, 6, 52, 36));
        painter.setBrush(QColor(0xf5, 0xf5, 0xf5));
        painter.drawRect(QRect(10, 10, 26, 7));
    } else {
        painter.setBrush(Qt::white);
        painter.drawRect(QRect(2, 2, 60, 44));
        painter.drawPixmap(QRect(44, 6, 14, 14), Icons::application().pixmap(14, 14));
    }
    return pixmap;
}

bool on(std::uint8_t flag)
{
    return flag != 0;
}

std::uint8_t flag(bool on)
{
    return on ? 1 : 0;
}

} // namespace

TOptionForm::TOptionForm(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TOptionForm>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    m_ui->chk_start_minimize->hide();
    m_ui->img_bar->setPixmap(illustration(true));
    m_ui->img_miniwin->setPixmap(illustration(false));
    m_ui->pgcOptions->setCurrentWidget(m_ui->tabDisplay);
    // A Wayland desktop lets no program watch the pointer over other windows: there the bar is
    // the one the browser companion draws in the page.
    if (platform::isWayland())
        m_ui->chk_show_bar->setToolTip(
            QStringLiteral("On this Wayland desktop the bar is drawn in the page by the browser "
                           "companion (Tools > Connect your browser...)"));
    setFixedSize(sizeHint());
}

TOptionForm::~TOptionForm() = default;

void TOptionForm::loadFrom(const OptionsRecord& options, const VaultSettings& settings)
{
    m_ui->chk_keep_files->setChecked(settings.keepFiles);
    m_ui->chk_archive->setChecked(settings.lookInArchive);
    m_ui->chk_start_minimize->setChecked(on(options.StartMinimized));
    m_ui->chk_pause_movie->setChecked(on(options.PauseMovieOnBar));
    m_ui->chk_auto_start->setChecked(on(options.AutoStart));
    m_ui->chk_pop_task_added->setChecked(on(options.NotifyTaskAdded));
    m_ui->chk_pop_task_finished->setChecked(on(options.NotifyTaskFinished));
    m_ui->chk_pop_task_failed->setChecked(on(options.NotifyTaskFailed));
    m_ui->rdo_xp_style->setChecked(on(options.XPStyle));
    m_ui->rdo_xp_style_no->setChecked(!on(options.XPStyle));
    m_ui->chk_show_bar->setChecked(on(options.ShortcutBarEnabled));
    m_ui->chk_show_miniwin->setChecked(on(options.HangingWindowVisible));
}

void TOptionForm::storeInto(OptionsRecord& options, VaultSettings& settings) const
{
    settings.keepFiles = m_ui->chk_keep_files->isChecked();
    settings.lookInArchive = m_ui->chk_archive->isChecked();
    options.StartMinimized = flag(m_ui->chk_start_minimize->isChecked());
    options.PauseMovieOnBar = flag(m_ui->chk_pause_movie->isChecked());
    options.AutoStart = flag(m_ui->chk_auto_start->isChecked());
    options.NotifyTaskAdded = flag(m_ui->chk_pop_task_added->isChecked());
    options.NotifyTaskFinished = flag(m_ui->chk_pop_task_finished->isChecked());
    options.NotifyTaskFailed = flag(m_ui->chk_pop_task_failed->isChecked());
    options.XPStyle = flag(m_ui->rdo_xp_style->isChecked());
    options.ShortcutBarEnabled = flag(m_ui->chk_show_bar->isChecked());
    options.HangingWindowVisible = flag(m_ui->chk_show_miniwin->isChecked());
}

bool EditVaultOptions(Vault& vault, QWidget* parent, Autostart* autostart)
{
    OptionsRecord edited = vault.options();
    if (autostart)
        edited.AutoStart = flag(autostart->isEnabled());
    VaultSettings settings = vault.settings();
    if (!EditOptions(edited, settings, parent))
        return false;
    QString error;
    if (!vault.applyOptions(edited, settings, &error))
        vault.prompt().inform(error, QStringLiteral("Clip Vault"));
    if (autostart)
        autostart->setEnabled(edited.AutoStart != 0, QCoreApplication::applicationFilePath());
    return true;
}

bool EditOptions(OptionsRecord& options, VaultSettings& settings, QWidget* parent)
{
    TOptionForm form(parent);
    form.loadFrom(options, settings);
    if (form.exec() != QDialog::Accepted)
        return false;
    form.storeInto(options, settings);
    return true;
}
