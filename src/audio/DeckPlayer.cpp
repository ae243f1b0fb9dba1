#include "audio/DeckPlayer.h"

#include <cmath>
#include <cstdio>

#include "audio/engine/AudioEngine.h"
#include "common/Errors.h"

namespace {
constexpr std::int32_t kSilence = -10000;

float gainOf(std::int32_t hundredthsOfDb) {
    return hundredthsOfDb <= kSilence ? 0.0f : static_cast<float>(std::pow(10.0, hundredthsOfDb / 2000.0));
}
} // namespace

// Hands the engine's notifications to the player.
class DeckPlayer::EngineEvents final : public AudioEngine::Listener {
public:
    explicit EngineEvents(DeckPlayer& player) : m_player(player) {}
    void deckEnded() override { m_player.onEnded(); }
    void deckLengthKnown() override { m_player.onLengthKnown(); }
    void deckLost(const std::string& reason) override { m_player.onLost(reason); }

private:
    DeckPlayer& m_player;
};

DeckPlayer::DeckPlayer(AudioEngine& engine, QObject* parent)
    : QObject(parent), m_engine(engine), m_events(std::make_unique<EngineEvents>(*this)) {
    m_deck = m_engine.attachDeck(*m_events);
}

DeckPlayer::~DeckPlayer() {
    m_engine.detachDeck(m_deck);
}

void DeckPlayer::setFileName(const QString& path) {
    if (path.isEmpty()) {
        if (m_fileName.isEmpty())
            return;
        m_engine.unload(m_deck);
        m_fileName.clear();
        setPlayState(Stopped);
        setOpenState(Closed);
        emit positionMoved();
        return;
    }
    m_engine.load(m_deck, path.toStdString()); // throws, leaving everything as it was
    m_fileName = path;
    m_engine.setGain(m_deck, gainOf(m_volume));
    setPlayState(Stopped);
    setOpenState(Opening);
    if (m_engine.deckInfo(m_deck).exact)
        setOpenState(Open);
    emit positionMoved();
}

QString DeckPlayer::fileName() const {
    return m_fileName;
}

double DeckPlayer::duration() const {
    return m_fileName.isEmpty() ? 0.0 : m_engine.deckInfo(m_deck).duration;
}

double DeckPlayer::currentPosition() const {
    return m_fileName.isEmpty() ? 0.0 : m_engine.position(m_deck);
}

int DeckPlayer::playState() const {
    return m_playState;
}

void DeckPlayer::setVolume(std::int32_t hundredthsOfDb) {
    if (hundredthsOfDb > 0)
        throw PlayerError("A player volume above 0 is not allowed (" + std::to_string(hundredthsOfDb) + ")");
    m_volume = hundredthsOfDb;
    m_engine.setGain(m_deck, gainOf(hundredthsOfDb));
}

std::int32_t DeckPlayer::volume() const {
    return m_volume;
}

void DeckPlayer::play() {
    if (m_fileName.isEmpty())
        throw PlayerError("The player holds no file to play");
    if (m_playState == Playing)
        return;
    m_engine.setPlaying(m_deck, true);
    setPlayState(Playing);
}

void DeckPlayer::halt() {
    if (m_playState != Playing)
        return;
    m_engine.setPlaying(m_deck, false);
    setPlayState(Paused);
}

void DeckPlayer::stop() {
    if (m_fileName.isEmpty())
        return;
    m_engine.setPlaying(m_deck, false);
    m_engine.seek(m_deck, 0.0);
    setPlayState(Stopped);
    emit positionMoved();
}

void DeckPlayer::setCurrentPosition(double seconds) {
    if (m_fileName.isEmpty())
        return;
    m_engine.seek(m_deck, seconds);
    emit positionMoved();
}

void DeckPlayer::setPlayState(int state) {
    const int old = m_playState;
    if (old == state)
        return;
    m_playState = state;
    emit playStateChanged(old, state);
}

void DeckPlayer::setOpenState(int state) {
    const int old = m_openState;
    m_openState = state;
    emit openStateChanged(old, state);
}

void DeckPlayer::onEnded() {
    // The deck stopped by itself at the end: rewind, and say so.
    m_engine.setPlaying(m_deck, false);
    m_engine.seek(m_deck, 0.0);
    emit ended();
    setPlayState(Stopped);
    emit positionMoved();
}

void DeckPlayer::onLengthKnown() {
    if (m_openState != Closed)
        setOpenState(Open);
    emit positionMoved();
}

void DeckPlayer::onLost(const std::string& reason) {
    std::fprintf(stderr, "Fadewell: \"%s\" could not be read any more (%s); the player stopped\n",
                 m_fileName.toStdString().c_str(), reason.c_str());
    stop();
}
