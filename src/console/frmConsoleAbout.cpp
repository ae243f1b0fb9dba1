#include "console/frmConsole.h"
#include "windows/frmAbout.h"

// The About window is built afresh at each opening and shown modally; the console's timers and
// players go on meanwhile. Parented to the console only so that it stays out of the taskbar.
void frmConsole::mnuHelpAbout_Click() {
    frmAbout about(m_icon, m_platform.registry, m_platform.shell, m_platform.messageBoxes, this);
    about.exec();
}
