// Files from outside the window: the command line's and those dropped from a file manager. Each
// goes through the deck's own load, with its refusals.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <algorithm>
#include <iterator>

#include "console/MediaPlayer.h"
#include "console/ScrollSlider.h"
#include "console/frmConsole.h"
#include "platform/MessageBoxes.h"

// Positional: a refused file leaves its deck as it was and the next file still goes to the next
// deck, so every file lands where the operator's order put it.
QStringList frmConsole::openFiles(const QStringList& paths) {
    const qsizetype onDecks = std::min<qsizetype>(paths.size(), std::ssize(m_decks));
    for (qsizetype i = 0; i < onDecks; ++i)
        loadFile(m_decks[static_cast<std::size_t>(i)], paths[i]);
    return paths.mid(onDecks);
}

frmConsole::Deck* frmConsole::firstEmptyDeck() {
    for (Deck& d : m_decks)
        if (!d.loaded)
            return &d;
    return nullptr;
}

frmConsole::Deck* frmConsole::deckAt(const QPoint& position) {
    const std::array<QWidget*, 3> rowLetters{Label1, Label2, Label3};
    const std::array<QWidget*, 3> sliderLetters{Label4, Label5, Label6};
    for (QWidget* w = childAt(position); w != nullptr && w != this; w = w->parentWidget()) {
        for (std::size_t i = 0; i < m_decks.size(); ++i) {
            const Deck& d = m_decks[i];
            const QWidget* own[] = {rowLetters[i],    d.player,        d.loadButton, d.clearButton,
                                    d.title,          d.length,        d.remaining,  d.slider,
                                    sliderLetters[i], d.autoFadeButton};
            if (std::find(std::begin(own), std::end(own), w) != std::end(own))
                return &m_decks[i];
        }
    }
    return nullptr;
}

void frmConsole::Form_DragDrop(const QList<QUrl>& urls, const QPoint& position) {
    QStringList notLoaded;
    QStringList files;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            notLoaded << QStringLiteral("%1: not a file on this computer").arg(url.toDisplayString());
            continue;
        }
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isDir())
            notLoaded << QStringLiteral("%1: a folder, not an audio file").arg(path);
        else
            files << path;
    }
    Deck* aimed = deckAt(position);
    if (aimed != nullptr && !files.isEmpty())
        loadFile(*aimed, files.takeFirst());
    // A deck whose load was refused stays empty, so the next file is offered to it.
    for (const QString& path : files) {
        if (Deck* empty = firstEmptyDeck())
            loadFile(*empty, path);
        else
            notLoaded << QStringLiteral("%1: every deck holds a file").arg(path);
    }
    if (!notLoaded.isEmpty())
        m_platform.messageBoxes.notify(this, QStringLiteral("Not loaded:\n") + notLoaded.join(u'\n'));
}

namespace {
// Only a copy: a drag offered as a move would let the file manager delete the file once dropped.
bool acceptAsCopy(QDropEvent* event) {
    if (!event->mimeData()->hasUrls() || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}
} // namespace

void frmConsole::dragEnterEvent(QDragEnterEvent* event) {
    acceptAsCopy(event);
}

void frmConsole::dragMoveEvent(QDragMoveEvent* event) {
    acceptAsCopy(event);
}

// The loads run after the drop has been answered, so the file manager is not held while a refusal's
// message box waits for the operator.
void frmConsole::dropEvent(QDropEvent* event) {
    if (!acceptAsCopy(event))
        return;
    const QList<QUrl> urls = event->mimeData()->urls();
    const QPoint position = event->position().toPoint();
    QMetaObject::invokeMethod(
        this,
        [this, urls, position] { m_failures.run("Form_DragDrop", [&] { Form_DragDrop(urls, position); }); },
        Qt::QueuedConnection);
}
