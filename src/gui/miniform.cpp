#include "miniform.h"

#include "ui_miniform.h"

#include "icons.h"
#include "windowdrag.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace {

/// The window's picture: the program's icon on black.
QPixmap hangingPicture()
{
    QPixmap picture(TMiniForm::kSide, TMiniForm::kSide);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    const int inset = 4;
    painter.drawPixmap(
        inset, inset,
        Icons::application().pixmap(TMiniForm::kSide - 2 * inset, TMiniForm::kSide - 2 * inset));
    return picture;
}

} // namespace

TMiniForm::TMiniForm(QMenu* trayMenu, std::function<void()> showMainWindow, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_ui(std::make_unique<Ui::TMiniForm>())
    , m_trayMenu(trayMenu)
    , m_showMainWindow(std::move(showMainWindow))
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setStyleSheet(QStringLiteral("#TMiniForm, #Panel1 { background: black; }"));
    setWindowOpacity(kOpacity);
    m_ui->Image1->setPixmap(hangingPicture());
    move(kStartPosition);
    // The picture fills the window: a drag can start anywhere on it.
    new WindowDrag(this, {this, m_ui->Panel1, m_ui->Image1});
}

TMiniForm::~TMiniForm() = default;

void TMiniForm::FormCreate(bool shown)
{
    const int side = shown ? kSide : 0;
    setFixedSize(side, side);
}

void TMiniForm::applyOption(bool shown)
{
    setFixedSize(kSide, kSide);
    setVisible(shown);
}

void TMiniForm::showWithMainWindow()
{
    // Created with the option off, the window has no area: shown, nothing could be seen of it
    // (and X11 has no windows of no area).
    if (!size().isEmpty())
        show();
}

void TMiniForm::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        m_trayMenu->popup(event->globalPosition().toPoint());
}

void TMiniForm::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_showMainWindow();
}
