// Files from outside the window: the command line's files and drops from a file manager, each
// through the deck's own load. Drops are delivered as Qt delivers them: a drag entering the widget
// under the point, then the drop, both sent to that widget and carried up to the window.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

#include "ConsoleFixture.h"

namespace {

struct DropResult {
    bool entered = false;
    bool accepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

QList<QUrl> urlsOf(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    return urls;
}

} // namespace

class FilesTest : public ConsoleTest {
protected:
    frmConsole& startShown() {
        frmConsole& c = start();
        c.show();
        return c;
    }

    // Drops the data at the centre of the widget, as a file manager's drag offering a move or a
    // copy does, and lets the loads that follow the drop run.
    DropResult dropOn(QWidget* target, QMimeData* data) {
        const QPoint centre = target->rect().center();
        DropResult result;
        QDragEnterEvent enter(centre, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        result.entered = enter.isAccepted();
        if (!result.entered)
            return result;
        QDropEvent drop(centre, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(target, &drop);
        result.accepted = drop.isAccepted();
        result.action = drop.dropAction();
        QCoreApplication::processEvents();
        return result;
    }
    DropResult dropOn(QWidget* target, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        return dropOn(target, &data);
    }

    // A place of the window that belongs to no deck: the display panel beside the live-deck flag.
    QWidget* windowPlace() { return console->Label11; }

    QString notAudio(const QString& name) {
        const QString path = dirPath() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("these are my notes, not audio\n");
        return path;
    }

    // Deck A playing, on air.
    void putAOnAir(frmConsole& c, const QString& song) {
        load('A', song);
        c.MediaPlayerA->play();
        c.tmrRemainingTime_Timer();
        advance(0.3);
        ASSERT_EQ(c.liveDeck(), "A");
    }

    void expectAOnAir(frmConsole& c, const QString& song) {
        EXPECT_EQ(c.MediaPlayerA->fileName(), song);
        EXPECT_EQ(c.MediaPlayerA->playState(), MediaPlayer::Playing);
        EXPECT_EQ(c.lblMediaA->text(), QFileInfo(song).completeBaseName());
        EXPECT_EQ(c.liveDeck(), "A");
        EXPECT_GT(rmsDb(advance(0.3)), -30.0) << "deck A is still heard";
    }
};

TEST_F(FilesTest, CommandLineFilesGoToDecksAToCHaltedAsTheButtonLoadsThem) {
    frmConsole& c = startShown();
    c.SliderC->setValue(70);
    const QStringList files{tone("one.wav", 61.5), tone("two.wav", 2), tone("three.wav", 3)};
    EXPECT_TRUE(c.openFiles(files).isEmpty());
    EXPECT_EQ(c.lblMediaA->text(), "one");
    EXPECT_EQ(c.lblMediaB->text(), "two");
    EXPECT_EQ(c.lblMediaC->text(), "three");
    EXPECT_EQ(c.lblDurationA->text(), "1:01.5");
    for (int deck = 0; deck < 3; ++deck)
        EXPECT_TRUE(c.deckLoaded(deck)) << deck;
    for (MediaPlayer* p : {c.MediaPlayerA, c.MediaPlayerB, c.MediaPlayerC})
        EXPECT_NE(p->playState(), MediaPlayer::Playing);
    EXPECT_EQ(c.MediaPlayerC->fileName(), files[2]);
    // Auto Set Volume, as for the load button: the slider to 20 and the deck at that level.
    EXPECT_EQ(c.SliderC->value(), 20);
    EXPECT_EQ(c.MediaPlayerC->volume(), -820);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(dialog.opened, 0) << "no file dialog for files already named";
    EXPECT_LT(rmsDb(advance(0.3)), -90.0) << "nothing plays until the operator starts it";
}

TEST_F(FilesTest, FilesBeyondTheThirdAreReturnedNotLoaded) {
    frmConsole& c = startShown();
    const QStringList files{tone("1.wav", 1), tone("2.wav", 1), tone("3.wav", 1), tone("4.wav", 1),
                            tone("5.wav", 1)};
    EXPECT_EQ(c.openFiles(files), QStringList({files[3], files[4]}));
    EXPECT_EQ(c.MediaPlayerC->fileName(), files[2]);
    EXPECT_TRUE(c.openFiles({}).isEmpty());
}

// An empty name given to the player would empty the deck, which only its clear button may do.
TEST_F(FilesTest, AnEmptyNameLeavesTheDeckItsFile) {
    frmConsole& c = startShown();
    const QString song = tone("song.wav", 2);
    c.openFiles({song});
    c.openFiles({QString()});
    EXPECT_EQ(c.MediaPlayerA->fileName(), song);
    EXPECT_EQ(c.lblMediaA->text(), "song");
    EXPECT_TRUE(c.deckLoaded(0));
}

// The operator's order holds: the file after a refused one still goes to the next deck.
TEST_F(FilesTest, ABadFileAmongThemIsNamedAndItsDeckStaysAsItWas) {
    frmConsole& c = startShown();
    c.SliderB->setValue(55);
    const QStringList files{tone("one.wav", 1), notAudio("notes.mp3"), tone("three.wav", 1)};
    EXPECT_TRUE(c.openFiles(files).isEmpty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].modal);
    EXPECT_NE(boxes.shown[0].prompt.indexOf("notes.mp3"), -1) << boxes.shown[0].prompt.toStdString();
    EXPECT_FALSE(c.deckLoaded(1));
    EXPECT_TRUE(c.MediaPlayerB->fileName().isEmpty());
    EXPECT_TRUE(c.lblMediaB->text().isEmpty());
    EXPECT_EQ(c.SliderB->value(), 55) << "a refused file does not move the slider";
    EXPECT_EQ(c.lblMediaA->text(), "one");
    EXPECT_EQ(c.lblMediaC->text(), "three");
    EXPECT_TRUE(c.deckLoaded(2));
}

// Any control of deck B takes a drop for deck B, even with deck B on air; a drop offered as a move
// is taken as a copy, so the file manager never deletes the file.
TEST_F(FilesTest, AFileDroppedOnADeckLoadsThatDeckAsACopy) {
    frmConsole& c = startShown();
    QWidget* places[] = {c.MediaPlayerB,    c.MediaPlayerB->findChild<QToolButton*>("playButton"),
                         c.lblMediaB,       c.cmdMediaB,
                         c.cmdClearPlayerB, c.Label2,
                         c.lblRemainingB,   c.SliderB,
                         c.cmdAudoFadeB};
    int n = 0;
    for (QWidget* place : places) {
        ASSERT_NE(place, nullptr);
        const QString song = tone("song" + std::to_string(++n) + ".wav", 2);
        const DropResult r = dropOn(place, urlsOf({song}));
        EXPECT_TRUE(r.entered) << place->objectName().toStdString();
        EXPECT_TRUE(r.accepted);
        EXPECT_EQ(r.action, Qt::CopyAction);
        EXPECT_EQ(c.MediaPlayerB->fileName(), song) << place->objectName().toStdString();
        EXPECT_EQ(c.lblMediaB->text(), QStringLiteral("song%1").arg(n));
        EXPECT_TRUE(c.deckLoaded(1));
        EXPECT_FALSE(c.deckLoaded(0));
        EXPECT_FALSE(c.deckLoaded(2));
        if (n == 3) {
            c.MediaPlayerB->play();
            c.tmrRemainingTime_Timer();
        }
    }
    EXPECT_EQ(c.MediaPlayerB->playState(), MediaPlayer::Stopped) << "the aimed deck took its new file halted";
    EXPECT_TRUE(QFile::exists(dirPath() + "/song1.wav"));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(FilesTest, FilesDroppedOnTheWindowFillTheEmptyDecksAndLeaveTheLiveDeckAlone) {
    frmConsole& c = startShown();
    const QString song = tone("song.wav", 5);
    putAOnAir(c, song);
    const QString b = tone("b.wav", 2), cc = tone("c.wav", 2);
    const DropResult r = dropOn(windowPlace(), urlsOf({b, cc}));
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(c.MediaPlayerB->fileName(), b);
    EXPECT_EQ(c.MediaPlayerC->fileName(), cc);
    EXPECT_EQ(c.lblMediaB->text(), "b");
    EXPECT_EQ(c.lblMediaC->text(), "c");
    expectAOnAir(c, song);
    EXPECT_TRUE(boxes.shown.empty());

    // Every deck holds a file: nothing is touched, and the message names what was not loaded.
    const QString late = tone("late.wav", 2);
    dropOn(windowPlace(), urlsOf({late}));
    expectAOnAir(c, song);
    EXPECT_EQ(c.MediaPlayerB->fileName(), b);
    EXPECT_EQ(c.MediaPlayerC->fileName(), cc);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(boxes.shown[0].modal) << "the show goes on while the message stands";
    EXPECT_NE(boxes.shown[0].prompt.indexOf(late), -1) << boxes.shown[0].prompt.toStdString();
    EXPECT_NE(boxes.shown[0].prompt.indexOf("every deck holds a file"), -1);
}

// Several files on one deck: the aimed deck takes the first, the others fill the decks that hold
// no file, and a deck on air that was not aimed at is left alone.
TEST_F(FilesTest, SeveralFilesOnOneDeckFillTheEmptyDecksAfterIt) {
    frmConsole& c = startShown();
    const QString song = tone("song.wav", 5);
    putAOnAir(c, song);
    const QString first = tone("first.wav", 2), second = tone("second.wav", 2), third = tone("third.wav", 2);
    dropOn(c.lblMediaC, urlsOf({first, second, third}));
    EXPECT_EQ(c.MediaPlayerC->fileName(), first);
    EXPECT_EQ(c.MediaPlayerB->fileName(), second);
    expectAOnAir(c, song);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].prompt.indexOf(third), -1);
}

// A refused file leaves its deck empty, and the next file is offered to that deck.
TEST_F(FilesTest, ARefusedDropIsNamedAndTheNextFileTakesTheDeckItLeftEmpty) {
    frmConsole& c = startShown();
    const QString bad = notAudio("notes.wav"), good = tone("good.wav", 2);
    dropOn(windowPlace(), urlsOf({bad, good}));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].modal) << "the load button's own refusal";
    EXPECT_NE(boxes.shown[0].prompt.indexOf("notes.wav"), -1);
    EXPECT_EQ(c.MediaPlayerA->fileName(), good);
    EXPECT_FALSE(c.deckLoaded(1));
}

TEST_F(FilesTest, WhatIsNotAFileIsRefusedByName) {
    frmConsole& c = startShown();
    const QString song = tone("song.wav", 5);
    putAOnAir(c, song);
    QDir(dirPath()).mkdir("Music");
    const QList<QUrl> urls{QUrl("https://example.org/song.mp3"), QUrl::fromLocalFile(dirPath() + "/Music")};
    dropOn(c.MediaPlayerA, urls);
    expectAOnAir(c, song);
    EXPECT_FALSE(c.deckLoaded(1));
    EXPECT_FALSE(c.deckLoaded(2));
    ASSERT_EQ(boxes.shown.size(), 1u);
    const QString prompt = boxes.shown[0].prompt;
    EXPECT_NE(prompt.indexOf("https://example.org/song.mp3: not a file on this computer"), -1)
        << prompt.toStdString();
    EXPECT_NE(prompt.indexOf(dirPath() + "/Music: a folder"), -1) << prompt.toStdString();

    // A drag of plain text is not taken at all.
    QMimeData text;
    text.setText(song);
    EXPECT_FALSE(dropOn(c.lblMediaB, &text).entered);
    EXPECT_FALSE(c.deckLoaded(1));
}
