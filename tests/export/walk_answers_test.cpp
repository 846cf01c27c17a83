// Answers of the walk that the whole-document tests do not single out: sheet
// shells of closed solids, partners, senses through pointers, degenerate
// loops, free surfaces of ordinary bodies and persistent numbers that fail.
#include "export_test_support.hxx"
#include "support/model_builders.hxx"
#include "velm/errors.hxx"
#include "velm/testkit.hxx"

namespace {

FACE* firstFaceOf(const BODY* b) { return b->lump()->shell()->face(); }

} // namespace

TEST_F(ExportTest, ClosedSolidsHaveNoSheetShellsAndSheetsHaveTheirs)
{
    BODY* box = testkit::make_box();
    BODY* sheet = testkit::make_sheet(2, 1);
    QELXBRepExporter& x = exporterOf({box, sheet});
    ASSERT_EQ(x.PreProcess(), 0u);
    int count = -1;
    EXPECT_EQ(x.GetNumberOf2DShellsFromBody(idOf(box), count), 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(x.GetNumberOf2DShellsFromBody(idOf(sheet), count), 0u);
    EXPECT_EQ(count, 1);
}

TEST_F(ExportTest, PartnersSensesAndDegenerateLoopsThroughBothRoads)
{
    BODY* box = testkit::make_box();
    BODY* wire = testkit::make_wire_body(2);
    QELXBRepExporter& x = exporterOf({box, wire});
    ASSERT_EQ(x.PreProcess(), 0u);
    FACE* face = firstFaceOf(box);
    COEDGE* coedge = face->loop()->start();
    QELXIdentifier partner;
    EXPECT_EQ(x.GetPartnerCoedge(idOf(coedge), partner), 0u);
    EXPECT_EQ(entityOf(partner), coedge->partner());
    for (sense_type sense : {FORWARD, REVERSED}) {
        face->set_sense(sense);
        EXPECT_EQ(x.GetFaceSensePtr(face), sense == FORWARD);
    }
    face->set_sense(FORWARD);
    for (COEDGE* c : {coedge, coedge->partner()})
        EXPECT_EQ(x.GetCoedgeSensePtr(c), c->sense() == FORWARD);
    // A wire coedge has no partner and still has its sense.
    COEDGE* lone = wire->wire()->coedge();
    ASSERT_EQ(lone->partner(), nullptr);
    EXPECT_EQ(x.GetCoedgeSensePtr(lone), lone->sense() == FORWARD);
    // A loop of four edges has no vertex to stand for it.
    EXPECT_EQ(x.GetVertexFromDegenerateLoopPtr(face->loop()), nullptr);
    // An ordinary body has no free surfaces.
    EXPECT_EQ(x.GetNumberOfFreeSurfacesFromBodyPtr(box), 0);
    EXPECT_EQ(x.GetFreeSurfaceFromBodyPtr(box, 0), nullptr);
}

TEST_F(ExportTest, APersistentNumberTheKernelCannotGiveIsNotHandedOut)
{
    BODY* box = testkit::make_box();
    QELXBRepExporter& x = exporterOf({box});
    ASSERT_EQ(x.PreProcess(), 0u);
    int id = -7;
    velm_test_fail_next("api_get_entity_id", qelvelm_api_errmod.message_code(VELM_API_FAILED));
    EXPECT_NE(x.GetPersistentIdPtr(firstFaceOf(box), id), 0u);
    EXPECT_EQ(id, -7);
    velm_test_reset();
}

// A wire held by a shell makes a wire body as one held by the body does.
TEST_F(ExportTest, WiresOfShellsMakeWireBodies)
{
    BODY* sheet = testkit::make_sheet(1, 1);
    BODY* holder = testkit::make_wire_body(2);
    QELXBRepExporter& x = exporterOf({sheet});
    ASSERT_EQ(x.PreProcess(), 0u);
    EXPECT_FALSE(x.IsWireBodyPtr(sheet));
    WIRE* wire = holder->wire();
    holder->set_wire(nullptr);
    wire->set_body(nullptr);
    SHELL* shell = sheet->lump()->shell();
    shell->set_wire(wire);
    wire->set_shell(shell);
    EXPECT_TRUE(x.IsWireBodyPtr(sheet));
    shell->set_wire(nullptr);
    wire->set_shell(nullptr);
    holder->set_wire(wire);
    wire->set_body(holder);
    api_del_entity(holder);
}
