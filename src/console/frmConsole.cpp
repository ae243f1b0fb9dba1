#include "console/frmConsole.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <type_traits>

#include "audio/VolumeControl.h"
#include "console/AutoFade.h"
#include "console/ConsoleArt.h"
#include "console/ConsoleTimer.h"
#include "console/DigitalDisplay.h"
#include "console/KeyCodes.h"
#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/ShownTextAccessibility.h"
#include "console/TimeText.h"
#include "platform/MessageBoxes.h"
#include "platform/Twips.h"

namespace {

using Twips::toPixels;

// The desktop colours the window uses, by their number.
const QColor kActiveBorder(180, 180, 180); // 10
const QColor kButtonFace(212, 208, 200);   // 15
const QColor kButtonShadow(128, 128, 128); // 16
const QColor kGreyText(128, 128, 128);     // 17
const QColor kButtonText(0, 0, 0);         // 18
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 255, 0);

void setColours(QWidget* w, const QColor& text, const QColor* background = nullptr) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    if (background != nullptr) {
        palette.setColor(QPalette::Window, *background);
        w->setAutoFillBackground(true);
    }
    w->setPalette(palette);
}

QFont sansSerif(double points, bool bold = false) {
    QFont font;
    // Where the classic face is missing, a condensed face keeps the captions within their controls.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The time displays' seven-segment face; the clock takes the fourteen-segment one where the classic
// face is missing, since seven segments cannot draw its "am" and "pm".
QFont digitalFace(double points, bool bold, const QString& fallback) {
    QFont font;
    font.setFamilies({QStringLiteral("Digiface"), fallback, QStringLiteral("Monospace")});
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

template <class W>
W* place(W* widget, const char* name, const QRect& geometry, const QString& accessibleName) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    widget->setAccessibleName(accessibleName);
    return widget;
}

template <class Label = QLabel>
QLabel* label(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
              const QColor& text, const QString& accessibleName = {}) {
    auto* l = new Label(caption, parent);
    // A label named for what it shows has text that changes: expose it without renaming. Before
    // the name is set, since naming creates the label's accessibility interface.
    if (!accessibleName.isEmpty() && accessibleName != caption)
        exposeShownText(l);
    place(l, name, geometry, accessibleName.isEmpty() ? caption : accessibleName);
    setColours(l, text);
    return l;
}

// A deck's time display; the widest text it ordinarily shows sets its one size.
QLabel* timeDisplay(QWidget* parent, const char* name, const QRect& geometry, const QColor& text,
                    double points, bool bold, const QString& accessibleName,
                    const QString& widestUsualText = QStringLiteral("00:00.0"),
                    const QString& face = QStringLiteral("DSEG7 Classic")) {
    auto* l = new DigitalDisplay(widestUsualText, parent);
    exposeShownText(l);
    place(l, name, geometry, accessibleName);
    const QColor black(0, 0, 0);
    setColours(l, text, &black);
    l->setFont(digitalFace(points, bold, face));
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setFrameShape(QFrame::Box);
    l->setLineWidth(1);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& toolTip,
                    const QRect& geometry) {
    auto* b = place(new QPushButton(caption, parent), name, geometry, caption);
    b->setToolTip(toolTip);
    return b;
}

} // namespace

frmConsole::frmConsole(const ConsolePlatform& platform, QWidget* parent)
    : QMainWindow(parent), m_platform(platform), m_failures(platform.messageBoxes, this),
      m_icon(drawConsoleIcon()) {
    createControls();
    connectHandlers();
    qApp->installEventFilter(this);
    tmrFade->start();
    tmrRemainingTime->start();
    tmrClock->start();
}

frmConsole::~frmConsole() = default;

