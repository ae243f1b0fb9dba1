#include "audio/MediaPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "audio/AudioEngine.h"
#include "common/Errors.h"

namespace {
constexpr std::int32_t kSilence = -10000;
constexpr int kRefreshMs = 100;
} // namespace

// Hands the engine's notifications to the player.
class MediaPlayer::EngineEvents final : public AudioEngine::Listener {
public:
    explicit EngineEvents(MediaPlayer& player) : m_player(player) {}
    void deckEnded() override { m_player.onEnded(); }
    void deckLengthKnown() override { m_player.onLengthKnown(); }
    void deckLost(const std::string& reason) override { m_player.onLost(reason); }

private:
    MediaPlayer& m_player;
};

// A bar filled up to the position; a click or a drag seeks there.
class MediaPlayer::PositionBar final : public QWidget {
public:
    explicit PositionBar(QWidget* parent) : QWidget(parent) {
        setMinimumHeight(8);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(12);
        setCursor(Qt::PointingHandCursor);
    }
    std::function<void(double fraction)> onSeek;

    void setFraction(double fraction) {
        fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
        if (std::abs(fraction - m_fraction) * width() < 0.5 && fraction != 0.0)
            return;
        m_fraction = fraction;
        update();
    }
    double fraction() const { return m_fraction; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = rect().adjusted(0, 2, -1, -3);
        p.fillRect(r, palette().color(QPalette::Base));
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(r);
        const int filled = static_cast<int>(std::lround(m_fraction * (r.width() - 1)));
        if (filled > 0)
            p.fillRect(QRect(r.left() + 1, r.top() + 1, filled, r.height() - 1),
                       palette().color(QPalette::Highlight));
    }
    void mousePressEvent(QMouseEvent* e) override { seekTo(e->position().x()); }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (e->buttons() & Qt::LeftButton)
            seekTo(e->position().x());
    }

private:
    void seekTo(double x) {
        const double fraction = std::clamp(x / std::max(1, width() - 1), 0.0, 1.0);
        m_fraction = fraction;
        update();
        if (onSeek)
            onSeek(fraction);
    }
    double m_fraction = 0.0;
};

MediaPlayer::MediaPlayer(AudioEngine& engine, QWidget* parent)
    : QWidget(parent), m_engine(engine), m_events(std::make_unique<EngineEvents>(*this)) {
    m_deck = m_engine.attachDeck(*m_events);
    setFocusPolicy(Qt::StrongFocus);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    m_transport = new QWidget(this);
    m_transport->setObjectName("transport");
    auto* row = new QHBoxLayout(m_transport);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    const auto makeButton = [this, row](const char* name, QStyle::StandardPixmap icon, const QString& tip) {
        auto* b = new QToolButton(m_transport);
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        b->setAccessibleName(tip); // read within the player's own name ("Deck A player")
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus); // the player itself takes the focus and answers the keys
        row->addWidget(b);
        return b;
    };
    m_playButton = makeButton("playButton", QStyle::SP_MediaPlay, tr("Play"));
    m_pauseButton = makeButton("pauseButton", QStyle::SP_MediaPause, tr("Pause"));
    m_stopButton = makeButton("stopButton", QStyle::SP_MediaStop, tr("Stop"));
    row->addStretch(1);
    column->addWidget(m_transport);
    m_positionBar = new PositionBar(this);
    m_positionBar->setObjectName("positionBar");
    m_positionBar->setAccessibleName(tr("Position"));
    column->addWidget(m_positionBar);
    column->addStretch(1);

    // A button failing (play with no file) has nothing to tell the operator: the buttons of a
    // player without a file are disabled anyway.
    connect(m_playButton, &QToolButton::clicked, this, [this] { skipOnFailure([this] { play(); }); });
    connect(m_pauseButton, &QToolButton::clicked, this, [this] { skipOnFailure([this] { halt(); }); });
    connect(m_stopButton, &QToolButton::clicked, this, [this] { skipOnFailure([this] { stop(); }); });
    m_positionBar->onSeek = [this](double fraction) { setCurrentPosition(fraction * duration()); };

    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &MediaPlayer::updateDisplay);
    m_refresh->start();
    updateDisplay();
}

MediaPlayer::~MediaPlayer() {
    m_engine.detachDeck(m_deck);
}

void MediaPlayer::setFileName(const QString& path) {
    if (path.isEmpty()) {
        if (m_fileName.isEmpty())
            return;
        m_engine.unload(m_deck);
        m_fileName.clear();
        setPlayState(Stopped);
        setOpenState(Closed);
        updateDisplay();
        return;
    }
    m_engine.load(m_deck, path.toStdString()); // throws, leaving everything as it was
    m_fileName = path;
    m_engine.setGain(m_deck,
                     m_volume <= kSilence ? 0.0f : static_cast<float>(std::pow(10.0, m_volume / 2000.0)));
    setPlayState(Stopped);
    setOpenState(Opening);
    if (m_engine.deckInfo(m_deck).exact)
        setOpenState(Open);
    updateDisplay();
}

