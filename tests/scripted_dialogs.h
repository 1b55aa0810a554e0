// Answers the program's message boxes and its result-file chooser from queues,
// so Qt tests run headless without modal dialogs, and records every message.
//
//   CScriptedDialogs dialogs;
//   dialogs.Install();
//   dialogs.answers = {kMbResultYes};
//   dialogs.files = {dir.filePath("out.txt")};
//   ...                                  // dialogs.messages holds what was shown
//   dialogs.Uninstall();
#pragma once

#include "chrome/message_box.h"
#include "views/saving.h"

#include <QString>

#include <deque>
#include <vector>

struct Message {
    QString text;
    unsigned flags;
};

class CScriptedDialogs {
public:
    std::vector<Message> messages;
    std::deque<int> answers;  // message box results, OK when empty
    std::deque<QString> files;  // chosen files, Cancel when empty
    int fileQuestions = 0;

    void Install() {
        messages.clear();
        answers.clear();
        files.clear();
        fileQuestions = 0;
        SetMessageBoxHook([this](const QString& text, unsigned flags) {
            messages.push_back({text, flags});
            if (answers.empty()) return static_cast<int>(kMbResultOk);
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
        SetResultFileChooser([this](QWidget*) {
            ++fileQuestions;
            if (files.empty()) return QString();
            QString file = files.front();
            files.pop_front();
            return file;
        });
    }

    void Uninstall() {
        SetMessageBoxHook({});
        SetResultFileChooser({});
    }
};
