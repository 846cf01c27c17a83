// The walk by identifier at its edges: indices past the end, sheet and wire
// bodies, degenerate loops, and identifiers whose entity is gone.
#include "export_test_support.hxx"

#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"

namespace {

using B = QELXBRepExporter;

// Takes the one wire out of a fresh wire body and deletes the carrier.
WIRE* wireOf(BODY* carrier)
{
    WIRE* w = carrier->wire();
    carrier->set_wire(nullptr);
    w->set_body(nullptr);
    api_del_entity(carrier);
    return w;
}

} // namespace

TEST_F(ExportTest, WiresOfEachClassAreCountedApartAndTheLastStandsInPastTheEnd)
{
    // W1 a point wire, then the wires W2 and W3.
    WIRE* w1 = wireOf(testkit::make_vertex_body());
    WIRE* w2 = wireOf(testkit::make_wire_body(2));
    WIRE* w3 = wireOf(testkit::make_wire_body(3));
    auto* body = new BODY(w1);
    w1->set_next(w2);
    w2->set_next(w3);
    w2->set_body(body);
    w3->set_body(body);
    QELXBRepExporter& x = exporterOf({body});
    const QELXIdentifier id = idOf(body);
    int count = -1;
    EXPECT_EQ(x.GetNumberOfWiresFromBody(id, count), 0u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(x.GetNumberOfPointWiresFromBody(id, count), 0u);
    EXPECT_EQ(count, 1);
    struct Row {
        bool point;
        int index;
        WIRE* expected;
    };
    for (const Row& row : {Row{false, 0, w2}, Row{false, 1, w3}, Row{false, 7, w3}, Row{true, 0, w1},
                           Row{true, 3, w3}}) {
        QELXIdentifier wire;
        EXPECT_EQ(row.point ? x.GetPointWireFromBody(id, row.index, wire) : x.GetWireFromBody(id, row.index, wire), 0u);
        EXPECT_EQ(entityOf(wire), row.expected) << row.point << " " << row.index;
        EXPECT_STREQ(wire.GetType(), B::QELXBRepTypeWire);
    }
    QELXIdentifier wire, edge, vertex;
    x.GetWireFromBody(id, 1, wire);
    EXPECT_EQ(x.GetNumberOfEdgesFromWire(wire, count), 0u);
    EXPECT_EQ(count, 3);
    int index = 2;
    EXPECT_EQ(x.GetEdgeFromWire(wire, index, edge), 0u);
    EXPECT_STREQ(edge.GetType(), B::QELXBRepTypeWire);
    EXPECT_STREQ(edge.GetTypeName(), "EDGE");
    EXPECT_EQ(x.GetVertexFromWire(wire, index, vertex), 0u);
    EXPECT_STREQ(vertex.GetTypeName(), "VERTEX");
    EXPECT_TRUE(is_VERTEX(entityOf(vertex)));
    EXPECT_EQ(x.GetNumberOfLumpsFromBody(id, count = -5), 0u);
    EXPECT_EQ(count, -5) << "lumps are only counted for closed solids";
}

TEST_F(ExportTest, SheetsAreReadAsShellsAndIndicesPastTheEndGiveTheNullWord)
{
    BODY* sheet = testkit::make_square_with_hole();
    BODY* second = testkit::make_sheet(1, 1);
    // Two shells in the sheet's lump.
    SHELL* extra = second->lump()->shell();
    second->lump()->set_shell(nullptr);
    api_del_entity(second);
    sheet->lump()->shell()->set_next(extra);
    extra->set_lump(sheet->lump());
    QELXBRepExporter& x = exporterOf({sheet});
    ASSERT_EQ(x.PreProcess(), 0u);
    QELXIdentifier body, shell, face, loop;
    EXPECT_EQ(x.GetBody(1, body), 0u);
    EXPECT_FALSE(body.IsValid());
    x.GetBody(0, body);
    int count = -1;
    EXPECT_EQ(x.GetNumberOf2DShellsFromBody(body, count), 0u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(x.Get2DShellFromBody(body, 5, shell), 0u);
    EXPECT_EQ(entityOf(shell), extra);
    x.Get2DShellFromBody(body, 0, shell);
    x.GetFaceFromShell(shell, 0, face);
    int index = 2;
    EXPECT_EQ(x.GetLoopFromFace(face, index, loop), 0x1000001u);
    EXPECT_FALSE(loop.IsValid());
    index = 1;
    EXPECT_EQ(x.GetLoopFromFace(face, index, loop), 0u);
    bool outer = true;
    EXPECT_EQ(x.IsOuterLoop(loop, outer), 0u);
    EXPECT_FALSE(outer) << "the hole";
    QELXIdentifier vertex;
    EXPECT_EQ(x.GetVertexFromDegenerateLoop(loop, vertex), 0u);
    EXPECT_FALSE(vertex.IsValid());

    api_reverse_face(static_cast<FACE*>(entityOf(face)));
    bool forward = true;
    EXPECT_EQ(x.GetFaceSense(face, forward), 0u);
    EXPECT_FALSE(forward);
}

TEST_F(ExportTest, IdentifiersOfDeletedEntitiesHaveNothingToAnswer)
{
    BODY* box = testkit::make_box();
    BODY* gone = testkit::make_box();
    QELXBRepExporter& x = exporterOf({box});
    // Valid words, but no live entity behind them.
    const QELXIdentifier body = idOf(gone), face = idOf(gone->lump()->shell()->face());
    const QELXIdentifier loop = idOf(gone->lump()->shell()->face()->loop());
    const QELXIdentifier coedge = idOf(gone->lump()->shell()->face()->loop()->start());
    const QELXIdentifier edge = idOf(gone->lump()->shell()->face()->loop()->start()->edge());
    const QELXIdentifier vertex = idOf(gone->lump()->shell()->face()->loop()->start()->edge()->start());
    api_del_entity(gone);
    int count = -3, index = 0;
    bool flag = true;
    double low = 9, high = 9, lows[3] = {9, 9, 9}, highs[3] = {9, 9, 9}, u[2] = {9, 9}, v[2] = {9, 9};
    QELXIdentifier out(QELXVelmEntityUtils::GetIdentifier(box), "", nullptr, "kept");
    EXPECT_EQ(x.GetNumberOfLumpsFromBody(body, count), 0u);
    EXPECT_EQ(x.GetNumberOfShellsFromVolume(body, count), 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(x.GetFaceFromShell(face, 0, out), 0x1000001u);
    EXPECT_EQ(x.GetFaceDomain(face, u, v), 0x1000001u);
    EXPECT_EQ(x.GetCoedgeFromLoop(loop, index, out), 0x1000001u);
    EXPECT_EQ(x.IsLoopDegenerate(loop, flag), 0x1000001u);
    EXPECT_EQ(x.GetCoedgeDomain(coedge, low, high), 0x1000001u);
    EXPECT_EQ(x.GetPartnerCoedge(coedge, out), 0x1000001u);
    EXPECT_EQ(x.GetEdgeDomain(edge, low, high), 0x1000001u);
    EXPECT_EQ(x.GetStartVertexFromEdge(edge, out), 0x1000001u);
    EXPECT_EQ(x.GetNumberOfEdgesFromVertex(vertex, count), 0u);
    EXPECT_EQ(x.GetBoundingBoxA(vertex, lows, highs), 0x1000001u);
    EXPECT_EQ(x.GetBoundingBoxB(body, lows, highs), 0x1000001u);
    EXPECT_EQ(x.GetFaceSurface(face, out), 0x1000001u);
    EXPECT_EQ(x.GetVertexPoint(vertex, out), 0u);
    EXPECT_STREQ(out.GetTypeName(), "kept");
    EXPECT_EQ(low, 9.0);
    EXPECT_EQ(lows[0], 9.0);
    EXPECT_EQ(x.GetNumberOfLoopsFromFace(QELXIdentifier(), count), 0x100000bu);
}
