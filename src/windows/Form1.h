#pragma once
// The mixer test window: for the speakers, microphone and line-in lines it shows the range of the
// line's volume control and sends a level typed by hand. It opens the mixer itself and keeps its own
// handle and control records, apart from the console's. The load runs when the window is built.
#include <QWidget>

#include "platform/FailureReporter.h"
#include "platform/MixerApi.h"

class MessageBoxes;
class QLabel;
class QLineEdit;
class QPushButton;

class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(mixer::MixerApi& mixer, MessageBoxes& boxes, QWidget* parent = nullptr);

private:
    void createControls();
    void connectHandlers();

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    mixer::MixerApi& m_mixer;
    MessageBoxes& m_boxes;
    FailureReporter m_failures;

    mixer::HMIXER m_hmixer = 0;
    mixer::MixerControlRecord m_masterVolCtl{};
    mixer::MixerControlRecord m_micVolCtl{};
    mixer::MixerControlRecord m_lineVolCtl{};

    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
};
