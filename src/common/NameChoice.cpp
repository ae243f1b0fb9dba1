#include "common/NameChoice.h"

#include <cctype>

namespace NameChoice {
namespace {

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The candidates for which test(name) or, where there is one, test(description) holds.
template <class Test> std::vector<std::size_t> matching(const std::vector<Candidate>& candidates, Test test) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (test(lowered(candidates[i].name)) ||
            (!candidates[i].description.empty() && test(lowered(candidates[i].description))))
            found.push_back(i);
    return found;
}

} // namespace

Choice choose(const std::vector<Candidate>& candidates, const std::string& wanted, const std::string& thing,
              const std::string& things) {
    if (wanted.empty())
        return {std::nullopt, "the name of the " + thing + " is empty"};
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (candidates[i].name == wanted)
            return {i, {}};
    const std::string key = lowered(wanted);
    const auto whole = matching(candidates, [&](const std::string& text) { return text == key; });
    const auto part =
        whole.empty() ? matching(candidates,
                                 [&](const std::string& text) { return text.find(key) != std::string::npos; })
                      : whole;
    if (part.size() == 1)
        return {part.front(), {}};
    if (part.empty())
        return {std::nullopt, "no " + thing + " is named " + quoted(wanted) + " or has it in its name"};
    std::string named;
    for (const std::size_t i : part)
        named += (named.empty() ? "" : ", ") + quoted(candidates[i].name) + " (" + candidates[i].source + ")";
    return {std::nullopt,
            quoted(wanted) + " could mean " + std::to_string(part.size()) + " " + things + ": " + named};
}

} // namespace NameChoice
