#pragma once

#include <deque>
#include <optional>
#include <vector>

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
