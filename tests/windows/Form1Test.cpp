// The mixer test window on a sound card played in memory.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "support/FakeMessageBoxes.h"
#include "support/MemoryMixer.h"
#include "windows/Form1.h"

using namespace mixer;
using Op = MemoryMixer::Operation;

namespace {

class Form1Test : public ::testing::Test {
protected:
    template <class Widget> static Widget* child(QWidget& form, const char* name) {
        auto* widget = form.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static void send(QWidget& form, const char* text, const char* textBox, const char* button) {
        child<QLineEdit>(form, textBox)->setText(QString::fromLatin1(text));
        child<QPushButton>(form, button)->click();
    }

    MemoryMixer card;
    FakeMessageBoxes boxes;
};

TEST_F(Form1Test, ControlsStandAtTheirTwipPlaces) {
    Form1 form(card, boxes);
    EXPECT_EQ(form.windowTitle(), "Form1");
    EXPECT_EQ(form.size(), QSize(7005 / 15, 4005 / 15));

    const struct {
        const char* name;
        int left, top, width, height;
        const char* text;
    } controls[] = {
        {"Command1", 360, 840, 1545, 555, "Master"}, {"Text1", 2220, 900, 1245, 435, "Text1"},
        {"Label1", 4050, 930, 2025, 435, "Label1"},  {"Command2", 390, 1650, 1575, 585, "Mic"},
        {"Text2", 2220, 1710, 1275, 435, "Text2"},   {"Label2", 4050, 1680, 2085, 495, "Label2"},
        {"Command3", 390, 2490, 1575, 585, "Line"},  {"Text3", 2220, 2550, 1275, 435, "Text2"},
        {"Label3", 4050, 2550, 2085, 495, "Label3"},
    };
    for (const auto& c : controls) {
        auto* widget = child<QWidget>(form, c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15)) << c.name;
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << c.name;
        QString text;
        if (auto* b = qobject_cast<QPushButton*>(widget))
            text = b->text();
        else if (auto* t = qobject_cast<QLineEdit*>(widget))
            text = t->text();
        else if (auto* l = qobject_cast<QLabel*>(widget))
            text = l->text();
        EXPECT_EQ(text, c.text) << c.name;
    }
}

TEST_F(Form1Test, TabGoesThroughTheControlsInOrder) {
    Form1 form(card, boxes);
    const QStringList expected = {"Command1", "Command2", "Text1", "Text2", "Text3", "Command3"};
    QStringList stops;
    QWidget* w = child<QWidget>(form, "Command1");
    for (int i = 0; i < 20 && stops.size() < expected.size(); ++i, w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == &form)
            stops << w->objectName();
    EXPECT_EQ(stops, expected);
    for (const char* label : {"Label1", "Label2", "Label3"})
        EXPECT_FALSE(child<QWidget>(form, label)->focusPolicy() & Qt::TabFocus) << label;
}

TEST_F(Form1Test, LoadShowsEachFoundRange) {
    card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 0, 65535);
    card.addVolumeLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, -32768, 32767);
    card.addVolumeLine(MIXERLINE_COMPONENTTYPE_SRC_LINE, -1, 7);
    Form1 form(card, boxes);

    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), "0 to 65535");
    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), "-32768 to 32767");
    EXPECT_EQ(child<QLabel>(form, "Label3")->text(), "-1 to 7");
    EXPECT_TRUE(boxes.shown.empty());

    const auto opens = card.callsOf(Op::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].deviceId, 0u);
    EXPECT_EQ(opens[0].callback, 0u);
    EXPECT_EQ(opens[0].instance, 0u);
    EXPECT_EQ(opens[0].flags, 0u);
    const auto lookups = card.callsOf(Op::GetLineInfo);
    ASSERT_EQ(lookups.size(), 3u);
    EXPECT_EQ(lookups[0].line.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(lookups[1].line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(lookups[2].line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_LINE);
}

TEST_F(Form1Test, EachButtonSendsItsTextToItsOwnLine) {
    const std::uint32_t master = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    const std::uint32_t mic = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    const std::uint32_t line = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_SRC_LINE);
    Form1 form(card, boxes);
    const HMIXER handle = card.callsOf(Op::Open).front().handle;

    send(form, "32768", "Text1", "Command1");
    send(form, " -1 ", "Text2", "Command2");
    send(form, "2147483647", "Text3", "Command3");

    EXPECT_EQ(card.control(master)->value, 32768u);
    EXPECT_EQ(card.control(mic)->value, 0xFFFFFFFFu);
    EXPECT_EQ(card.control(line)->value, 2147483647u);
    for (const auto& write : card.callsOf(Op::SetControlDetails))
        EXPECT_EQ(write.handle, handle);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Form1Test, MissingLineKeepsItsCaptionAndItsButtonShowsNothing) {
    const std::uint32_t master = card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    card.addLine(MIXERLINE_COMPONENTTYPE_SRC_LINE); // a line-in without a volume control, no microphone
    Form1 form(card, boxes);

    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), "0 to 65535");
    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), "Label2");
    EXPECT_EQ(child<QLabel>(form, "Label3")->text(), "Label3");

    send(form, "100", "Text2", "Command2");
    send(form, "200", "Text3", "Command3");
    const auto writes = card.callsOf(Op::SetControlDetails);
    ASSERT_EQ(writes.size(), 2u);
    for (const auto& write : writes) {
        EXPECT_EQ(write.details.dwControlID, 0u);
        EXPECT_EQ(write.result, MIXERR_INVALCONTROL);
    }
    EXPECT_EQ(card.control(master)->value, 0u);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Form1Test, TextThatIsNotAWholeNumberIsReportedOnceAndNothingIsSent) {
    card.addVolumeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    Form1 form(card, boxes);

    child<QPushButton>(form, "Command1")->click(); // still "Text1"
    child<QPushButton>(form, "Command1")->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(boxes.shown[0].modal);
    EXPECT_TRUE(boxes.shown[0].prompt.contains("Text1")) << boxes.shown[0].prompt.toStdString();

    for (const char* text : {"2147483648", "-2147483649", "12.5", "1e3", "", "0x10"}) {
        send(form, text, "Text1", "Command1");
        EXPECT_EQ(boxes.shown.back().prompt.contains(QString::fromLatin1(text)), true) << text;
    }
    EXPECT_TRUE(card.callsOf(Op::SetControlDetails).empty());

    send(form, "-2147483648", "Text1", "Command1");
    ASSERT_EQ(card.callsOf(Op::SetControlDetails).size(), 1u);
    EXPECT_EQ(card.callsOf(Op::SetControlDetails)[0].value, 0x80000000u);
}

TEST_F(Form1Test, MixerThatWillNotOpenShowsTheOneMessage) {
    MemoryMixer noCard(0);
    Form1 form(noCard, boxes);

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].prompt, "Couldn't open the mixer.");
    EXPECT_TRUE(boxes.shown[0].modal);
    EXPECT_EQ(boxes.shown[0].buttons, MessageBoxes::Buttons::Ok);
    EXPECT_TRUE(boxes.shown[0].title.isEmpty());
    EXPECT_TRUE(noCard.callsOf(Op::GetLineInfo).empty());
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), "Label1");

    // The buttons still send, to the handle the failed open left; the refusal shows nothing.
    send(form, "5", "Text1", "Command1");
    const auto writes = noCard.callsOf(Op::SetControlDetails);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].handle, 0u);
    EXPECT_NE(writes[0].result, MMSYSERR_NOERROR);
    EXPECT_EQ(boxes.shown.size(), 1u);
}

} // namespace
