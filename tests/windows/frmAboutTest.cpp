#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "common/Errors.h"
#include "platform/SystemRegistry.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeShell.h"
#include "support/MemoryRegistry.h"
#include "windows/frmAbout.h"

using namespace registry;

namespace {

const std::string kToolKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

QIcon consoleIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

class AboutBox : public ::testing::Test {
protected:
    void TearDown() override {
        // Whatever the lookup met, it leaves no key open and closes none twice.
        EXPECT_EQ(registry.openKeyCount(), 0u);
        EXPECT_EQ(registry.badCloses, 0);
    }

    void expectOneUnavailableMessage() {
        ASSERT_EQ(messages.shown.size(), 1u);
        const auto& box = messages.shown.front();
        EXPECT_EQ(box.prompt, kUnavailable);
        EXPECT_EQ(box.buttons, MessageBoxes::Buttons::Ok);
        EXPECT_EQ(box.icon, MessageBoxes::Icon::None);
        EXPECT_TRUE(box.title.isEmpty() || box.title == QStringLiteral("Fadewell"))
            << box.title.toStdString();
        EXPECT_TRUE(box.modal);
    }

    MemoryRegistry registry;
    FakeShell shell;
    FakeMessageBoxes messages;
    frmAbout about{consoleIcon(), registry, shell, messages};
};

TEST_F(AboutBox, ShowsTitleVersionAndTheConsoleIconAtLoad) {
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Fadewell"));
    EXPECT_EQ(about.lblTitle->text(), QStringLiteral("Fadewell"));
    // Plain numbers, not the zero-padded file-version form.
    EXPECT_EQ(about.lblVersion->text(), QStringLiteral("Version 1.0.12"));
    EXPECT_EQ(about.lblDescription->text(), QStringLiteral("Audio Media Player Console and Mixer"));
    ASSERT_FALSE(about.picIcon->pixmap().isNull());
    EXPECT_EQ(about.picIcon->pixmap().toImage().pixelColor(16, 16), QColor(Qt::red));
    EXPECT_FALSE(about.Label1->text().isEmpty());
    EXPECT_FALSE(about.lblDisclaimer->text().isEmpty());
}

TEST_F(AboutBox, IsAFixedDialogWithItsControlsAtTheirPlaces) {
    EXPECT_EQ(about.minimumSize(), QSize(382, 237));
    EXPECT_EQ(about.maximumSize(), QSize(382, 237));
    EXPECT_EQ(about.geometry().topLeft(), QPoint(156, 129));
    const auto flags = about.windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);

    struct Place {
        const char* name;
        QRect pixels;
    };
    // Twips from the window definition, divided by 15.
    for (const Place& p :
         {Place{"picIcon", {16, 16, 32, 32}}, Place{"cmdOK", {283, 175, 84, 23}},
          Place{"cmdSysInfo", {284, 205, 83, 23}}, Place{"Label1", {10, 202, 265, 25}},
          Place{"Line1_1", {6, 163, 371, 1}}, Place{"lblDescription", {70, 75, 259, 78}},
          Place{"lblTitle", {70, 16, 259, 32}}, Place{"Line1_0", {7, 164, 370, 2}},
          Place{"lblVersion", {70, 52, 259, 15}}, Place{"lblDisclaimer", {10, 174, 266, 21}}}) {
        auto* w = about.findChild<QWidget*>(QLatin1String(p.name));
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), p.pixels) << p.name;
        EXPECT_FALSE(w->accessibleName().isEmpty()) << p.name;
    }
    EXPECT_TRUE(about.cmdOK->isDefault());
}

TEST_F(AboutBox, KeepsItsStoredPlaceWhenShownOverTheConsole) {
    QWidget console;
    console.setGeometry(400, 300, 687, 404);
    console.show();
    frmAbout owned{consoleIcon(), registry, shell, messages, &console};
    owned.show();
    // A dialog with a parent is centred over it unless its place was set.
    EXPECT_EQ(owned.geometry().topLeft(), QPoint(156, 129)); // the client area, not the frame
    EXPECT_EQ(owned.size(), QSize(382, 237));
}

// Runs the box modally, as the console does, pressing a key on the focused control once it is up.
// Returns exec's result, or -1 if the key did not close the box.
int execAndPress(frmAbout& about, Qt::Key key) {
    QTimer::singleShot(0, &about, [&about, key] {
        QWidget* target = about.focusWidget() != nullptr ? about.focusWidget() : &about;
        QTest::keyClick(target, key);
    });
    QTimer::singleShot(2000, &about, [&about] { about.done(-1); });
    return about.exec();
}

