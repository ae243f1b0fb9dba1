#include "control/ConsoleCommands.h"

#include <QLineEdit>

#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/frmConsole.h"

void runConsoleCommand(frmConsole& k, const osc::Command& c) {
    using Kind = osc::Command::Kind;
    struct DeckHandlers {
        const char* autoName;
        void (frmConsole::*autoFade)();
        const char* scrollName;
        void (frmConsole::*scroll)();
    };
    static const DeckHandlers kHandlers[] = {
        {"cmdAudoFadeA_Click", &frmConsole::cmdAudoFadeA_Click, "SliderA_Scroll",
         &frmConsole::SliderA_Scroll},
        {"cmdAudoFadeB_Click", &frmConsole::cmdAudoFadeB_Click, "SliderB_Scroll",
         &frmConsole::SliderB_Scroll},
        {"cmdAudoFadeC_Click", &frmConsole::cmdAudoFadeC_Click, "SliderC_Scroll",
         &frmConsole::SliderC_Scroll},
    };
    const int deck = c.deck;
    switch (c.kind) {
    case Kind::Play:
        k.runHandler("Form_KeyDown", [&] { k.Form_KeyDown('A' + deck, 0); });
        break;
    case Kind::Auto:
        k.runHandler(kHandlers[deck].autoName, [&] { (k.*kHandlers[deck].autoFade)(); });
        break;
    case Kind::Stop: {
        MediaPlayer* players[] = {k.MediaPlayerA, k.MediaPlayerB, k.MediaPlayerC};
        k.runHandler("MediaPlayer Stop", [&] { players[deck]->stop(); });
        break;
    }
    case Kind::Volume: {
        ScrollSlider* sliders[] = {k.SliderA, k.SliderB, k.SliderC};
        k.runHandler(kHandlers[deck].scrollName, [&] {
            sliders[deck]->setValue(c.value);
            (k.*kHandlers[deck].scroll)();
        });
        break;
    }
    case Kind::FadeSeconds:
        // The text box raises its own change, which runs txtAutoFade_Change.
        k.txtAutoFade->setText(QString::fromStdString(c.text));
        break;
    case Kind::Reset:
        k.runHandler("cmdResetVolume_Click", [&] { k.cmdResetVolume_Click(); });
        break;
    case Kind::Status:
        break;
    }
}

void FaultsSaidOnce::operator()(const std::string& key, const std::string& message) {
    if (m_saidEnough || m_said.count(key) != 0)
        return;
    if (m_said.size() == m_most) {
        m_saidEnough = true;
        m_say("more faults than " + std::to_string(m_most) + "; the rest are not said");
        return;
    }
    m_said.insert(key);
    m_say(message);
}
