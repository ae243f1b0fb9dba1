#include "windows/frmAbout.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <array>

#include "AppInfo.h"
#include "common/Errors.h"
#include "platform/MessageBoxes.h"
#include "platform/Shell.h"
#include "platform/Twips.h"

using namespace registry;

namespace {

// Open the key with every right but delete and write-owner;
// the registry stand-ins only ever read.
constexpr std::uint32_t kKeyAllAccess = 0x2003F;
constexpr std::uint32_t kValueBufferSize = 1024;

const QString kSysInfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kSysInfoValue = QStringLiteral("PATH");
const QString kSysInfoLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kSysInfoLocationValue = QStringLiteral("MSINFO");
const QString kSysInfoProgram = QStringLiteral("\\MSINFO32.EXE");
const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Twips::toPixels(left), Twips::toPixels(top), Twips::toPixels(width), Twips::toPixels(height));
}

// A horizontal line drawn from x1 to x2 at y, thickness in pixels.
void placeLine(QFrame* line, int x1, int x2, int y, int thickness, const QColor& colour) {
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
    line->setGeometry(Twips::toPixels(x1), Twips::toPixels(y), Twips::toPixels(x2) - Twips::toPixels(x1), thickness);
}

void name(QWidget* w, const char* objectName, const QString& accessibleName) {
    w->setObjectName(QLatin1String(objectName));
    w->setAccessibleName(accessibleName);
}

QLabel* label(QWidget* parent, const QString& text, bool blackText) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setWordWrap(true);
    if (blackText) {
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(palette);
    }
    return l;
}

std::string toRegistryText(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// Keys are closed on every way out of a lookup, the failing ones included.
class OpenKey {
public:
    OpenKey(Registry& registry, HKEY key) : m_registry(registry), m_key(key) {}
    ~OpenKey() { m_registry.RegCloseKey(m_key); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

private:
    Registry& m_registry;
    HKEY m_key;
};

} // namespace

frmAbout::frmAbout(const QIcon& consoleIcon, Registry& registry, Shell& shell, MessageBoxes& messages,
                   QWidget* parent)
    : QDialog(parent), m_consoleIcon(consoleIcon), m_registry(registry), m_shell(shell),
      m_messages(messages) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    setGeometry(Twips::toPixels(2340), Twips::toPixels(1935), Twips::toPixels(5730), Twips::toPixels(3555));
    setFixedSize(Twips::toPixels(5730), Twips::toPixels(3555));

    picIcon = new QLabel(this);
    name(picIcon, "picIcon", QStringLiteral("Program icon"));
    place(picIcon, 240, 240, 480, 480);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    name(cmdOK, "cmdOK", QStringLiteral("OK"));
    place(cmdOK, 4245, 2625, 1260, 345);
    cmdOK->setDefault(true);

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    name(cmdSysInfo, "cmdSysInfo", QStringLiteral("System Info..."));
    place(cmdSysInfo, 4260, 3075, 1245, 345);

    const QString contact = QStringLiteral("Questions and suggestions are welcome: ask the Fadewell team.");
    Label1 = label(this, contact, false);
    name(Label1, "Label1", contact);
    place(Label1, 150, 3030, 3975, 375);

    Line1_1 = new QFrame(this);
    name(Line1_1, "Line1_1", QStringLiteral("Separator"));
    placeLine(Line1_1, 90, 5654, 2445, 1, QColor(128, 128, 128));

    const QString description = QStringLiteral("Audio Media Player Console and Mixer");
    lblDescription = label(this, description, true);
    name(lblDescription, "lblDescription", description);
    place(lblDescription, 1050, 1125, 3885, 1170);

    lblTitle = label(this, QStringLiteral("Application Title"), true);
    name(lblTitle, "lblTitle", QStringLiteral("Application Title"));
    place(lblTitle, 1050, 240, 3885, 480);

    Line1_0 = new QFrame(this);
    name(Line1_0, "Line1_0", QStringLiteral("Separator"));
    placeLine(Line1_0, 105, 5654, 2460, 2, Qt::white);
    // The grey half lies above the white one, as in the etched look.
    Line1_1->raise();

    lblVersion = label(this, QStringLiteral("Version"), false);
    name(lblVersion, "lblVersion", QStringLiteral("Version"));
    place(lblVersion, 1050, 780, 3885, 225);

    const QString notice = QStringLiteral("Fadewell comes with no warranty; check levels before going live.");
    lblDisclaimer = label(this, notice, true);
    name(lblDisclaimer, "lblDisclaimer", notice);
    place(lblDisclaimer, 150, 2610, 3990, 315);

    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    Form_Load();
}

