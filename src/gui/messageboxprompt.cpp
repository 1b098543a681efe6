#include "messageboxprompt.h"

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

void MessageBoxPrompt::notify(const QString& text, const QString& caption)
{
    auto* box = new QMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, m_owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(m_owner ? Qt::WindowModal : Qt::NonModal);
    box->show();
}

void MessageBoxPrompt::inform(const QString& text, const QString& caption)
{
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox::information(m_owner, caption, text);
    QApplication::restoreOverrideCursor();
}
