// The framework's warnings of a run that did not fail it (a name IGES could
// not carry whole, a healing note, a body exported unsplit), told on the
// error stream once the run has done its work. Header-only so that the
// driver and its tests share it.
#pragma once

#include <cstdio>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qelx/qelx_events.hxx"
#include "text.hxx"

namespace xvelm {

// Every warning fired while one of these lives, each text once with how
// often it came, in the order first seen.
class RunWarnings : public QELXEventListener {
public:
    RunWarnings() { QELXEventBus::GetEventBus()->AddListener(this); }
    ~RunWarnings() override { QELXEventBus::GetEventBus()->RemoveListener(this); }
    RunWarnings(const RunWarnings&) = delete;
    RunWarnings& operator=(const RunWarnings&) = delete;

    void OnEvent(const QELXEvent& event) override
    {
        if (std::string(event.GetKind()) == "Warning")
            add(static_cast<const QELXWarningEvent&>(event).GetText());
    }

    // A warning of the driver's own; "" is none.
    void add(const std::string& text)
    {
        if (text.empty())
            return;
        const auto [at, fresh] = m_index.emplace(text, m_seen.size());
        if (fresh)
            m_seen.emplace_back(text, 1);
        else
            ++m_seen[at->second].second;
    }

    // One line a warning, naming the input: "xvelm: warning: IN: TEXT", with
    // " (N times)" for one that came more than once. The text is made
    // printable, so a line break in it never starts a line of its own.
    std::string lines(const std::string& input) const
    {
        std::string all;
        for (const auto& [text, count] : m_seen)
            all += "xvelm: warning: " + input + ": " + printable(text) +
                   (count > 1 ? " (" + std::to_string(count) + " times)" : "") + "\n";
        return all;
    }

    // The lines onto `err`; a run that failed tells its failure alone.
    void print(FILE* err, const std::string& input) const { std::fputs(lines(input).c_str(), err); }

private:
    std::vector<std::pair<std::string, int>> m_seen;
    std::unordered_map<std::string, std::size_t> m_index;
};

} // namespace xvelm