TEST_F(AboutBox, EscapeClosesTheModalBox) {
    EXPECT_NE(execAndPress(about, Qt::Key_Escape), -1);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutBox, EnterClosesTheModalBoxThroughOK) {
    EXPECT_NE(execAndPress(about, Qt::Key_Return), -1);
    EXPECT_FALSE(about.isVisible());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AboutBox, OKClosesTheBox) {
    about.show();
    about.cmdOK->click();
    EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutBox, PathValueIsStartedWithoutReadingTheSecondKey) {
    const QString tool = QStringLiteral("C:\\Program Files\\Info\\MSINFO32.EXE");
    registry.setString(HKEY_LOCAL_MACHINE, kToolKey, "PATH", tool.toStdString());
    registry.setString(HKEY_LOCAL_MACHINE, kLocationKey, "MSINFO", "C:\\Elsewhere");
    shell.files = {tool};

    about.cmdSysInfo->click();

    EXPECT_EQ(shell.started, QStringList{tool});
    EXPECT_TRUE(shell.probed.isEmpty()); // the path is not checked before starting
    EXPECT_EQ(registry.openedKeys(), std::vector<std::string>{kToolKey});
    ASSERT_EQ(registry.opens.size(), 1u);
    EXPECT_EQ(registry.opens[0].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(registry.opens[0].options, 0u);
    EXPECT_EQ(registry.opens[0].samDesired, 0x2003Fu);
    ASSERT_EQ(registry.queries.size(), 1u);
    EXPECT_EQ(registry.queries[0].valueName, "PATH");
    EXPECT_EQ(registry.queries[0].bufferSize, 1024u);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AboutBox, FolderOfTheSecondKeyHoldingTheProgramIsStarted) {
    registry.addKey(HKEY_LOCAL_MACHINE, kToolKey); // the key without its PATH value
    registry.setString(HKEY_LOCAL_MACHINE, kLocationKey, "MSINFO", "C:\\Shared\\MSInfo");
    shell.files = {QStringLiteral("C:\\Shared\\MSInfo\\MSINFO32.EXE")};

    about.StartSysInfo();

    EXPECT_EQ(registry.openedKeys(), (std::vector<std::string>{kToolKey, kLocationKey}));
    EXPECT_EQ(shell.probed, QStringList{"C:\\Shared\\MSInfo\\MSINFO32.EXE"});
    EXPECT_EQ(shell.started, QStringList{"C:\\Shared\\MSInfo\\MSINFO32.EXE"});
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AboutBox, FolderWithoutTheProgramShowsTheMessage) {
    registry.setString(HKEY_LOCAL_MACHINE, kLocationKey, "MSINFO", "C:\\Shared\\MSInfo");
    shell.files = {QStringLiteral("C:\\Shared\\MSInfo\\OTHER.EXE")};

    about.StartSysInfo();

    EXPECT_EQ(shell.probed, QStringList{"C:\\Shared\\MSInfo\\MSINFO32.EXE"});
    EXPECT_TRUE(shell.startAttempts.isEmpty());
    expectOneUnavailableMessage();
}

TEST_F(AboutBox, NeitherKeyShowsTheMessage) {
    about.StartSysInfo();

    EXPECT_EQ(registry.openedKeys(), (std::vector<std::string>{kToolKey, kLocationKey}));
    EXPECT_TRUE(shell.probed.isEmpty());
    EXPECT_TRUE(shell.startAttempts.isEmpty());
    expectOneUnavailableMessage();
}

TEST_F(AboutBox, PathNamingAMissingFileFailsToStartAndSkipsTheSecondKey) {
    registry.setString(HKEY_LOCAL_MACHINE, kToolKey, "PATH", "C:\\Gone\\MSINFO32.EXE");
    registry.setString(HKEY_LOCAL_MACHINE, kLocationKey, "MSINFO", "C:\\Shared\\MSInfo");
    shell.files = {QStringLiteral("C:\\Shared\\MSInfo\\MSINFO32.EXE")};

    about.StartSysInfo();

    EXPECT_EQ(shell.startAttempts, QStringList{"C:\\Gone\\MSINFO32.EXE"});
    EXPECT_EQ(registry.openedKeys(), std::vector<std::string>{kToolKey});
    expectOneUnavailableMessage();
}

TEST_F(AboutBox, PathOfAnotherTypeStartsAnEmptyPathAndShowsTheMessage) {
    registry.setValue(HKEY_LOCAL_MACHINE, kToolKey, "PATH", REG_BINARY, {'C', ':', '\\', 'x'});
    registry.setString(HKEY_LOCAL_MACHINE, kLocationKey, "MSINFO", "C:\\Shared\\MSInfo");

    about.StartSysInfo();

    EXPECT_EQ(shell.startAttempts, QStringList{QString()});
    EXPECT_EQ(registry.openedKeys(), std::vector<std::string>{kToolKey});
    expectOneUnavailableMessage();
}

TEST_F(AboutBox, ZeroLengthPathShowsTheMessageAndClosesTheKey) {
    registry.setValue(HKEY_LOCAL_MACHINE, kToolKey, "PATH", REG_SZ, {});
    registry.setString(HKEY_LOCAL_MACHINE, kLocationKey, "MSINFO", "C:\\Shared\\MSInfo");
    shell.files = {QStringLiteral("C:\\Shared\\MSInfo\\MSINFO32.EXE")};

    about.StartSysInfo();

    EXPECT_EQ(registry.openedKeys(), std::vector<std::string>{kToolKey});
    EXPECT_TRUE(shell.startAttempts.isEmpty());
    expectOneUnavailableMessage(); // TearDown checks the key was closed
}

TEST_F(AboutBox, EachFailedClickShowsExactlyOneMessage) {
    about.show();
    about.cmdSysInfo->click();
    about.cmdSysInfo->click();
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].prompt, kUnavailable);
    EXPECT_TRUE(about.isVisible()); // the box stays open and usable
}

