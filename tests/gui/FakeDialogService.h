#pragma once

#include <deque>
#include <optional>
#include <vector>

#include <QAction>
#include <QMenu>

#include "DialogService.h"

namespace updatetool::test {

// Stands in for the user at every message box and file dialog: records what
// the window asked and answers from a script (file dialogs default to Cancel,
// questions to No).
class FakeDialogService : public DialogService {
public:
    enum class Kind { Message, Open, Save };
    struct Call {
        Kind kind;
        MessageRequest message;
        FileDialogRequest file;
    };

    MessageAnswer showMessage(QWidget*, const MessageRequest& request) override
    {
        calls.push_back({Kind::Message, request, {}});
        if (request.buttons == MessageButtons::Ok)
            return MessageAnswer::Ok;
        return nextAnswer(answers, MessageAnswer::No);
    }
    std::optional<QString> getOpenFileName(QWidget*, const FileDialogRequest& request) override
    {
        calls.push_back({Kind::Open, {}, request});
        return nextFile();
    }
    std::optional<QString> getSaveFileName(QWidget*, const FileDialogRequest& request) override
    {
        calls.push_back({Kind::Save, {}, request});
        return nextFile();
    }

    // Records the entries of every popup menu ("-" for a separator, a trailing " [off]"
    // for a greyed one) and picks the entry whose text is next in menuChoices (an
    // empty choice, or none left, closes the menu without a choice).
    QAction* execPopupMenu(QWidget*, QMenu& menu, const QPoint&) override
    {
        QStringList entries;
        for (QAction* action : menu.actions())
            entries << (action->isSeparator() ? QStringLiteral("-")
                                              : action->text() + (action->isEnabled() ? QString() : QStringLiteral(" [off]")));
        menus.push_back(entries);
        const QString choice = menuChoices.empty() ? QString() : menuChoices.front();
        if (!menuChoices.empty())
            menuChoices.pop_front();
        for (QAction* action : menu.actions())
            if (!choice.isEmpty() && action->text() == choice && action->isEnabled())
                return action;
        return nullptr;
    }

    // The texts of the message boxes shown, in order.
    std::vector<QString> messageTexts() const
    {
        std::vector<QString> texts;
        for (const Call& call : calls)
            if (call.kind == Kind::Message)
                texts.push_back(call.message.text);
        return texts;
    }

    std::vector<Call> calls;
    // The paths the user picks, in order; an empty one (or none left) is Cancel.
    std::deque<QString> fileAnswers;
    std::deque<MessageAnswer> answers;
    std::vector<QStringList> menus;
    std::deque<QString> menuChoices;

private:
    std::optional<QString> nextFile()
    {
        if (fileAnswers.empty())
            return std::nullopt;
        const QString path = fileAnswers.front();
        fileAnswers.pop_front();
        if (path.isEmpty())
            return std::nullopt;
        return path;
    }

    template <class T>
    static T nextAnswer(std::deque<T>& queue, T fallback)
    {
        if (queue.empty())
            return fallback;
        T answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

} // namespace updatetool::test