void frmAbout::Form_Load() {
    const QString title = QString::fromLatin1(AppInfo::kTitle);
    setWindowTitle(QStringLiteral("About ") + title);
    lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                            .arg(AppInfo::kVersionMajor)
                            .arg(AppInfo::kVersionMinor)
                            .arg(AppInfo::kVersionRevision));
    lblVersion->setAccessibleName(lblVersion->text());
    lblTitle->setText(title);
    lblTitle->setAccessibleName(title);
    const QPixmap icon = m_consoleIcon.pixmap(QSize(32, 32));
    picIcon->setPixmap(icon);
    if (!icon.isNull())
        picIcon->resize(icon.deviceIndependentSize().toSize());
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    bool started = false;
    try {
        QString path;
        if (GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoKey, kSysInfoValue, path)) {
            // Taken as the tool's full path without looking for it; starting it is the test.
            m_shell.startProgram(path);
            started = true;
        } else if (GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoLocationKey, kSysInfoLocationValue, path)) {
            const QString program = path + kSysInfoProgram;
            if (m_shell.fileExists(program)) {
                m_shell.startProgram(program);
                started = true;
            }
        }
    } catch (...) {
        // Every failure on the way ends in the one message below.
    }
    if (!started)
        showUnavailable();
}

bool frmAbout::GetKeyValue(HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef, QString& KeyVal) {
    HKEY key = 0;
    if (m_registry.RegOpenKeyExA(KeyRoot, toRegistryText(KeyName), 0, kKeyAllAccess, &key) != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    const OpenKey closeOnExit(m_registry, key);

    std::array<std::uint8_t, kValueBufferSize> buffer{};
    std::uint32_t size = kValueBufferSize;
    std::uint32_t type = REG_NONE;
    if (m_registry.RegQueryValueExA(key, toRegistryText(SubKeyRef), nullptr, &type, buffer.data(), &size) !=
        ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    if (size == 0)
        throw FadewellError("Registry value \"" + SubKeyRef.toStdString() + "\" has no data");
    // A registry that claims more than the buffer holds must not make us read past it.
    if (size > kValueBufferSize)
        throw FadewellError("Registry value \"" + SubKeyRef.toStdString() + "\" is larger than its buffer");

    // A string value normally carries its terminating zero byte; it is not part of the text.
    const std::uint32_t kept = buffer[size - 1] == 0 ? size - 1 : size;
    switch (type) {
    case REG_SZ:
        KeyVal = QString::fromLocal8Bit(reinterpret_cast<const char*>(buffer.data()), kept);
        break;
    case REG_DWORD: {
        const std::uint32_t raw = std::uint32_t{buffer[0]} | std::uint32_t{buffer[1]} << 8 |
                                  std::uint32_t{buffer[2]} << 16 | std::uint32_t{buffer[3]} << 24;
        KeyVal = QString::number(static_cast<std::int32_t>(raw));
        break;
    }
    default:
        break;
    }
    return true;
}

void frmAbout::showUnavailable() {
    m_messages.show(this, kUnavailable, MessageBoxes::Buttons::Ok, MessageBoxes::Icon::None);
}