TEST_F(AboutBox, SystemRegistryToolIsStartedFromItsFullPath) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    QFile tool(bin.filePath(QStringLiteral("kinfocenter")));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));

    SystemRegistry system;
    frmAbout real{consoleIcon(), system, shell, messages};
    shell.files = {tool.fileName()};
    real.StartSysInfo();
    qputenv("PATH", savedPath);

    EXPECT_EQ(shell.started, QStringList{tool.fileName()});
    EXPECT_TRUE(messages.shown.empty());
}

// GetKeyValue on its own: how the value's bytes become text.
class KeyValue : public AboutBox {
protected:
    bool read(QString& value) { return about.GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V", value); }
    void store(std::uint32_t type, std::vector<std::uint8_t> bytes) {
        registry.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V", type, std::move(bytes));
    }
};

TEST_F(KeyValue, DropsOnlyAFinalZeroByte) {
    QString value;
    registry.setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V", "abc", true);
    ASSERT_TRUE(read(value));
    EXPECT_EQ(value, QStringLiteral("abc"));

    registry.setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V", "abc", false);
    ASSERT_TRUE(read(value));
    EXPECT_EQ(value, QStringLiteral("abc"));

    store(REG_SZ, {'a', 'b', 0, 0});
    ASSERT_TRUE(read(value));
    EXPECT_EQ(value, QString::fromLatin1("ab\0", 3));
}

TEST_F(KeyValue, KeepsAllBytesOfAFullBufferWithoutTerminator) {
    store(REG_SZ, std::vector<std::uint8_t>(1024, 'x'));
    QString value;
    ASSERT_TRUE(read(value));
    EXPECT_EQ(value, QString(1024, u'x'));
}

TEST_F(KeyValue, ValueTooLargeForTheBufferIsNotRead) {
    store(REG_SZ, std::vector<std::uint8_t>(1025, 'x'));
    QString value = QStringLiteral("before");
    EXPECT_FALSE(read(value));
    EXPECT_TRUE(value.isEmpty());
}

TEST_F(KeyValue, DwordIsSignedDecimal) {
    for (std::int32_t n : {0, 5, 256, -1, -4100, 2147483647, -2147483647 - 1}) {
        registry.setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V", n);
        QString value;
        ASSERT_TRUE(read(value)) << n;
        EXPECT_EQ(value, QString::number(n)) << n;
    }
}

TEST_F(KeyValue, OtherTypesLeaveTheValueAsItWas) {
    for (std::uint32_t type : {REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ}) {
        store(type, {'n', 'e', 'w', 0});
        QString value = QStringLiteral("before");
        EXPECT_TRUE(read(value)) << type;
        EXPECT_EQ(value, QStringLiteral("before")) << type;
    }
}

TEST_F(KeyValue, MissingKeyOrValueEmptiesTheValue) {
    QString value = QStringLiteral("before");
    EXPECT_FALSE(read(value));
    EXPECT_TRUE(value.isEmpty());

    registry.setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Other", "x");
    value = QStringLiteral("before");
    EXPECT_FALSE(read(value));
    EXPECT_TRUE(value.isEmpty());
}

TEST_F(KeyValue, ZeroLengthRaisesAndStillClosesTheKey) {
    store(REG_DWORD, {});
    QString value;
    EXPECT_THROW(read(value), FadewellError); // TearDown checks the key was closed
}

} // namespace