void frmConsole::createControls() {
    setObjectName(QStringLiteral("frmConsole"));
    setWindowTitle(QStringLiteral("Fadewell"));
    setWindowIcon(m_icon);
    // Resizable, with neither a maximize nor a minimize button.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(sansSerif(8.25));
    // Audio files dropped from a file manager load decks (frmConsoleFiles.cpp).
    setAcceptDrops(true);

    auto* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("mnuFile"));
    mnuFileExit = fileMenu->addAction(QStringLiteral("E&xit"));
    mnuFileExit->setObjectName(QStringLiteral("mnuFileExit"));
    auto* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpAbout = helpMenu->addAction(QStringLiteral("&About"));
    mnuHelpAbout->setObjectName(QStringLiteral("mnuHelpAbout"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    setColours(client, kButtonText, &kButtonShadow);
    setCentralWidget(client);
    resize(toPixels(10305), toPixels(6060) + menuBar()->sizeHint().height());

    // Players frame: one row per deck.
    Frame1 = place(new QGroupBox(QStringLiteral("Players"), client), "Frame1",
                   Twips::rect(3510, 210, 6585, 2505), QStringLiteral("Players"));
    setColours(Frame1, kButtonText, &kButtonShadow);
    const char* letters[] = {"A", "B", "C"};
    const int rowTop[] = {630, 1350, 2070};
    const int playerTop[] = {300, 1020, 1740};
    const int buttonTop[] = {600, 1320, 2040};
    const int titleLeft[] = {3930, 3960, 3930};
    const int titleTop[] = {300, 1050, 1740};
    const char* rowLabels[] = {"Label1", "Label2", "Label3"};
    const QPixmap cross = drawClearCross();
    QLabel** rowLabel[] = {&Label1, &Label2, &Label3};
    MediaPlayer** players[] = {&MediaPlayerA, &MediaPlayerB, &MediaPlayerC};
    QPushButton** clears[] = {&cmdClearPlayerA, &cmdClearPlayerB, &cmdClearPlayerC};
    QPushButton** loads[] = {&cmdMediaA, &cmdMediaB, &cmdMediaC};
    QLabel** titles[] = {&lblMediaA, &lblMediaB, &lblMediaC};
    for (int i = 0; i < 3; ++i) {
        const QString letter = QLatin1String(letters[i]);
        *rowLabel[i] = label(Frame1, rowLabels[i], letter, Twips::rect(150, rowTop[i], 225, 285), kBlue,
                             QStringLiteral("Deck %1").arg(letter));
        (*rowLabel[i])->setFont(sansSerif(8.25, true));
        *players[i] =
            place(new MediaPlayer(m_platform.engine, Frame1), ("MediaPlayer" + letter.toStdString()).c_str(),
                  Twips::rect(480, playerTop[i], 3345, 675), QStringLiteral("Deck %1 player").arg(letter));
        *clears[i] =
            button(Frame1, ("cmdClearPlayer" + letter.toStdString()).c_str(), QString(),
                   QStringLiteral("Clear audio file from player"), Twips::rect(2970, buttonTop[i], 345, 315));
        (*clears[i])->setIcon(QIcon(cross));
        (*clears[i])->setIconSize(cross.size());
        (*clears[i])->setAccessibleName(QStringLiteral("Clear deck %1").arg(letter));
        *loads[i] =
            button(Frame1, ("cmdMedia" + letter.toStdString()).c_str(), QStringLiteral("..."),
                   QStringLiteral("Load audio file into player"), Twips::rect(3360, buttonTop[i], 345, 315));
        (*loads[i])->setAccessibleName(QStringLiteral("Load deck %1").arg(letter));
        *titles[i] = label(Frame1, ("lblMedia" + letter.toStdString()).c_str(), QString(),
                           Twips::rect(titleLeft[i], titleTop[i], 2535, 195), Qt::white,
                           QStringLiteral("Deck %1 title").arg(letter));
        (*titles[i])->setWordWrap(true);
        (*titles[i])->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    // Deck time columns, in line with the frame's rows.
    Label9 = label(client, "Label9", QStringLiteral("Length"), Twips::rect(1800, 210, 705, 285), kButtonText);
    Label10 =
        label(client, "Label10", QStringLiteral("Remain"), Twips::rect(2640, 210, 705, 285), kButtonText);
    QLabel** lengths[] = {&lblDurationA, &lblDurationB, &lblDurationC};
    QLabel** remainings[] = {&lblRemainingA, &lblRemainingB, &lblRemainingC};
    for (int i = 0; i < 3; ++i) {
        const QString letter = QLatin1String(letters[i]);
        *lengths[i] = label(client, ("lblDuration" + letter.toStdString()).c_str(), QString(),
                            Twips::rect(1800, buttonTop[i], 765, 285), QColor(224, 224, 224),
                            QStringLiteral("Deck %1 length").arg(letter));
        *remainings[i] = label<TimeLabel>(client, ("lblRemaining" + letter.toStdString()).c_str(), QString(),
                                          Twips::rect(2640, buttonTop[i], 765, 285), kYellow,
                                          QStringLiteral("Deck %1 remaining time").arg(letter));
        // Its text changes ten times a second while the deck plays: on a background of its own, the
        // client area's colour, it is drawn alone instead of with everything behind it.
        setColours(*remainings[i], kYellow, &kButtonShadow);
    }

    // The three elbow connectors from the deck rows to the deck sliders, two strokes each.
    const int elbowY[] = {900, 1620, 2340};
    const int elbowX[] = {570, 1170, 1800};
    for (int i = 0; i < 3; ++i) {
        auto* across = new QFrame(client);
        across->setObjectName(QStringLiteral("Line%1").arg(2 * i + 1));
        across->setGeometry(toPixels(elbowX[i]), toPixels(elbowY[i]),
                            toPixels(3420) - toPixels(elbowX[i]) + 1, 1);
        auto* down = new QFrame(client);
        down->setObjectName(QStringLiteral("Line%1").arg(2 * i + 2));
        down->setGeometry(toPixels(elbowX[i]), toPixels(elbowY[i]), 1,
                          toPixels(2820) - toPixels(elbowY[i]) + 1);
        for (QFrame* stroke : {across, down}) {
            setColours(stroke, kButtonText, &kActiveBorder);
            stroke->setAccessibleName(QStringLiteral("Deck %1 connector").arg(QLatin1String(letters[i])));
        }
        Line[2 * i] = across;
        Line[2 * i + 1] = down;
    }

    // Mixer panel: the sliders on their own opaque panel.
    Label13 = place(new QLabel(client), "Label13", Twips::rect(150, 3150, 4155, 2745),
                    QStringLiteral("Volume panel"));
    setColours(Label13, kButtonText, &kButtonFace);
    const char* sliderLabelNames[] = {"Label4", "Label5", "Label6", "Label7", "Label8", "Label15"};
    const char* sliderCaptions[] = {"A", "B", "C", "Mic", "Line", "Master"};
    const int sliderLabelLeft[] = {510, 1110, 1740, 2280, 2910, 3570};
    const int sliderLabelWidth[] = {225, 225, 225, 345, 435, 675};
    QLabel** sliderLabels[] = {&Label4, &Label5, &Label6, &Label7, &Label8, &Label15};
    const char* sliderNames[] = {"SliderA", "SliderB", "SliderC", "SliderMic", "SliderLine", "SliderMaster"};
    const char* sliderAccessible[] = {"Deck A volume",    "Deck B volume", "Deck C volume",
                                      "Microphone level", "Line-in level", "Master level"};
    const int sliderLeft[] = {270, 900, 1530, 2160, 2790, 3570};
    ScrollSlider** sliders[] = {&SliderA, &SliderB, &SliderC, &SliderMic, &SliderLine, &SliderMaster};
    for (int i = 0; i < 6; ++i) {
        *sliderLabels[i] = label(client, sliderLabelNames[i], QLatin1String(sliderCaptions[i]),
                                 Twips::rect(sliderLabelLeft[i], 2910, sliderLabelWidth[i], 225), kBlue);
        (*sliderLabels[i])->setFont(sansSerif(8.25, true));
        auto* s = place(new ScrollSlider(client), sliderNames[i], Twips::rect(sliderLeft[i], 3240, 630, 2325),
                        QLatin1String(sliderAccessible[i]));
        s->setRange(0, 100);
        s->setValue(20);
        s->setPageStep(10);
        s->setSingleStep(2);
        s->setTickInterval(10);
        s->setTickPosition(QSlider::TicksBothSides);
        // The top is loudest: 0 stands at the top.
        s->setInvertedAppearance(true);
        s->setInvertedControls(true);
        *sliders[i] = s;
    }
    QPushButton** autos[] = {&cmdAudoFadeA, &cmdAudoFadeB, &cmdAudoFadeC};
    const int autoLeft[] = {300, 930, 1560};
    for (int i = 0; i < 3; ++i) {
        const QString letter = QLatin1String(letters[i]);
        *autos[i] = button(client, ("cmdAudoFade" + letter.toStdString()).c_str(), QStringLiteral("auto"),
                           QStringLiteral("Autofade other players and start this one"),
                           Twips::rect(autoLeft[i], 5520, 555, 285));
        (*autos[i])->setAccessibleName(QStringLiteral("Auto-fade to deck %1").arg(letter));
    }

    // Display panel.
    const QColor black(0, 0, 0);
    lblDisplayBlackBox = place(new QLabel(QStringLiteral("Label11"), client), "lblDisplayBlackBox",
                               Twips::rect(4620, 3150, 3555, 2745), QStringLiteral("Display panel"));
    setColours(lblDisplayBlackBox, black, &black);
    lblPlayerFlag = label(client, "lblPlayerFlag", QString(), Twips::rect(4740, 3240, 405, 315), kYellow,
                          QStringLiteral("Live deck"));
    setColours(lblPlayerFlag, kYellow, &kButtonText);
    lblPlayerFlag->setFont(sansSerif(9.75, true));
    Label11 =
        label(client, "Label11", QStringLiteral("Remaining"), Twips::rect(5070, 3570, 945, 315), kGreyText);
    lblRemainingBig = timeDisplay(client, "lblRemainingBig", Twips::rect(5970, 3300, 1995, 735), kGreen,
                                  27.75, true, QStringLiteral("Live deck remaining time"));
    Label12 =
        label(client, "Label12", QStringLiteral("Running"), Twips::rect(5070, 4350, 945, 315), kGreyText);
    lblRunningTime = timeDisplay(client, "lblRunningTime", Twips::rect(6000, 4110, 1965, 735), kGreen, 27.75,
                                 true, QStringLiteral("Live deck running time"));
    lblTime = timeDisplay(client, "lblTime", Twips::rect(6030, 5040, 1935, 435), QColor(192, 255, 192), 14.25,
                          false, QStringLiteral("Clock"), QStringLiteral("10:00:00 pm"),
                          QStringLiteral("DSEG14 Classic"));
    // The remaining and running displays stand one above the other: their digits are drawn alike.
    DigitalDisplay::drawAlike(
        {static_cast<DigitalDisplay*>(lblRemainingBig), static_cast<DigitalDisplay*>(lblRunningTime)});

    // Control strip.
    chkSetVolume = place(new QCheckBox(QStringLiteral("Auto Set Volume"), client), "chkSetVolume",
                         Twips::rect(8520, 3180, 1575, 345), QStringLiteral("Auto Set Volume"));
    setColours(chkSetVolume, kButtonText, &kButtonShadow);
    // A button fills its background with the Button colour; this one stands on the panel's grey.
    chkSetVolume->setBackgroundRole(QPalette::Window);
    cmdResetVolume = button(client, "cmdResetVolume", QStringLiteral("Reset Volume"),
                            QStringLiteral("Set inactive player volume to 80% and pause players"),
                            Twips::rect(8490, 3660, 1245, 405));
    Label14 = label(client, "Label14", QStringLiteral("Auto fade (seconds)"),
                    Twips::rect(8520, 4230, 1485, 285), kButtonText);
    txtAutoFade = place(new QLineEdit(QStringLiteral("4"), client), "txtAutoFade",
                        Twips::rect(8490, 4470, 435, 315), QStringLiteral("Auto fade (seconds)"));
    lblAutofadeMessage = label(client, "lblAutofadeMessage", QString(), Twips::rect(8490, 4890, 1665, 405),
                               kYellow, QStringLiteral("Auto fade message"));
    lblAutofadeMessage->setWordWrap(true);

    // The panels lie behind the controls drawn on them.
    Label13->lower();
    lblDisplayBlackBox->lower();

    tmrRemainingTime = new ConsoleTimer(this, "tmrRemainingTime", 50);
    tmrClock = new ConsoleTimer(this, "tmrClock", 1000);
    // The fade's ticks do nothing while no fade runs: it sleeps until one starts.
    tmrFade = new ConsoleTimer(this, "tmrFade", AutoFade::kTickMilliseconds);
    tmrFade->setSleeping(!fadeActive);
    // The players follow their positions in the wake-ups of the time displays' tick.
    for (MediaPlayer* player : {MediaPlayerA, MediaPlayerB, MediaPlayerC})
        player->refreshOnTicksOf(tmrRemainingTime);

    QWidget* tabOrder[] = {SliderA,      SliderB,         SliderC,         SliderMic,       SliderLine,
                           MediaPlayerA, MediaPlayerB,    MediaPlayerC,    cmdMediaC,       cmdMediaB,
                           cmdMediaA,    cmdClearPlayerA, cmdClearPlayerB, cmdClearPlayerC, cmdAudoFadeA,
                           cmdAudoFadeB, cmdAudoFadeC,    chkSetVolume,    txtAutoFade,     cmdResetVolume,
                           SliderMaster};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    // The window opens with the focus on the first control of the tab order, never on a button that
    // a stray Space or Enter would press.
    SliderA->setFocus();

    m_decks = {Deck{QStringLiteral("A"), MediaPlayerA, cmdMediaA, cmdClearPlayerA, lblMediaA, lblDurationA,
                    lblRemainingA, SliderA, cmdAudoFadeA},
               Deck{QStringLiteral("B"), MediaPlayerB, cmdMediaB, cmdClearPlayerB, lblMediaB, lblDurationB,
                    lblRemainingB, SliderB, cmdAudoFadeB},
               Deck{QStringLiteral("C"), MediaPlayerC, cmdMediaC, cmdClearPlayerC, lblMediaC, lblDurationC,
                    lblRemainingC, SliderC, cmdAudoFadeC}};
}

namespace {
// A handler that takes the signal's arguments gets them; one that takes none is called without.
// (A function of its own: clang 14 instantiates both branches of this choice when it stands in a
// generic lambda.)
template <class Handler, class... Args> void callHandler(frmConsole* console, Handler handler, Args... args) {
    if constexpr (std::is_invocable_v<Handler, frmConsole*, Args...>)
        (console->*handler)(args...);
    else
        (console->*handler)();
}
} // namespace

template <class Sender, class Signal, class Handler>
void frmConsole::connectHandler(Sender* sender, Signal signal, const char* name, Handler handler) {
    connect(sender, signal, this, [this, name, handler](auto... args) {
        m_failures.run(name, [&] { callHandler(this, handler, args...); });
    });
}

void frmConsole::connectHandlers() {
    connectHandler(mnuFileExit, &QAction::triggered, "mnuFileExit_Click", &frmConsole::mnuFileExit_Click);
    connectHandler(mnuHelpAbout, &QAction::triggered, "mnuHelpAbout_Click", &frmConsole::mnuHelpAbout_Click);

    connectHandler(cmdMediaA, &QPushButton::clicked, "cmdMediaA_Click", &frmConsole::cmdMediaA_Click);
    connectHandler(cmdMediaB, &QPushButton::clicked, "cmdMediaB_Click", &frmConsole::cmdMediaB_Click);
    connectHandler(cmdMediaC, &QPushButton::clicked, "cmdMediaC_Click", &frmConsole::cmdMediaC_Click);
    connectHandler(cmdClearPlayerA, &QPushButton::clicked, "cmdClearPlayerA_Click",
                   &frmConsole::cmdClearPlayerA_Click);
    connectHandler(cmdClearPlayerB, &QPushButton::clicked, "cmdClearPlayerB_Click",
                   &frmConsole::cmdClearPlayerB_Click);
    connectHandler(cmdClearPlayerC, &QPushButton::clicked, "cmdClearPlayerC_Click",
                   &frmConsole::cmdClearPlayerC_Click);
    connectHandler(MediaPlayerA, &MediaPlayer::openStateChanged, "MediaPlayerA_OpenStateChange",
                   &frmConsole::MediaPlayerA_OpenStateChange);
    connectHandler(MediaPlayerB, &MediaPlayer::openStateChanged, "MediaPlayerB_OpenStateChange",
                   &frmConsole::MediaPlayerB_OpenStateChange);
    connectHandler(MediaPlayerC, &MediaPlayer::openStateChanged, "MediaPlayerC_OpenStateChange",
                   &frmConsole::MediaPlayerC_OpenStateChange);
    connectHandler(MediaPlayerA, &MediaPlayer::playStateChanged, "MediaPlayerA_PlayStateChange",
                   &frmConsole::MediaPlayerA_PlayStateChange);
    connectHandler(MediaPlayerB, &MediaPlayer::playStateChanged, "MediaPlayerB_PlayStateChange",
                   &frmConsole::MediaPlayerB_PlayStateChange);
    connectHandler(MediaPlayerC, &MediaPlayer::playStateChanged, "MediaPlayerC_PlayStateChange",
                   &frmConsole::MediaPlayerC_PlayStateChange);

    connectHandler(SliderA, &ScrollSlider::Scroll, "SliderA_Scroll", &frmConsole::SliderA_Scroll);
    connectHandler(SliderB, &ScrollSlider::Scroll, "SliderB_Scroll", &frmConsole::SliderB_Scroll);
    connectHandler(SliderC, &ScrollSlider::Scroll, "SliderC_Scroll", &frmConsole::SliderC_Scroll);
    connectHandler(SliderMaster, &ScrollSlider::Scroll, "SliderMaster_Scroll",
                   &frmConsole::SliderMaster_Scroll);
    connectHandler(SliderLine, &ScrollSlider::Scroll, "SliderLine_Scroll", &frmConsole::SliderLine_Scroll);
    connectHandler(SliderMic, &ScrollSlider::Scroll, "SliderMic_Scroll", &frmConsole::SliderMic_Scroll);
    connectHandler(cmdResetVolume, &QPushButton::clicked, "cmdResetVolume_Click",
                   &frmConsole::cmdResetVolume_Click);

    connectHandler(cmdAudoFadeA, &QPushButton::clicked, "cmdAudoFadeA_Click",
                   &frmConsole::cmdAudoFadeA_Click);
    connectHandler(cmdAudoFadeB, &QPushButton::clicked, "cmdAudoFadeB_Click",
                   &frmConsole::cmdAudoFadeB_Click);
    connectHandler(cmdAudoFadeC, &QPushButton::clicked, "cmdAudoFadeC_Click",
                   &frmConsole::cmdAudoFadeC_Click);
    connectHandler(tmrFade, &ConsoleTimer::timeout, "tmrFade_Timer", &frmConsole::tmrFade_Timer);
    connectHandler(txtAutoFade, &QLineEdit::textChanged, "txtAutoFade_Change",
                   &frmConsole::txtAutoFade_Change);

    connectHandler(tmrRemainingTime, &ConsoleTimer::timeout, "tmrRemainingTime_Timer",
                   &frmConsole::tmrRemainingTime_Timer);
    connectHandler(tmrClock, &ConsoleTimer::timeout, "tmrClock_Timer", &frmConsole::tmrClock_Timer);

    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
            [this] { ++m_wakeUps; });
    connect(tmrFade, &ConsoleTimer::timeout, this, [this] { m_fadeTickWakeUp = m_wakeUps; });
    connect(tmrRemainingTime, &ConsoleTimer::timeout, this, &frmConsole::keepTicksTogether);
}

// The fade and the time displays tick in the same wake-ups of the window's thread: started together,
// every fifth fade tick is due with a display tick. But a timer held up for longer than its
// interval (a file being opened, the thread busy) starts again from then, and afterwards the
// display ticks would wake the thread on their own, twenty times a second. When a display tick
// comes without a fade tick, both start again at once, as at start-up: the displays keep their
// pace, and the fade's next tick comes up to 10 ms later than it would have, this once. The fade
// timer, woken when a fade starts, falls in with the displays the same way.
void frmConsole::keepTicksTogether() {
    if (m_fadeTickWakeUp == m_wakeUps || !tmrFade->isTicking() || !tmrRemainingTime->isTicking())
        return;
    tmrFade->start();
    tmrRemainingTime->start();
}

void frmConsole::Form_Load() {
    mixerOpenResult = m_platform.mixer.mixerOpen(&hMixer, 0, 0, 0, 0);
    if (mixerOpenResult != mixer::MMSYSERR_NOERROR) {
        m_platform.messageBoxes.show(this, QStringLiteral("Couldn't open the mixer."));
        return;
    }
    using namespace mixer;
    mixerCtlFound =
        VolumeControl::FindMixerControl(m_platform.mixer, hMixer, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                        MIXERCONTROL_CONTROLTYPE_VOLUME, masterVolCtl);
    mixerCtlFound =
        VolumeControl::FindMixerControl(m_platform.mixer, hMixer, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                        MIXERCONTROL_CONTROLTYPE_VOLUME, micVolCtl);
    mixerCtlFound =
        VolumeControl::FindMixerControl(m_platform.mixer, hMixer, MIXERLINE_COMPONENTTYPE_SRC_LINE,
                                        MIXERCONTROL_CONTROLTYPE_VOLUME, lineVolCtl);
    chkSetVolume->setCheckState(Qt::Checked);
}

void frmConsole::mnuFileExit_Click() {
    const auto answer = m_platform.messageBoxes.show(this, QStringLiteral("are you sure you want to quit?"),
                                                     MessageBoxes::Buttons::YesNo,
                                                     MessageBoxes::Icon::Question, QStringLiteral("Quit?"));
    if (answer == MessageBoxes::Answer::Yes)
        m_platform.endProgram();
}

// Key preview: the window sees every key pressed in it before the control with the focus does,
// and leaves the key to that control afterwards.
bool frmConsole::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    // A key the focus widget ignores travels on to its parents; handle it once, at the focus widget.
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr)
        target = this;
    if (watched != target || target->window() != this)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const int keyCode = platformKeyCode(*key);
    m_failures.run("Form_KeyDown", [&] { Form_KeyDown(keyCode, static_cast<int>(key->modifiers())); });
    return false;
}
