#include "flashpreview.h"

#include "ui_flashpreview.h"

#include "filedialogs.h"
#include "flashplayer.h"
#include "playerreserve.h"

#include <QKeyEvent>

TFlashPreview::TFlashPreview(MovieServer& server, FileDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TFlashPreview>())
    , m_player(new FlashPlayer(server, this))
    , m_dialogs(dialogs)
{
    m_ui->setupUi(this);
    m_ui->playerHost->layout()->addWidget(m_player);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    connect(m_ui->but_go, &QToolButton::clicked, this, &TFlashPreview::but_goClick);
    connect(m_ui->btn_browse, &QToolButton::clicked, this, &TFlashPreview::btn_browseClick);
    m_ui->edt_filename->installEventFilter(this);
    m_player->start();
}

TFlashPreview::~TFlashPreview() = default;

void TFlashPreview::PlayMovie(const QString& path)
{
    m_player->Stop();
    m_player->setMovie(path);
    m_ui->edt_filename->setText(path);
    m_player->Play();
}

void TFlashPreview::focusPath()
{
    m_ui->edt_filename->setFocus(Qt::OtherFocusReason);
    m_ui->edt_filename->selectAll();
}

void TFlashPreview::but_goClick()
{
    const QString text = m_ui->edt_filename->text();
    if (text.endsWith(QStringLiteral(".swf")))
        PlayMovie(text);
}

void TFlashPreview::btn_browseClick()
{
    const QString file = m_dialogs.chooseMovie(this);
    if (!file.isEmpty())
        PlayMovie(file);
}

bool TFlashPreview::eventFilter(QObject* watched, QEvent* event)
{
    // edt_filenameKeyUp: releasing Enter in the name does what "Go !" does.
    if (watched == m_ui->edt_filename && event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            but_goClick();
    }
    return QDialog::eventFilter(watched, event);
}

void TFlashPreview::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // "Go !" keeps the edit's height; the layout keeps it 14 pixels to the right of the edit.
    m_ui->but_go->setFixedHeight(m_ui->edt_filename->sizeHint().height());
}

TFlashPreview* OpenFlashPreview(const QString& path, MovieServer& server, FileDialogs& dialogs,
                                PlayerReserve* reserve)
{
    auto* preview = reserve ? reserve->take() : new TFlashPreview(server, dialogs);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->setWindowState(Qt::WindowMaximized);
    preview->PlayMovie(path);
    preview->show();
    preview->raise();
    preview->activateWindow();
    preview->focusPath();
    return preview;
}

void ShowFlashPreview(const QString& path, MovieServer& server, FileDialogs& dialogs,
                      QWidget* parent)
{
    TFlashPreview preview(server, dialogs, parent);
    preview.setWindowState(Qt::WindowMaximized);
    preview.PlayMovie(path);
    preview.exec();
}
