#include "control/OscMessages.h"

#include <QString>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <lo/lo.h>
#include <memory>

#include "common/Numeric.h"

namespace osc {
namespace {

using Message = std::unique_ptr<std::remove_pointer_t<lo_message>, decltype(&lo_message_free)>;

// A sender's text as it can be shown on one line of stderr, cut short.
std::string shown(const std::string& text) {
    std::string out;
    for (const unsigned char c : text.substr(0, 80))
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return text.size() > 80 ? out + "..." : out;
}

Fault fault(const std::string& kind, const std::string& address, const std::string& message) {
    return {kind + " " + shown(address), message};
}

// liblo's arguments lie 4-aligned in the message, below the alignment of its lo_arg union: read
// them as bytes, never through the union's members.
template <typename T> T argument(const lo_arg* arg) {
    T value;
    std::memcpy(&value, arg, sizeof value);
    return value;
}

// A float as the shortest text that reads back as it, never with an exponent: 2.5f is "2.5", 4.0f
// "4".
std::string floatText(float value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return end.ec == std::errc() ? std::string(text, end.ptr) : std::string("a float too long to show");
}

// The arguments each kind of message takes. A button (play, auto, stop, reset) takes none, or one
// number as a button box sends it: 1 on the press, 0 on the release.
bool takes(Command::Kind kind, const std::string& types) {
    using Kind = Command::Kind;
    if (kind == Kind::Status)
        return types.empty();
    if (types == "i" || types == "f")
        return true;
    if (kind == Kind::FadeSeconds)
        return types == "s";
    return kind != Kind::Volume && types.empty();
}

std::string takesText(Command::Kind kind) {
    using Kind = Command::Kind;
    switch (kind) {
    case Kind::Volume:
        return "one argument: 'i' 0 to 100 or 'f' 0.0 to 1.0";
    case Kind::FadeSeconds:
        return "one argument: 's', 'i' or 'f'";
    case Kind::Status:
        return "no argument";
    default:
        return "no argument, or one 'i' or 'f' (1 a press, 0 a release)";
    }
}

std::variant<Command, Fault, Release> withArguments(Command command, const std::string& path,
                                                    const std::string& types, lo_arg** argv) {
    using Kind = Command::Kind;
    if (!takes(command.kind, types))
        return fault("types", path,
                     shown(path) + " takes " + takesText(command.kind) + ", not '" + shown(types) +
                         "'; nothing changed");
    const bool isInt = types == "i";
    const std::int32_t i = isInt ? argument<std::int32_t>(argv[0]) : 0;
    const float f = types == "f" ? argument<float>(argv[0]) : 0.0f;
    const std::string number = isInt ? std::to_string(i) : floatText(f);
    switch (command.kind) {
    case Kind::Volume:
        // A float is a fader's travel as show controllers send it: 1.0 at the top (position 0, the
        // loudest) down to 0.0 at the quiet end (100), so a fader up is the volume up.
        if (isInt ? i < kVolumeTop || i > kVolumeBottom : !(f >= 0.0f && f <= 1.0f))
            return fault("range", path,
                         shown(path) + " " + number +
                             " is neither a slider position from 0 (top, loudest) to 100 nor a fader from "
                             "0.0 (the quiet end) to 1.0 (the top); nothing changed");
        command.value = isInt ? i : static_cast<int>(std::lround((1.0 - f) * kVolumeBottom));
        return command;
    case Kind::FadeSeconds: {
        command.text = types == "s" ? reinterpret_cast<const char*>(argv[0]) : number;
        const double seconds = Numeric::numericValue(QString::fromUtf8(command.text));
        if (command.text.size() > kLongestFadeText || !(seconds > 0) || !std::isfinite(seconds))
            return fault(
                "range", path,
                shown(path) + " \"" + shown(command.text) +
                    "\" is not a number of seconds above 0 of at most 16 characters; nothing changed");
        return command;
    }
    case Kind::Status:
        return command;
    default:
        if (types.empty() || (isInt ? i == 1 : f == 1.0f))
            return command;
        if (isInt ? i == 0 : f == 0.0f)
            return Release{};
        return fault("range", path,
                     shown(path) + " " + number +
                         " is neither 1 (a press) nor 0 (a release); nothing changed");
    }
}

} // namespace

std::variant<Command, Fault, Release> parse(const void* data, std::size_t size) {
    if (size >= 8 && std::memcmp(data, "#bundle", 8) == 0)
        return Fault{"bundle", "an OSC bundle is not taken: send its messages one by one; nothing changed"};
    int result = 0;
    // liblo copies the datagram and checks every string and argument against its length.
    const Message message(lo_message_deserialise(const_cast<void*>(data), size, &result), &lo_message_free);
    if (!message)
        return Fault{"malformed " + std::to_string(result),
                     "a datagram that is not a whole OSC message (liblo's error " + std::to_string(result) +
                         "); nothing changed"};
    const std::string path = static_cast<const char*>(data); // deserialise found it terminated
    const char* typeTags = lo_message_get_types(message.get());
    const std::string types = typeTags != nullptr ? typeTags : "";
    lo_arg** argv = lo_message_get_argv(message.get());

    using Kind = Command::Kind;
    static const struct {
        const char* path;
        Kind kind;
    } kGlobal[] = {{"/fadewell/fade/seconds", Kind::FadeSeconds},
                   {"/fadewell/reset", Kind::Reset},
                   {"/fadewell/status", Kind::Status}};
    for (const auto& g : kGlobal)
        if (path == g.path)
            return withArguments({g.kind}, path, types, argv);

    static const struct {
        const char* name;
        Kind kind;
    } kDeck[] = {{"play", Kind::Play}, {"auto", Kind::Auto}, {"stop", Kind::Stop}, {"volume", Kind::Volume}};
    constexpr std::string_view kDeckPrefix = "/fadewell/deck/";
    if (path.size() > kDeckPrefix.size() + 2 && path.compare(0, kDeckPrefix.size(), kDeckPrefix) == 0 &&
        path[kDeckPrefix.size() + 1] == '/') {
        const char letter = path[kDeckPrefix.size()];
        const int deck = letter >= 'A' && letter <= 'C'   ? letter - 'A'
                         : letter >= 'a' && letter <= 'c' ? letter - 'a'
                                                          : -1;
        const std::string name = path.substr(kDeckPrefix.size() + 2);
        for (const auto& d : kDeck)
            if (deck >= 0 && name == d.name)
                return withArguments({d.kind, deck}, path, types, argv);
    }
    return fault("unknown", path, "unknown address " + shown(path) + "; nothing changed");
}

std::vector<char> statusMessage(const DeckStatus& deck) {
    const Message message(lo_message_new(), &lo_message_free);
    lo_message_add_string(message.get(), deck.letter.c_str());
    lo_message_add_string(message.get(), deck.title.c_str());
    lo_message_add_string(message.get(), deck.state.c_str());
    lo_message_add_float(message.get(), deck.remainingSeconds);
    lo_message_add_int32(message.get(), deck.live ? 1 : 0);
    const char* path = "/fadewell/status/deck";
    std::vector<char> bytes(lo_message_length(message.get(), path));
    std::size_t size = bytes.size();
    lo_message_serialise(message.get(), path, bytes.data(), &size);
    bytes.resize(size);
    return bytes;
}

} // namespace osc
