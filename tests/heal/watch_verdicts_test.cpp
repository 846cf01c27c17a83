// What the step watch calls worse, judged on the measures alone: the body as
// a whole (checker findings, closure, tolerance) and the faces a step
// reshaped (each face's area, their total and signed area, a solid's
// volume). Each row is a before and an after with the verdict expected: a
// phrase of the text the watch gives, or nothing when the step may stand.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "heal/step_watch.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"

namespace {

// Faces stand for themselves as keys only: the verdicts never look inside.
std::array<std::max_align_t, 4> verdictFaceKeys;
const FACE* faceKey(int i)
{
    return reinterpret_cast<const FACE*>(&verdictFaceKeys[static_cast<std::size_t>(i)]);
}

ve_heal::BodyState bodyState(bool closed, double tolerance, std::map<int, int> findings = {}, bool checked = true)
{
    ve_heal::BodyState s;
    s.findings = std::move(findings);
    s.checked = checked;
    s.faces = true;
    s.closed = closed;
    s.tolerance = tolerance;
    s.size = 10.0;
    return s;
}

struct VerdictBodyRow {
    const char* what;
    ve_heal::BodyState before, after;
    const char* verdict; // "" when the step may stand
};

struct VerdictFaceRow {
    const char* what;
    std::vector<std::pair<int, face_measures>> before, after;
    bool sameFaces, regrouped, solid;
    std::vector<int> faulty;
    const char* verdict;
};

face_measures faceMeasures(double area, double flux = 0.0)
{
    face_measures m;
    m.area = area;
    m.flux = flux;
    return m;
}

} // namespace

TEST(WatchVerdicts, ABodyIsWorseForANewFindingAnOpeningOrAToleranceThatMendsNothing)
{
    const std::vector<VerdictBodyRow> rows = {
        {"nothing changed", bodyState(true, 1e-6), bodyState(true, 1e-6), ""},
        {"a closed body came open", bodyState(true, 1e-6), bodyState(false, 1e-6), "a closed body lost a face or came open"},
        {"an open body stayed open", bodyState(false, 1e-6), bodyState(false, 1e-6), ""},
        {"a first finding of a kind", bodyState(true, 1e-6), bodyState(true, 1e-6, {{37, 1}}), "new checker finding 37"},
        {"one more finding of a kind already there", bodyState(true, 1e-6, {{24, 1}}), bodyState(true, 1e-6, {{24, 2}}),
         "new checker finding 24"},
        {"a finding mended", bodyState(true, 1e-6, {{24, 2}}), bodyState(true, 1e-6, {{24, 1}}), ""},
        {"findings unknown after: nothing to compare", bodyState(true, 1e-6), bodyState(true, 1e-6, {{37, 3}}, false), ""},
        {"a tolerance raised past a hundredth of the body on a clean body", bodyState(true, 1e-6), bodyState(true, 0.2),
         "tolerance raised to 0.2"},
        {"the same raise, where it left nothing to find on a body found faulty", bodyState(true, 1e-6, {{24, 1}}),
         bodyState(true, 0.2), ""},
        {"the same raise, where the check could not run before and finds nothing after", bodyState(true, 1e-6, {}, false),
         bodyState(true, 0.2), ""},
        {"a raise within a hundredth of the body", bodyState(true, 1e-6), bodyState(true, 0.05), ""},
    };
    for (const VerdictBodyRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string verdict = ve_heal::worseThan(row.before, row.after);
        if (*row.verdict == '\0')
            EXPECT_EQ(verdict, "");
        else
            EXPECT_NE(verdict.find(row.verdict), std::string::npos) << verdict;
    }
}

