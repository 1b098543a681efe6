#pragma once

#include "userprompt.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

/// Answers questions from a script and records everything the catalogue said.
class ScriptedPrompt final : public UserPrompt
{
public:
    struct Message
    {
        QString text;
        QString caption;
    };

    /// Queues answers; a question with nothing queued is answered with `fallback`.
    void answer(std::initializer_list<bool> answers) { m_answers.insert(m_answers.end(), answers); }
    void setFallback(bool yes) { m_fallback = yes; }

    bool ask(const QString& text, const QString& caption) override
    {
        questions.push_back({text, caption});
        if (onMessage)
            onMessage();
        if (m_answers.empty())
            return m_fallback;
        const bool yes = m_answers.front();
        m_answers.pop_front();
        return yes;
    }
    void inform(const QString& text, const QString& caption) override
    {
        messages.push_back({text, caption});
        if (onMessage)
            onMessage();
    }

    std::vector<Message> questions;
    std::vector<Message> messages;
    /// Runs after each message or question is recorded (to look at the program at that moment).
    std::function<void()> onMessage;

private:
    std::deque<bool> m_answers;
    bool m_fallback = false;
};
