// Healing's verdict on an assembly: bodies healed once after the whole
// translation are judged as a single import judges what it healed.
#include "assembly_test_support.hxx"

using namespace asmtest;

namespace {

class AssemblyHealVerdictTest : public AssemblyTest {};

// The verdict's warnings of unsound healed bodies among those fired.
std::vector<std::string> unsoundSaid(const qelx_test::EventRecorder& events)
{
    std::vector<std::string> out;
    for (const std::string& text : events.names("Warning"))
        if (text.rfind("healed body ", 0) == 0 && text.find(" is not sound: ") != std::string::npos)
            out.push_back(text);
    return out;
}

} // namespace

// A part whose edge curve has two coincident control points bent off its
// face heals into a body the kernel's checks still refuse. Placed twice,
// upright and turned: healed with each part import, the part's body is
// said to be unsound; healed once after the whole translation, each placed
// body is, by its place among the healed bodies and its instance's name.
// A sound part beside it is said of neither way.
TEST_F(AssemblyHealVerdictTest, AnUnsoundHealedPartIsWarnedOfWhetherHealedWithItsPartOrAfterTheAssembly)
{
    for (const bool afterAssembly : {false, true}) {
        SCOPED_TRACE(afterAssembly ? "healed after the assembly" : "healed with each part");
        qelx_test::OptionScope options;
        options.on(Ve_OptionDoc::keyOf("HealBody"));
        if (afterAssembly)
            options.on(Ve_OptionDoc::keyOf("HealAssemBodiesAfterCompleteTranslation"));
        TestModel bent = TestModel::nurbsSheet(5, 5);
        qelx_test::TestNurbs& n = bent.curves[0].nurbs;
        ASSERT_GE(n.ctrl.size(), 6u);
        for (int k = 0; k < 3; ++k)
            n.ctrl[3 + k] = n.ctrl[k];
        TestAssembly a;
        const int part = a.addPart("bent", std::move(bent));
        const int sound = a.addPart("sound", TestModel::nurbsSheet(5, 5));
        a.place(-1, sound, "sound-1", qelx_test::placementTranslation(0, -20, 0));
        a.place(-1, part, "bent-1", qelx_test::placementTranslation(0, 0, 0));
        a.place(-1, part, "bent-2", qelx_test::placementTurnZ(1.0, 12, 3, -2));
        qelx_test::EventRecorder events;
        AssemblyRun run(std::move(a));
        ASSERT_EQ(run.run(), QELI_OK);
        ASSERT_EQ(run.bodies().size(), 3u);
        const std::vector<std::string> said = unsoundSaid(events);
        if (!afterAssembly) {
            // The part is converted once, and judged there.
            ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(events.names("Warning"));
            EXPECT_EQ(said[0].rfind("healed body 0 of 1 is not sound: the kernel's checks refuse it", 0), 0u)
                << said[0];
            continue;
        }
        ASSERT_EQ(said.size(), 2u) << ::testing::PrintToString(events.names("Warning"));
        // The sound part is healed first, in the document's order.
        EXPECT_EQ(said[0].rfind("healed body 1 of 3 (\"bent-1\") is not sound: the kernel's checks refuse it", 0),
                  0u)
            << said[0];
        EXPECT_EQ(said[1].rfind("healed body 2 of 3 (\"bent-2\") is not sound: the kernel's checks refuse it", 0),
                  0u)
            << said[1];
    }
}
