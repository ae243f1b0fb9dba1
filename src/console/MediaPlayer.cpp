#include "console/MediaPlayer.h"

#include <algorithm>
#include <cmath>
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

#include "common/Errors.h"
#include "console/ConsoleTimer.h"

namespace {
constexpr int kRefreshMs = 100;
// A player that is not playing is refreshed this many times more and then only when it changes:
// what is heard settles within the output's queue (a second or two) after a halt.
constexpr int kStillRefreshes = 30;
} // namespace

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
        // Drawn again only when it changed by half a pixel, or came back to the start: the bar is
        // not opaque, so each drawing also draws the frame behind it (the display refreshes ten
        // times a second, and an empty or halted player's bar stands still).
        if (fraction == m_fraction || (std::abs(fraction - m_fraction) * width() < 0.5 && fraction != 0.0))
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

MediaPlayer::MediaPlayer(AudioEngine& engine, QWidget* parent) : QWidget(parent), m_player(engine) {
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

    // The display follows the player; its notifications go on to the console.
    connect(&m_player, &DeckPlayer::playStateChanged, this, &MediaPlayer::playerChanged);
    connect(&m_player, &DeckPlayer::openStateChanged, this, &MediaPlayer::playerChanged);
    connect(&m_player, &DeckPlayer::positionMoved, this, &MediaPlayer::playerChanged);
    connect(&m_player, &DeckPlayer::openStateChanged, this, &MediaPlayer::openStateChanged);
    connect(&m_player, &DeckPlayer::playStateChanged, this, &MediaPlayer::playStateChanged);
    connect(&m_player, &DeckPlayer::ended, this, &MediaPlayer::ended);

    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &MediaPlayer::refresh);
    m_refresh->start();
    updateDisplay();
}

MediaPlayer::~MediaPlayer() = default;

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
    const bool pause = playState() == Playing;
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

void MediaPlayer::refreshOnTicksOf(ConsoleTimer* ticks) {
    m_refresh->stop();
    m_ticks = ticks;
    m_ticksPerRefresh = std::max(1, kRefreshMs / std::max(1, ticks->interval()));
    connect(ticks, &ConsoleTimer::timeout, this, [this] {
        if (m_following && ++m_ticksSinceRefresh >= m_ticksPerRefresh) {
            m_ticksSinceRefresh = 0;
            refresh();
        }
    });
}

void MediaPlayer::refresh() {
    updateDisplay();
    if (playState() != Playing && ++m_stillTicks > kStillRefreshes)
        setFollowing(false);
}

// Every change of the player shows at once, and the position is followed for as long as it moves.
void MediaPlayer::playerChanged() {
    m_stillTicks = 0;
    setFollowing(true);
    updateDisplay();
}

// Another timer's ticks go on whether it follows or not; its own timer stops.
void MediaPlayer::setFollowing(bool following) {
    m_following = following;
    if (m_ticks != nullptr)
        return;
    if (!following)
        m_refresh->stop();
    else if (!m_refresh->isActive())
        m_refresh->start();
}

void MediaPlayer::updateDisplay() {
    const bool loaded = !fileName().isEmpty();
    const int state = playState();
    m_playButton->setEnabled(loaded && state != Playing);
    m_pauseButton->setEnabled(loaded && state == Playing);
    m_stopButton->setEnabled(loaded && state != Stopped);
    const double length = duration();
    m_positionBar->setEnabled(loaded);
    m_positionBar->setFraction(length > 0.0 ? currentPosition() / length : 0.0);
}
