#pragma once
// The About window: which program and version is running, and a button that starts the desktop's
// system information tool, found through the registry. Built afresh at each opening and shown
// modally; Form_Load runs in the constructor. UI thread only.
#include <QDialog>
#include <QIcon>
#include <QString>

#include "platform/Registry.h"

class MessageBoxes;
class Shell;
class QFrame;
class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(const QIcon& consoleIcon, registry::Registry& registry, Shell& shell, MessageBoxes& messages,
             QWidget* parent = nullptr);

    void cmdOK_Click();
    void cmdSysInfo_Click();

    // Finds and starts the system information tool, or says in one message that it is unavailable.
    void StartSysInfo();
    // Reads one value under KeyRoot\KeyName as text into KeyVal. False, with KeyVal empty, when the key
    // or the value cannot be read; a value of a type other than string or 32-bit number leaves KeyVal
    // as it was. Throws FadewellError for a value of length 0.
    bool GetKeyValue(registry::HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                     QString& KeyVal);

    // Controls, in their order on the window. Line1 index 0 (white) and 1 (grey) are two thin frames
    // named "Line1_0" and "Line1_1" that together draw the etched separator.
    QLabel* picIcon;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
    QLabel* Label1;
    QFrame* Line1_1;
    QLabel* lblDescription;
    QLabel* lblTitle;
    QFrame* Line1_0;
    QLabel* lblVersion;
    QLabel* lblDisclaimer;

private:
    void Form_Load();
    void showUnavailable();

    QIcon m_consoleIcon;
    registry::Registry& m_registry;
    Shell& m_shell;
    MessageBoxes& m_messages;
};
