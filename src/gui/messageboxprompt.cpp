#include "messageboxprompt.h"

#include "windowfocus.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

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

/// Shows a box and waits for its answer, with an ordinary arrow: start-up asks before the
/// cursor is back to normal.
QMessageBox::StandardButton runBox(QMessageBox* box)
{
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

bool MessageBoxPrompt::ask(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    const auto answer = runBox(
        makeBox(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, m_owner));
    giveFocusBack(hadFocus);
    return answer == QMessageBox::Yes;
}

void MessageBoxPrompt::notify(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    QMessageBox* box = makeBox(QMessageBox::Information, caption, text, QMessageBox::Ok, m_owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(m_owner ? Qt::WindowModal : Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box,
                     [this, hadFocus] { giveFocusBack(hadFocus); });
    box->show();
}

void MessageBoxPrompt::inform(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    runBox(makeBox(QMessageBox::Information, caption, text, QMessageBox::Ok, m_owner));
    giveFocusBack(hadFocus);
}
