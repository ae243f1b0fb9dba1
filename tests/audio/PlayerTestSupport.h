#pragma once
// An offline engine with one or more players and a record of their notifications, for the tests
// of this folder.
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "audio/engine/AudioEngine.h"
#include "audio/DeckPlayer.h"
#include "support/AudioFixtures.h"

// Every notification of a player, as "open 1->2" or "play 0->2", in the order they came.
class NotificationLog {
public:
    explicit NotificationLog(DeckPlayer& player) {
        QObject::connect(&player, &DeckPlayer::openStateChanged,
                         [this](int from, int to) { entries.push_back("open " + arrow(from, to)); });
        QObject::connect(&player, &DeckPlayer::playStateChanged,
                         [this](int from, int to) { entries.push_back("play " + arrow(from, to)); });
    }
    std::vector<std::string> take() { return std::exchange(entries, {}); }
    std::vector<std::string> entries;

private:
    static std::string arrow(int from, int to) { return std::to_string(from) + "->" + std::to_string(to); }
};

constexpr int kRate = 48000;
constexpr int kBlock = 256;

inline QString q(const std::string& s) {
    return QString::fromStdString(s);
}