TEST(WatchVerdicts, ReshapedFacesAreWorseWhenTheyMoveTurnOrChangeASolidsVolume)
{
    // Areas of 100 on a body 10 across: a face may move by a ten-thousandth
    // of its area (plus a millionth of the body's size).
    const std::vector<VerdictFaceRow> rows = {
        {"the same faces kept", {{0, faceMeasures(100.0)}}, {{0, faceMeasures(100.0)}}, true, false, false, {}, ""},
        {"a face moved by a hundredth of its area", {{0, faceMeasures(100.0)}}, {{0, faceMeasures(101.0)}}, true, false,
         false, {}, "a face's area 100 became 101"},
        {"a face moved by a thousandth of its area", {{0, faceMeasures(100.0)}}, {{0, faceMeasures(100.1)}}, true, false,
         false, {}, "a face's area"},
        {"a face moved by a hundred-thousandth", {{0, faceMeasures(100.0)}}, {{0, faceMeasures(100.001)}}, true, false, false,
         {}, ""},
        {"a face against its loops turned to its sense: mended", {{0, faceMeasures(-100.0)}, {1, faceMeasures(50.0)}},
         {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}}, true, false, false, {}, ""},
        {"a face turned inside out", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{0, faceMeasures(-100.0)}, {1, faceMeasures(50.0)}}, true, false, false, {}, "a face's area 100 became -100"},
        {"faces remade turned inside out", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{2, faceMeasures(-100.0)}, {3, faceMeasures(50.0)}}, false, false, false, {}, "faces turned inside out"},
        {"faces remade in their sense", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{2, faceMeasures(60.0)}, {3, faceMeasures(90.0)}}, false, false, false, {}, ""},
        {"faces remade smaller", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{2, faceMeasures(60.0)}, {3, faceMeasures(80.0)}}, false, false, false, {}, "the area of the faces it reshaped"},
        {"faces remade smaller by a loop repair that kept their curves", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{2, faceMeasures(60.0)}, {3, faceMeasures(-80.0)}}, false, true, false, {}, ""},
        {"faces remade smaller, one of them found faulty before", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{2, faceMeasures(60.0)}, {3, faceMeasures(80.0)}}, false, false, false, {1}, ""},
        {"a face found faulty before moved", {{0, faceMeasures(100.0)}, {1, faceMeasures(50.0)}},
         {{0, faceMeasures(100.0)}, {1, faceMeasures(20.0)}}, true, false, false, {1}, ""},
        {"a solid's volume changed", {{0, faceMeasures(100.0, 500.0)}}, {{0, faceMeasures(100.0, 520.0)}}, true, false, true,
         {}, "volume changed by 20"},
        {"a solid's volume changed by a loop repair", {{0, faceMeasures(100.0, 500.0)}}, {{2, faceMeasures(100.0, 520.0)}},
         false, true, true, {}, "volume changed by 20"},
        {"a sheet's enclosed volume is no volume", {{0, faceMeasures(100.0, 500.0)}}, {{0, faceMeasures(100.0, 520.0)}},
         true, false, false, {}, ""},
    };
    for (const VerdictFaceRow& row : rows) {
        SCOPED_TRACE(row.what);
        ve_heal::ShapeChange change;
        for (const auto& [i, m] : row.before)
            change.before[faceKey(i)] = m;
        for (const auto& [i, m] : row.after)
            change.after[faceKey(i)] = m;
        for (int i : row.faulty)
            change.faulty.insert(faceKey(i));
        change.sameFaces = row.sameFaces;
        change.regrouped = row.regrouped;
        const std::string verdict = ve_heal::worseShape(change, 10.0, row.solid);
        if (*row.verdict == '\0')
            EXPECT_EQ(verdict, "");
        else
            EXPECT_NE(verdict.find(row.verdict), std::string::npos) << verdict;
    }
    ve_heal::ShapeChange unmeasured;
    unmeasured.before[faceKey(0)] = faceMeasures(100.0);
    unmeasured.after[faceKey(0)] = faceMeasures(-100.0);
    unmeasured.measured = false;
    EXPECT_EQ(ve_heal::worseShape(unmeasured, 10.0, true), "") << "a face the kernel could not measure is no verdict";
}
