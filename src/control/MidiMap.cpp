#include "control/MidiMap.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace midi {
namespace {

using Kind = osc::Command::Kind;

std::string lowered(std::string_view word) {
    std::string text(word);
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i > start)
            found.push_back(line.substr(start, i - start));
    }
    return found;
}

// A whole number from low to high, or -1.
int number(std::string_view word, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return error == std::errc() && end == word.data() + word.size() && value >= low && value <= high ? value
                                                                                                     : -1;
}

int deckOf(std::string_view word) {
    const std::string w = lowered(word);
    return w == "a" ? 0 : w == "b" ? 1 : w == "c" ? 2 : -1;
}

std::string quoted(std::string_view word) {
    return "\"" + std::string(word) + "\"";
}

std::string describe(const Rule& rule) {
    return std::string(rule.source == Rule::Source::Note ? "note " : "cc ") + std::to_string(rule.number) +
           (rule.channel == 0 ? " on any channel" : " on channel " + std::to_string(rule.channel));
}

// One rule line's words (none empty); the reason it is refused, or nothing.
std::string parseRule(const std::vector<std::string_view>& w, Map& map, Rule& rule) {
    const std::string kind = lowered(w[0]);
    if (kind == "faderstart") {
        const std::string onOff = w.size() == 3 ? lowered(w[2]) : "";
        if (w.size() != 3 || deckOf(w[1]) < 0 || (onOff != "on" && onOff != "off"))
            return "faderstart takes a deck and on or off, as in \"faderstart A off\"";
        map.faderStart[static_cast<std::size_t>(deckOf(w[1]))] = onOff == "on";
        return {};
    }
    if (kind != "note" && kind != "cc")
        return "unknown rule " + quoted(w[0]) + ": a rule starts with note, cc or faderstart";
    rule.source = kind == "note" ? Rule::Source::Note : Rule::Source::ControlChange;
    if (w.size() < 3)
        return "incomplete: \"" + kind + " N [channel C] ACTION ...\"";
    rule.number = number(w[1], 0, 127);
    if (rule.number < 0)
        return quoted(w[1]) + " is not a " + (kind == "note" ? "note" : "controller") +
               " number from 0 to 127";
    std::size_t next = 2;
    if (lowered(w[next]) == "channel") {
        rule.channel = w.size() > next + 1 ? number(w[next + 1], 1, 16) : -1;
        if (rule.channel < 0)
            return "\"channel\" takes a MIDI channel from 1 to 16";
        next += 2;
    }
    if (next >= w.size())
        return "incomplete: the action is missing";
    const std::string action = lowered(w[next]);
    static const struct {
        const char* name;
        Kind kind;
    } kNoteActions[] = {
        {"play", Kind::Play}, {"auto", Kind::Auto}, {"stop", Kind::Stop}, {"reset", Kind::Reset}};
    bool known = false;
    if (rule.source == Rule::Source::Note) {
        for (const auto& a : kNoteActions)
            if (action == a.name) {
                rule.kind = a.kind;
                known = true;
            }
        if (!known)
            return "unknown action " + quoted(w[next]) + " for a note: play, auto, stop or reset";
    } else {
        if (action != "volume")
            return "unknown action " + quoted(w[next]) + " for a cc: volume";
        rule.kind = Kind::Volume;
    }
    const std::size_t wanted = next + (rule.kind == Kind::Reset ? 1 : 2);
    if (rule.kind != Kind::Reset) {
        if (w.size() <= next + 1)
            return "\"" + action + "\" needs a deck: A, B or C";
        rule.deck = deckOf(w[next + 1]);
        if (rule.deck < 0)
            return quoted(w[next + 1]) + " is not a deck: A, B or C";
    }
    if (w.size() > wanted)
        return "unexpected " + quoted(w[wanted]) + " after the rule";
    for (const Rule& other : map.rules)
        if (other.source == rule.source && other.number == rule.number && other.channel == rule.channel)
            return describe(rule) + " is mapped already, on line " + std::to_string(other.line);
    return {};
}

} // namespace

Map defaultMap() {
    Map map;
    const auto note = [&](int number, Kind kind, int deck) {
        map.rules.push_back({Rule::Source::Note, number, 0, kind, deck, 0});
    };
    for (int deck = 0; deck < 3; ++deck) {
        note(60 + deck, Kind::Play, deck);
        note(64 + deck, Kind::Auto, deck);
        note(67 + deck, Kind::Stop, deck);
        map.rules.push_back({Rule::Source::ControlChange, 7, deck + 1, Kind::Volume, deck, 0});
    }
    note(71, Kind::Reset, -1);
    return map;
}

std::variant<Map, MapError> parseMap(std::string_view text) {
    Map map;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = line.substr(0, line.find('#'));
        const auto w = words(line);
        if (w.empty())
            continue;
        Rule rule;
        rule.line = lineNumber;
        if (std::string reason = parseRule(w, map, rule); !reason.empty())
            return MapError{lineNumber, std::move(reason)};
        if (lowered(w[0]) != "faderstart")
            map.rules.push_back(rule);
    }
    return map;
}

std::variant<Map, std::string> readMap(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "cannot read the MIDI map " + path + ": " + std::strerror(errno);
    std::ostringstream text;
    text << file.rdbuf();
    auto parsed = parseMap(text.str());
    if (const auto* error = std::get_if<MapError>(&parsed))
        return path + ":" + std::to_string(error->line) + ": " + error->reason;
    return std::get<Map>(std::move(parsed));
}

int sliderPosition(int value) {
    return static_cast<int>(std::lround((127 - value) * 100.0 / 127.0));
}

Translator::Translator(Map map) : m_map(std::move(map)), m_lastValue(m_map.rules.size(), -1) {}

const Rule* Translator::find(Rule::Source source, int number, int channel) const {
    const Rule* anyChannel = nullptr;
    for (const Rule& rule : m_map.rules) {
        if (rule.source != source || rule.number != number)
            continue;
        if (rule.channel == channel)
            return &rule;
        if (rule.channel == 0)
            anyChannel = &rule;
    }
    return anyChannel;
}

Translator::Result Translator::translate(const unsigned char* bytes, std::size_t size) {
    Result result;
    if (size < 3)
        return result;
    const int type = bytes[0] & 0xF0;
    const int channel = (bytes[0] & 0x0F) + 1;
    const int number = bytes[1] & 0x7F;
    const int value = bytes[2] & 0x7F;
    const bool noteOn = type == 0x90 && value > 0; // a note on at velocity 0 is a note off
    if (!noteOn && type != 0xB0)
        return result;
    const Rule::Source source = noteOn ? Rule::Source::Note : Rule::Source::ControlChange;
    const Rule* rule = find(source, number, channel);
    if (rule == nullptr) {
        Rule asked{source, number, channel};
        result.faultKey = describe(asked);
        result.fault = describe(asked) + " is not in the MIDI map; nothing changed";
        return result;
    }
    if (source == Rule::Source::Note) {
        result.commands.push_back({rule->kind, rule->deck});
        return result;
    }
    int& last = m_lastValue[static_cast<std::size_t>(rule - m_map.rules.data())];
    const bool leftTheBottom = last == 0 && value > 0;
    last = value;
    result.commands.push_back({Kind::Volume, rule->deck, sliderPosition(value)});
    if (leftTheBottom && m_map.faderStart[static_cast<std::size_t>(rule->deck)])
        result.commands.push_back({Kind::Play, rule->deck});
    return result;
}

} // namespace midi
