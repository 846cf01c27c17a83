// Alike cases taken in turn. A long test over a table of alike cases (one
// model in each of three frames, one model under each of two recipes) takes,
// in an ordinary run, one member of each group of them: which one turns with
// the run's number XVELM_TURN (0 when not set), the groups starting one apart,
// so that a run meets every member (frame, recipe) and every group (model,
// tilt) and successive turns meet every case. XVELM_ALL_TURNS set takes every
// case. A failure's trace names its case; XVELM_TURN repeats the run's choice.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace in_turn {

// Whether every case is asked for.
inline bool allTurns()
{
    return std::getenv("XVELM_ALL_TURNS") != nullptr;
}

// The run's turn: XVELM_TURN, 0 when not set.
inline unsigned long turn()
{
    const char* value = std::getenv("XVELM_TURN");
    return value ? std::strtoul(value, nullptr, 10) : 0UL;
}

// Whether member `member` of the `members` alike cases of group `group` is
// this run's: one member of each group, each group starting one further on.
inline bool taken(std::size_t group, std::size_t member, std::size_t members)
{
    return allTurns() || members == 0 || (group + turn()) % members == member;
}

} // namespace in_turn
