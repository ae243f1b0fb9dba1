#pragma once
// Message boxes answered by the test: every box shown is recorded, and modal ones get the next
// queued answer (Ok, or Yes when nothing is queued for a Yes/No box).
#include <deque>
#include <QString>
#include <vector>

#include "platform/MessageBoxes.h"

class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString prompt;
        Buttons buttons;
        Icon icon;
        QString title;
        bool modal;
    };

    Answer show(QWidget*, const QString& prompt, Buttons buttons, Icon icon, const QString& title) override {
        shown.push_back({prompt, buttons, icon, title, true});
        if (!answers.empty()) {
            const Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }

    void notify(QWidget*, const QString& prompt, const QString& title) override {
        shown.push_back({prompt, Buttons::Ok, Icon::None, title, false});
    }

    std::deque<Answer> answers;
    std::vector<Shown> shown;
};
