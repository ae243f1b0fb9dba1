#pragma once
// What is shared by the ways in from outside (OSC, MIDI): a command run through the console's own
// handlers, the queue that carries commands from a receiving thread to the window's thread, and
// faults said once each.
//
// A flood never freezes the window: the receiving thread queues and asks for one run at a time; a
// run of value settings of one deck (a fader swept fast) is folded into its latest value while it
// waits, and beyond the queue's limit more commands are dropped, which the receiver says.
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "control/OscMessages.h"

class frmConsole;

// Runs one command as the operator's own key, click or slider move would, through the console's
// handlers, so that the window shows it. A status query is its receiver's to answer: nothing here.
// Threads: the user-interface thread.
void runConsoleCommand(frmConsole& console, const osc::Command& command);

// The commands a receiving thread has taken and the window's thread has not yet run. Item carries
// an osc::Command named command, and whatever else its receiver needs to run it.
// Threads: push() the receiving thread; take() the user-interface thread.
template <class Item> class ConsoleCommandQueue {
public:
    explicit ConsoleCommandQueue(std::size_t most) : m_most(most) {}

    struct Pushed {
        bool post = false;    // no run is waiting yet: the receiver asks for one
        bool dropped = false; // the queue was full: the command was not queued
    };
    Pushed push(Item item) {
        std::lock_guard lock(m_mutex);
        // Back over the waiting commands that set values (they commute): the latest value wins.
        for (auto it = m_items.rbegin(); setsValue(item.command) && it != m_items.rend(); ++it) {
            if (!setsValue(it->command))
                break;
            if (it->command.kind == item.command.kind && it->command.deck == item.command.deck) {
                *it = std::move(item);
                return {};
            }
        }
        if (m_items.size() >= m_most)
            return {false, true};
        m_items.push_back(std::move(item));
        Pushed pushed{!m_runPosted, false};
        m_runPosted = true;
        return pushed;
    }

    // Everything waiting, in order; the next push asks for a run again.
    std::deque<Item> take() {
        std::deque<Item> items;
        std::lock_guard lock(m_mutex);
        items.swap(m_items);
        m_runPosted = false;
        return items;
    }

private:
    static bool setsValue(const osc::Command& command) {
        return command.kind == osc::Command::Kind::Volume || command.kind == osc::Command::Kind::FadeSeconds;
    }

    const std::size_t m_most;
    std::mutex m_mutex;
    std::deque<Item> m_items;
    bool m_runPosted = false;
};

// Says each fault once, by its key (the kind of fault without its values, so that a sender that
// repeats one mistake is told once), and at most `most` of them.
// Threads: one at a time (the receiving thread).
class FaultsSaidOnce {
public:
    using Say = std::function<void(const std::string&)>;
    FaultsSaidOnce(std::size_t most, Say say) : m_most(most), m_say(std::move(say)) {}
    void operator()(const std::string& key, const std::string& message);

private:
    const std::size_t m_most;
    Say m_say;
    std::set<std::string> m_said;
    bool m_saidEnough = false;
};
