// The real file-open dialog (Qt's own, as on a desktop without a native one), driven headless: a
// file is chosen by typing its name or by picking it from the list, whatever characters the name
// has. Qt reads double quotes in the name field as the marks around several names, so a name with
// double quotes in it was "not found".
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "platform/FileDialog.h"

namespace {

// Puts up the dialog as the console does, lets `act` answer it once it is shown, and returns the
// name it chose ("" when it chose none). A message box it raises (Qt's "File not found") is kept in
// `warnings` and closed; a dialog still open a while after `act` is cancelled.
QString choose(const std::function<void(QFileDialog&)>& act, QStringList& warnings) {
    QtFileDialog dialog;
    bool acting = false;
    int pollsAfter = -1;
    QTimer poll; // never the one running `act`: Qt fires no timer inside its own handler
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) { // also while `act` waits for it
            warnings << box->text();
            box->done(QMessageBox::Ok);
            return;
        }
        auto* fileDialog = qobject_cast<QFileDialog*>(modal);
        if (fileDialog == nullptr || acting)
            return;
        if (pollsAfter < 0) {
            pollsAfter = 0;
            acting = true;
            QTimer::singleShot(0, fileDialog, [&act, &acting, fileDialog] {
                act(*fileDialog);
                acting = false;
            });
        } else if (++pollsAfter > 25) {
            fileDialog->reject();
        }
    });
    poll.start();
    const bool chosen = dialog.ShowOpen(nullptr);
    poll.stop();
    EXPECT_EQ(chosen, !dialog.FileName().isEmpty());
    return dialog.FileName();
}

void typeName(QFileDialog& dialog, const QString& folder, const QString& name) {
    dialog.setDirectory(folder);
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            QTest::keyClick(edit, c.toLatin1());
        else
            edit->insert(c); // what a keyboard layout or an input method would enter
    }
    QTest::keyClick(edit, Qt::Key_Return);
}

void pickName(QFileDialog& dialog, const QString& folder, const QString& name) {
    dialog.setDirectory(folder);
    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    QModelIndex item;
    const bool listed = QTest::qWaitFor(
        [&] {
            const QAbstractItemModel* model = list->model();
            for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
                const QModelIndex index = model->index(row, 0, list->rootIndex());
                if (index.data().toString() == name) {
                    item = index;
                    return true;
                }
            }
            return false;
        },
        5000);
    ASSERT_TRUE(listed) << name.toStdString() << " is not in the list";
    list->scrollTo(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(buttons, nullptr);
    QPushButton* open = buttons->button(QDialogButtonBox::Open);
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(open->isEnabled());
    QTest::mouseClick(open, Qt::LeftButton);
}

class FileDialogNames : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        QFile file(folder.filePath(name()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << GetParam();
        file.write("sound");
        // A neighbour whose name is a piece of the quoted one, which Qt's reading of quotes picks.
        QFile piece(folder.filePath(QStringLiteral("quoted")));
        ASSERT_TRUE(piece.open(QIODevice::WriteOnly));
    }
    QString name() const { return QString::fromUtf8(GetParam()); }
    QString path() const { return QDir(folder.path()).filePath(name()); }
    QTemporaryDir folder;
};

TEST_P(FileDialogNames, ATypedNameIsChosenAsItStands) {
    if (name().contains(u'\t'))
        GTEST_SKIP() << "a tab cannot be typed in the name field (it moves to the next field)";
    QStringList warnings;
    const QString chosen = choose([&](QFileDialog& d) { typeName(d, folder.path(), name()); }, warnings);
    EXPECT_EQ(chosen.toStdString(), path().toStdString());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(" / ").toStdString();
}

TEST_P(FileDialogNames, ANamePickedFromTheListIsChosen) {
    QStringList warnings;
    const QString chosen = choose([&](QFileDialog& d) { pickName(d, folder.path(), name()); }, warnings);
    EXPECT_EQ(chosen.toStdString(), path().toStdString());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(" / ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryKindOfName, FileDialogNames,
                         ::testing::Values("plain.wav", "It's a \"quoted\" name with spaces.ogg",
                                           "dq\"name\".flac", "\"whole name in quotes\".mp3",
                                           "two \"\" quotes.wav", "back\\slash and star*.wav",
                                           "tab\there.wav", "ünïcødé ♫.flac"),
                         [](const auto& info) { return "Name" + std::to_string(info.index); });

// A name that is not there is still refused, and the dialog stays open for another try.
TEST(FileDialog, AMissingTypedNameIsNotChosen) {
    QTemporaryDir folder;
    QStringList warnings;
    const QString chosen = choose(
        [&](QFileDialog& d) { typeName(d, folder.path(), QStringLiteral("not \"there\".wav")); }, warnings);
    EXPECT_EQ(chosen.toStdString(), "");
}

} // namespace
