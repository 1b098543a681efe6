#include "messageboxprompt.h"

#include "windowfocus.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTimer>

namespace {

/// Room the window manager takes beside the title for its buttons and frame.
constexpr int kTitleDecoration = 120;

/// A box wide enough for its caption: window managers cut a title that is wider than its
/// window ("Dete…page"), and a message box is only as wide as its text.
QMessageBox* makeBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                     QMessageBox::StandardButtons buttons, QWidget* owner)
{
    auto* box = new QMessageBox(icon, caption, text, buttons, owner);
    const int titleWidth = box->fontMetrics().horizontalAdvance(caption) + kTitleDecoration;
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    return box;
}

/// How long a box alone is given to become the active window before it asks for attention.
constexpr int kActivationMs = 400;

/// A box of no window of ours comes up over the other program's window; where the desktop
/// refuses to put it in front (focus-stealing prevention), it asks for attention instead.
void bringForward(QMessageBox* box)
{
    if (box->parentWidget())
        return;
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    QTimer::singleShot(0, box, [box] {
        box->raise();
        box->activateWindow();
        QTimer::singleShot(kActivationMs, box, [box] {
            if (!box->isActiveWindow())
                QApplication::alert(box);
        });
    });
}

/// Shows a box and waits for its answer, with an ordinary arrow: start-up asks before the
/// cursor is back to normal.
QMessageBox::StandardButton runBox(QMessageBox* box)
{
    bringForward(box);
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box->exec();
    QApplication::restoreOverrideCursor();
    const auto answer = box->standardButton(box->clickedButton());
    delete box;
    return answer;
}

} // namespace

MessageBoxPrompt::MessageBoxPrompt(QWidget* owner)
    : m_owner(owner)
{
}

quint32 MessageBoxPrompt::foreignFocus() const
{
    return m_focus ? m_focus->foreignActiveWindow() : 0;
}

void MessageBoxPrompt::giveFocusBack(quint32 window) const
{
    // Only when the keyboard is still ours: a window the user chose meanwhile keeps it.
    if (window != 0 && m_focus && m_focus->foreignActiveWindow() == 0)
        m_focus->activate(window);
}

QWidget* MessageBoxPrompt::ownerFor(quint32 foreignWindow) const
{
    return foreignWindow != 0 ? nullptr : m_owner;
}

bool MessageBoxPrompt::ask(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    const auto answer = runBox(makeBox(QMessageBox::Question, caption, text,
                                       QMessageBox::Yes | QMessageBox::No, ownerFor(hadFocus)));
    giveFocusBack(hadFocus);
    return answer == QMessageBox::Yes;
}

void MessageBoxPrompt::notify(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    QWidget* owner = ownerFor(hadFocus);
    QMessageBox* box = makeBox(QMessageBox::Information, caption, text, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(owner ? Qt::WindowModal : Qt::NonModal);
    bringForward(box);
    QObject::connect(box, &QMessageBox::finished, box,
                     [this, hadFocus] { giveFocusBack(hadFocus); });
    box->show();
}

void MessageBoxPrompt::inform(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    runBox(makeBox(QMessageBox::Information, caption, text, QMessageBox::Ok, ownerFor(hadFocus)));
    giveFocusBack(hadFocus);
}
