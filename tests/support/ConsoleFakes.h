#pragma once
// Fakes for the console's dialog and clock.
#include <deque>
#include <QString>
#include <QTime>

#include "platform/Clock.h"
#include "platform/FileDialog.h"

// Answers each ShowOpen with the next queued choice; an empty choice is a cancel.
class FakeFileDialog final : public FileDialog {
public:
    bool ShowOpen(QWidget*) override {
        ++opened;
        m_fileName = choices.empty() ? QString() : choices.front();
        if (!choices.empty())
            choices.pop_front();
        return !m_fileName.isEmpty();
    }
    QString FileName() const override { return m_fileName; }

    std::deque<QString> choices;
    int opened = 0;

private:
    QString m_fileName;
};

class FakeClock final : public Clock {
public:
    QTime currentTime() const override { return now; }
    QTime now{9, 41, 7};
};
