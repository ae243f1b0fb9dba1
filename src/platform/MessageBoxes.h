#pragma once
// Message boxes behind a seam, so tests can answer them. A box given no title shows the
// application title.
#include <QString>

class QWidget;

class MessageBoxes {
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Question };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    // Modal: returns the button pressed. With YesNo, Yes is the default button.
    virtual Answer show(QWidget* parent, const QString& prompt, Buttons buttons = Buttons::Ok,
                        Icon icon = Icon::None, const QString& title = {}) = 0;
    // Not modal: the caller goes on at once; used for failures reported while the console runs.
    virtual void notify(QWidget* parent, const QString& prompt, const QString& title = {}) = 0;
};

// The real boxes, on the user-interface thread.
class QtMessageBoxes final : public MessageBoxes {
public:
    Answer show(QWidget* parent, const QString& prompt, Buttons buttons, Icon icon,
                const QString& title) override;
    void notify(QWidget* parent, const QString& prompt, const QString& title) override;
};
