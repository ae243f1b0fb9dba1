#include "audio/MediaPlayer.h"

#include "common/Errors.h"

// Until the audio engine exists, a deck's place holds this empty player: it takes no file and plays
// nothing, and says so.
namespace {
[[noreturn]] void notBuilt() {
    throw PlayerError("The audio engine is not built yet");
}
} // namespace

MediaPlayer::MediaPlayer(AudioEngine&, QWidget* parent) : QWidget(parent) {}
MediaPlayer::~MediaPlayer() = default;
void MediaPlayer::setFileName(const QString& path) {
    if (!path.isEmpty())
        notBuilt();
}
QString MediaPlayer::fileName() const { return {}; }
double MediaPlayer::duration() const { return 0.0; }
double MediaPlayer::currentPosition() const { return 0.0; }
int MediaPlayer::playState() const { return Stopped; }
void MediaPlayer::setVolume(std::int32_t hundredthsOfDb) {
    if (hundredthsOfDb > 0)
        throw PlayerError("A player volume above 0 is not allowed");
}
std::int32_t MediaPlayer::volume() const { return 0; }
void MediaPlayer::play() { notBuilt(); }
void MediaPlayer::halt() {}
void MediaPlayer::stop() {}
void MediaPlayer::setTransportVisible(bool) {}
bool MediaPlayer::transportVisible() const { return false; }
void MediaPlayer::setPositionBarVisible(bool) {}
bool MediaPlayer::positionBarVisible() const { return false; }
