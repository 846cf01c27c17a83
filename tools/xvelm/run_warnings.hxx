// The framework's warnings of a run that did not fail it (a name IGES could
// not carry whole, a healing note, a body exported unsplit), told on the
// error stream once the run has done its work. Header-only so that the
// driver and its tests share it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qelx/qelx_events.hxx"
#include "text.hxx"

namespace xvelm {

// While one lives, the warnings a run tells name the entities of the source
// being read as the driver names them ("body 0, face 2" for a face the roads
// name by its identifier): the source may be gone by the time they are told.
// The innermost one names.
class WarningPlaces {
public:
    using Namer = std::function<std::string(const std::string&)>;
    explicit WarningPlaces(Namer namer) : m_namer(std::move(namer)), m_outer(std::exchange(current(), this)) {}
    ~WarningPlaces() { current() = m_outer; }
    WarningPlaces(const WarningPlaces&) = delete;
    WarningPlaces& operator=(const WarningPlaces&) = delete;

    // The text as the innermost living one names it; as it is when none lives.
    static std::string named(const std::string& text) { return current() ? current()->m_namer(text) : text; }

private:
    static WarningPlaces*& current()
    {
        static WarningPlaces* innermost = nullptr;
        return innermost;
    }
    Namer m_namer;
    WarningPlaces* m_outer;
};

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
            add(WarningPlaces::named(static_cast<const QELXWarningEvent&>(event).GetText()));
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
