#include "messageboxprompt.h"

#include "windowfocus.h"

#include <QApplication>
#include <QMessageBox>

MessageBoxPrompt::MessageBoxPrompt(QWidget* owner)
    : m_owner(owner)
{
}

bool MessageBoxPrompt::ask(const QString& text, const QString& caption)
{
    // Start-up asks before the cursor is back to normal; the user must see an ordinary arrow.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const auto answer =
        QMessageBox::question(m_owner, caption, text, QMessageBox::Yes | QMessageBox::No);
    QApplication::restoreOverrideCursor();
    return answer == QMessageBox::Yes;
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

void MessageBoxPrompt::notify(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    auto* box = new QMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, m_owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(m_owner ? Qt::WindowModal : Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box,
                     [this, hadFocus] { giveFocusBack(hadFocus); });
    box->show();
}

void MessageBoxPrompt::inform(const QString& text, const QString& caption)
{
    const quint32 hadFocus = foreignFocus();
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox::information(m_owner, caption, text);
    QApplication::restoreOverrideCursor();
    giveFocusBack(hadFocus);
}
