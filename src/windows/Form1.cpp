#include "windows/Form1.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>
#include <limits>

#include "audio/VolumeControl.h"
#include "common/Errors.h"
#include "platform/MessageBoxes.h"
#include "platform/Twips.h"

namespace {

template <class Widget>
Widget* place(QWidget* parent, const char* name, const QString& accessibleName, const QRect& geometry) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setAccessibleName(accessibleName);
    widget->setGeometry(geometry);
    return widget;
}

// A whole number in signed 32 bits, blanks around it allowed; anything else is the user's slip and
// goes to the failure report rather than to the mixer.
std::int32_t wholeNumber32(const QString& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw FadewellError("\"" + text.toStdString() +
                            "\" is not a whole number from -2147483648 to 2147483647");
    return static_cast<std::int32_t>(value);
}

QString rangeCaption(const mixer::MixerControlRecord& control) {
    return QString::number(control.lMinimum) + QStringLiteral(" to ") + QString::number(control.lMaximum);
}

} // namespace

Form1::Form1(mixer::MixerApi& mixer, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent), m_mixer(mixer), m_boxes(boxes), m_failures(boxes, this) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    resize(Twips::toPixels(7005), Twips::toPixels(4005));
    createControls();
    connectHandlers();
    m_failures.run("Form_Load", [this] { Form_Load(); });
}

void Form1::createControls() {
    Command1 = place<QPushButton>(this, "Command1", tr("Master"), Twips::rect(360, 840, 1545, 555));
    Command1->setText(tr("Master"));
    Text1 = place<QLineEdit>(this, "Text1", tr("Master level"), Twips::rect(2220, 900, 1245, 435));
    Text1->setText(QStringLiteral("Text1"));
    Label1 = place<QLabel>(this, "Label1", tr("Master range"), Twips::rect(4050, 930, 2025, 435));
    Label1->setText(QStringLiteral("Label1"));

    Command2 = place<QPushButton>(this, "Command2", tr("Mic"), Twips::rect(390, 1650, 1575, 585));
    Command2->setText(tr("Mic"));
    Text2 = place<QLineEdit>(this, "Text2", tr("Mic level"), Twips::rect(2220, 1710, 1275, 435));
    Text2->setText(QStringLiteral("Text2"));
    Label2 = place<QLabel>(this, "Label2", tr("Mic range"), Twips::rect(4050, 1680, 2085, 495));
    Label2->setText(QStringLiteral("Label2"));

    Command3 = place<QPushButton>(this, "Command3", tr("Line"), Twips::rect(390, 2490, 1575, 585));
    Command3->setText(tr("Line"));
    Text3 = place<QLineEdit>(this, "Text3", tr("Line level"), Twips::rect(2220, 2550, 1275, 435));
    Text3->setText(QStringLiteral("Text2"));
    Label3 = place<QLabel>(this, "Label3", tr("Line range"), Twips::rect(4050, 2550, 2085, 495));
    Label3->setText(QStringLiteral("Label3"));

    // The window's tab order is Command1, Command2, Text1, Text2, Label1, Label2, Text3, Command3, Label3;
    // labels take no focus, so Tab goes through the other six in that order.
    QWidget* const order[] = {Command1, Command2, Text1, Text2, Text3, Command3};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::connectHandlers() {
    connect(Command1, &QPushButton::clicked, this,
            [this] { m_failures.run("Command1_Click", [this] { Command1_Click(); }); });
    connect(Command2, &QPushButton::clicked, this,
            [this] { m_failures.run("Command2_Click", [this] { Command2_Click(); }); });
    connect(Command3, &QPushButton::clicked, this,
            [this] { m_failures.run("Command3_Click", [this] { Command3_Click(); }); });
}

void Form1::Form_Load() {
    if (m_mixer.mixerOpen(&m_hmixer, 0, 0, 0, 0) != mixer::MMSYSERR_NOERROR) {
        m_boxes.show(this, QStringLiteral("Couldn't open the mixer."));
        return;
    }
    const struct {
        std::uint32_t componentType;
        mixer::MixerControlRecord& control;
        QLabel* label;
    } rows[] = {
        {mixer::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, m_masterVolCtl, Label1},
        {mixer::MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, m_micVolCtl, Label2},
        {mixer::MIXERLINE_COMPONENTTYPE_SRC_LINE, m_lineVolCtl, Label3},
    };
    for (const auto& row : rows) {
        if (VolumeControl::FindMixerControl(m_mixer, m_hmixer, row.componentType,
                                            mixer::MIXERCONTROL_CONTROLTYPE_VOLUME, row.control))
            row.label->setText(rangeCaption(row.control));
    }
}

void Form1::Command1_Click() {
    VolumeControl::SetMixerControlValue(m_mixer, m_hmixer, m_masterVolCtl, wholeNumber32(Text1->text()));
}

void Form1::Command2_Click() {
    VolumeControl::SetMixerControlValue(m_mixer, m_hmixer, m_micVolCtl, wholeNumber32(Text2->text()));
}

void Form1::Command3_Click() {
    VolumeControl::SetMixerControlValue(m_mixer, m_hmixer, m_lineVolCtl, wholeNumber32(Text3->text()));
}