QString MediaPlayer::fileName() const {
    return m_fileName;
}

double MediaPlayer::duration() const {
    return m_fileName.isEmpty() ? 0.0 : m_engine.deckInfo(m_deck).duration;
}

double MediaPlayer::currentPosition() const {
    return m_fileName.isEmpty() ? 0.0 : m_engine.position(m_deck);
}

int MediaPlayer::playState() const {
    return m_playState;
}

void MediaPlayer::setVolume(std::int32_t hundredthsOfDb) {
    if (hundredthsOfDb > 0)
        throw PlayerError("A player volume above 0 is not allowed (" + std::to_string(hundredthsOfDb) + ")");
    m_volume = hundredthsOfDb;
    const float gain =
        hundredthsOfDb <= kSilence ? 0.0f : static_cast<float>(std::pow(10.0, hundredthsOfDb / 2000.0));
    m_engine.setGain(m_deck, gain);
}

std::int32_t MediaPlayer::volume() const {
    return m_volume;
}

void MediaPlayer::play() {
    if (m_fileName.isEmpty())
        throw PlayerError("The player holds no file to play");
    if (m_playState == Playing)
        return;
    m_engine.setPlaying(m_deck, true);
    setPlayState(Playing);
}

void MediaPlayer::halt() {
    if (m_playState != Playing)
        return;
    m_engine.setPlaying(m_deck, false);
    setPlayState(Paused);
}

void MediaPlayer::stop() {
    if (m_fileName.isEmpty())
        return;
    m_engine.setPlaying(m_deck, false);
    m_engine.seek(m_deck, 0.0);
    setPlayState(Stopped);
    updateDisplay();
}

void MediaPlayer::setCurrentPosition(double seconds) {
    if (m_fileName.isEmpty())
        return;
    m_engine.seek(m_deck, seconds);
    updateDisplay();
}

void MediaPlayer::setTransportVisible(bool visible) {
    m_transportVisible = visible;
    m_transport->setVisible(visible);
}

bool MediaPlayer::transportVisible() const {
    return m_transportVisible;
}

void MediaPlayer::setPositionBarVisible(bool visible) {
    m_positionBarVisible = visible;
    m_positionBar->setVisible(visible);
}

bool MediaPlayer::positionBarVisible() const {
    return m_positionBarVisible;
}

// Space plays a halted or stopped deck and pauses a playing one, as the media keys do; every other
// key goes on to the window. A player without a file has nothing to play and says nothing.
void MediaPlayer::keyPressEvent(QKeyEvent* event) {
    const bool pause = m_playState == Playing;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_MediaTogglePlayPause:
        if ((event->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier)) != Qt::NoModifier)
            break;
        skipOnFailure([&] { pause ? halt() : play(); });
        return;
    case Qt::Key_MediaPlay:
        skipOnFailure([this] { play(); });
        return;
    case Qt::Key_MediaPause:
        skipOnFailure([this] { halt(); });
        return;
    case Qt::Key_MediaStop:
        skipOnFailure([this] { stop(); });
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

// The player with the focus shows it, the way the style draws a focused control.
void MediaPlayer::paintEvent(QPaintEvent*) {
    if (!hasFocus())
        return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(QPalette::Window);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void MediaPlayer::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void MediaPlayer::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void MediaPlayer::setPlayState(int state) {
    const int old = m_playState;
    if (old == state)
        return;
    m_playState = state;
    updateDisplay();
    emit playStateChanged(old, state);
}

void MediaPlayer::setOpenState(int state) {
    const int old = m_openState;
    m_openState = state;
    emit openStateChanged(old, state);
}

void MediaPlayer::updateDisplay() {
    const bool loaded = !m_fileName.isEmpty();
    m_playButton->setEnabled(loaded && m_playState != Playing);
    m_pauseButton->setEnabled(loaded && m_playState == Playing);
    m_stopButton->setEnabled(loaded && m_playState != Stopped);
    const double length = duration();
    m_positionBar->setEnabled(loaded);
    m_positionBar->setFraction(length > 0.0 ? currentPosition() / length : 0.0);
}

void MediaPlayer::onEnded() {
    // The deck stopped by itself at the end: rewind, and say so.
    m_engine.setPlaying(m_deck, false);
    m_engine.seek(m_deck, 0.0);
    setPlayState(Stopped);
    updateDisplay();
}

void MediaPlayer::onLengthKnown() {
    if (m_openState != Closed)
        setOpenState(Open);
    updateDisplay();
}

void MediaPlayer::onLost(const std::string& reason) {
    std::fprintf(stderr, "Fadewell: \"%s\" could not be read any more (%s); the player stopped\n",
                 m_fileName.toStdString().c_str(), reason.c_str());
    stop();
}
