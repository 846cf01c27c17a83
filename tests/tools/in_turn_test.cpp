// The long tests' cases taken in turn (support/in_turn.hxx): a run takes one
// member of every group, meets every member when the groups are at least as
// many, and as many successive turns as a group has members take each case
// once; XVELM_ALL_TURNS takes every case.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "support/in_turn.hxx"

namespace {

// Sets an environment variable (or clears it) for its lifetime, then puts
// back what was there: later tests of the process see the run's own values.
class EnvSetting {
public:
    EnvSetting(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvSetting()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    EnvSetting(const EnvSetting&) = delete;
    EnvSetting& operator=(const EnvSetting&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(TurnTaking, EachRunTakesOneMemberOfEveryGroupAndSuccessiveTurnsTakeEveryCaseOnce)
{
    const EnvSetting all("XVELM_ALL_TURNS", std::nullopt);
    for (std::size_t members : {1u, 2u, 3u})
        for (std::size_t groups : {1u, 2u, 3u, 6u})
            for (unsigned long first : {0ul, 7ul, 1000ul}) {
                SCOPED_TRACE(std::to_string(groups) + " groups of " + std::to_string(members) + " from turn " +
                             std::to_string(first));
                std::map<std::pair<std::size_t, std::size_t>, int> takenOver;
                for (unsigned long t = first; t < first + members; ++t) {
                    const EnvSetting turn("XVELM_TURN", std::to_string(t));
                    std::map<std::size_t, int> membersMet;
                    for (std::size_t g = 0; g < groups; ++g) {
                        int taken = 0;
                        for (std::size_t m = 0; m < members; ++m)
                            if (in_turn::taken(g, m, members)) {
                                ++taken;
                                ++membersMet[m];
                                ++takenOver[{g, m}];
                            }
                        EXPECT_EQ(taken, 1) << "group " << g << ", turn " << t;
                    }
                    if (groups >= members) {
                        EXPECT_EQ(membersMet.size(), members) << "turn " << t;
                    }
                }
                EXPECT_EQ(takenOver.size(), groups * members);
                for (const auto& [which, count] : takenOver)
                    EXPECT_EQ(count, 1) << "group " << which.first << ", member " << which.second;
            }
}

TEST(TurnTaking, WithoutATurnTheFirstMembersAreTakenAndAllTurnsTakeEveryCase)
{
    {
        const EnvSetting turn("XVELM_TURN", std::nullopt);
        const EnvSetting all("XVELM_ALL_TURNS", std::nullopt);
        EXPECT_TRUE(in_turn::taken(0, 0, 3));
        EXPECT_FALSE(in_turn::taken(0, 1, 3));
        EXPECT_TRUE(in_turn::taken(1, 1, 3));
    }
    const EnvSetting turn("XVELM_TURN", "5");
    const EnvSetting all("XVELM_ALL_TURNS", "1");
    for (std::size_t g = 0; g < 4; ++g)
        for (std::size_t m = 0; m < 3; ++m)
            EXPECT_TRUE(in_turn::taken(g, m, 3)) << "group " << g << ", member " << m;
}
