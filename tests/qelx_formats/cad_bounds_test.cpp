// The readers' bounds weighed at their edges: a real just past what a model
// holds in each format, a file a byte past the size the readers take, an
// IGES file starting in a section other than its first two, an IGES integer
// past its file, BREP counts asking for more values than follow them but no
// more words, BREP shapes nested deeper than a model nests.
#include "damaged_files.hxx"
#include "peer_box.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <Geom_Line.hxx>
#include <gp_Ax3.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Vertex.hxx>
#include <cmath>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <gp_Pln.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <STEPControl_Writer.hxx>
#include <TopoDS_Compound.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// `text` with its first real of at least `width` characters from `from`
// on (between ',', '(' or ';') replaced by `by`, padded to that width (the
// columns of an IGES file stay where they are).
std::string withReal(std::string text, std::size_t from, std::size_t width, const std::string& by)
{
    for (std::size_t dot = text.find('.', from); dot != std::string::npos; dot = text.find('.', dot + 1)) {
        const std::size_t start = text.find_last_of(",(;", dot) + 1, end = text.find_first_of(",);", dot);
        if (end - start >= width && text.find_first_not_of("0123456789.+-EeD ", start) >= end)
            return text.replace(start, end - start, by + std::string(end - start - std::min(by.size(), end - start), ' '));
    }
    ADD_FAILURE() << "no real of " << width << " characters";
    return text;
}

// An IGES text with the last number of some parameter line (one with room
// after it in the line's 64 columns; a real where `real`) made `by`, its
// delimiter moved after it.
std::string withIgesNumber(std::string text, const std::string& by, bool real)
{
    for (std::size_t line = 0; line < text.size(); line = text.find('\n', line) + 1) {
        if (line + 72 >= text.size() || text[line + 72] != 'P')
            continue;
        const std::string data = text.substr(line, 64);
        const std::size_t delimiter = data.find_last_of(",;");
        const std::size_t start = delimiter == std::string::npos ? 0 : data.find_last_of(",(;", delimiter - 1);
        if (delimiter == std::string::npos || start == std::string::npos || start + 1 + by.size() + 1 > 64)
            continue;
        const std::string field = data.substr(start + 1, delimiter - start - 1);
        if ((real && field.find('.') == std::string::npos) || field.empty() ||
            field.find_first_not_of("0123456789.+-ED") != std::string::npos)
            continue;
        std::string made = data.substr(0, start + 1) + by + data[delimiter];
        made += std::string(64 - made.size(), ' ');
        return text.replace(line, 64, made);
    }
    ADD_FAILURE() << "no IGES parameter line with room for " << by;
    return text;
}

} // namespace

TEST(CadSource, ReadersRefuseWhatIsJustPastTheirBounds)
{
    const cad_samples::PeerBoxes boxes("cad_bounds");
    const fs::path& dir = boxes.dir;
    const std::string &brep = boxes.brep, &step = boxes.step, &iges = boxes.iges;
    // A real of 5e100 (finite, and a tenth of what a bound an order looser
    // would let through) in each format: a BREP curve's value, a STEP
    // direction, an IGES parameter.
    const std::size_t curves = brep.find("\nCurves ");
    std::string brepFar = brep;
    {
        const std::size_t line = brep.find('\n', curves + 1) + 1, end = brep.find('\n', line);
        std::string first = brep.substr(line, end - line);
        first.replace(first.rfind(' ') + 1, std::string::npos, "5e100");
        brepFar.replace(line, end - line, first);
    }
    const std::string stepFar = withReal(step, step.find("DIRECTION("), 1, "5.E100");
    std::size_t parameters = 0;
    while (parameters < iges.size() && !(parameters + 72 < iges.size() && iges[parameters + 72] == 'P'))
        parameters = iges.find('\n', parameters) + 1;
    const std::string igesFar = withIgesNumber(iges, "5.D100", true);
    // A BREP polygon whose node count asks for a third more values than
    // the whole text holds, yet no more than its words.
    std::size_t words = 0;
    {
        std::istringstream in(brep);
        for (std::string w; in >> w;)
            ++words;
    }
    std::string brepCount = brep;
    const std::size_t polygons = brep.find("\nPolygon3D 0\n");
    ASSERT_NE(polygons, std::string::npos);
    brepCount.replace(polygons, 13, "\nPolygon3D 1\n" + std::to_string(words / 3 + 1) + " 0\n0.1\n");
    // A BREP text that breaks off inside its first line record, which holds
    // more values than a point.
    const std::size_t firstCurve = brep.find('\n', curves + 1) + 1;
    const std::string brepShortLine = brep.substr(0, firstCurve) + "1 0 0 0 1\n";
    // A BREP file of compounds nested deeper than any model nests.
    std::string brepDeep;
    {
        BRep_Builder builder;
        TopoDS_Shape inner = BRepPrimAPI_MakeBox(1.0, 1.0, 1.0).Shape();
        for (int level = 0; level < 250; ++level) {
            TopoDS_Compound outer;
            builder.MakeCompound(outer);
            builder.Add(outer, inner);
            inner = outer;
        }
        std::ostringstream out;
        BRepTools::Write(inner, out);
        brepDeep = out.str();
    }
    // An IGES integer past any count or pointer a file of its size holds.
    const std::string igesHuge = withIgesNumber(iges, "99999999", false);
    // An IGES file starting with a line of its parameter section.
    std::string igesLate = iges.substr(parameters, iges.find('\n', parameters) + 1 - parameters) + iges;
    cad_samples::expectEachRefusedSaying(dir, {
        {"a BREP real of 5e100", "far.brep", brepFar, {"line ", "beyond any model"}},
        {"a STEP real of 5e100", "far.step", stepFar, {"beyond any model"}},
        {"an IGES real of 5e100", "far.igs", igesFar, {"beyond any model"}},
        {"a BREP count of more values than follow", "count.brep", brepCount,
         {"a count " + std::to_string(words / 3 + 1) + " in the BREP Polygon3D table"}},
        {"an IGES file starting in its parameter section", "late.igs", igesLate, {"not an IGES file", "line 1"}},
        {"a BREP line record cut after five values", "short.brep", brepShortLine, {"in the BREP Curves table"}},
        {"a BREP file of compounds nested 250 deep", "deep.brep", brepDeep, {"nested more than 200 deep"}},
        {"an IGES integer of 99999999", "huge.igs", igesHuge, {"an integer 99999999", "larger than any count"}},
    });
    // A file a byte past the largest the readers take (sparse: no disk is
    // used) is refused for its size, before anything reads it.
    {
        const std::string path = (dir / "large.step").string();
        std::ofstream(path, std::ios::binary) << step;
        fs::resize_file(path, (1ULL << 30) + 1);
        qelx_test::TestModel model;
        std::string error;
        EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
        EXPECT_NE(error.find("larger than the 1024 MB"), std::string::npos) << error;
    }
}

namespace {
// A unit square face in z = 0 whose first side is the first span of a
// degree-1 spline whose last control point lies `far` out along -y (the
// side itself stays on the square).
TopoDS_Shape squareWithASplineReaching(double far)
{
    TColgp_Array1OfPnt poles(1, 3);
    poles(1) = gp_Pnt(0, 0, 0);
    poles(2) = gp_Pnt(1, 0, 0);
    poles(3) = gp_Pnt(1, -far, 0);
    TColStd_Array1OfReal knots(1, 3);
    TColStd_Array1OfInteger multiplicities(1, 3);
    for (int i = 1; i <= 3; ++i) {
        knots(i) = i - 1;
        multiplicities(i) = i == 2 ? 1 : 2;
    }
    const Handle(Geom_BSplineCurve) spline = new Geom_BSplineCurve(poles, knots, multiplicities, 1);
    BRepBuilderAPI_MakeWire wire;
    wire.Add(BRepBuilderAPI_MakeEdge(spline, 0.0, 1.0).Edge());
    wire.Add(BRepBuilderAPI_MakeEdge(gp_Pnt(1, 0, 0), gp_Pnt(1, 1, 0)).Edge());
    wire.Add(BRepBuilderAPI_MakeEdge(gp_Pnt(1, 1, 0), gp_Pnt(0, 1, 0)).Edge());
    wire.Add(BRepBuilderAPI_MakeEdge(gp_Pnt(0, 1, 0), gp_Pnt(0, 0, 0)).Edge());
    return BRepBuilderAPI_MakeFace(gp_Pln(), wire.Wire(), Standard_True).Face();
}
} // namespace

// A spline of an edge or face whose control point lies farther from every
// vertex than a million times the model's size is refused as it is read,
// from every format, naming the edge (such a curve two billion out on a
// damaged STEP wing held the import minutes in fitting curves onto
// surfaces); one within reach reads.
TEST(CadSource, SplinesReachingFarBeyondTheirModelAreRefusedByEveryReader)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cad_far_spline_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const struct {
        double far;
        bool refused;
    } reaches[] = {{2147483648.0, true}, {2.0e6, true}, {1.0e5, false}};
    for (const auto& reach : reaches)
        for (const char* name : {"square.brep", "square.step"}) {
            SCOPED_TRACE(std::string(name) + " reaching " + std::to_string(reach.far));
            const TopoDS_Shape square = squareWithASplineReaching(reach.far);
            const std::string path = (dir / name).string();
            if (std::string(name).ends_with(".brep")) {
                ASSERT_TRUE(BRepTools::Write(square, path.c_str()));
            } else {
                STEPControl_Writer writer;
                ASSERT_EQ(writer.Transfer(square, STEPControl_AsIs), IFSelect_RetDone);
                ASSERT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
            }
            qelx_test::TestModel model;
            std::string error;
            if (!reach.refused) {
                EXPECT_EQ(qelx_formats::readCadFile(path, model, error), QELI_OK) << error;
                EXPECT_EQ(model.faces.size(), 1u);
                continue;
            }
            EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
            std::ostringstream pole;
            // Past ten kilometres, a point beyond any model (STEP names its
            // point); nearer, a pole beyond its model.
            if (reach.far > 1e7)
                pole << "a " << (std::string(name).ends_with(".brep") ? "spline control point" : "point") << " at y = "
                     << std::setprecision(17) << -reach.far << ", beyond any model";
            else
                pole << "a spline with a control point at (1, " << -reach.far << ", 0), farther than 1.41421e+06";
            EXPECT_NE(error.find(pole.str()), std::string::npos) << error;
            EXPECT_NE(error.find(std::string(": damaged: ") + (reach.far > 1e7 && std::string(name).ends_with(".step") ? "entity #" : "edge ")),
                      std::string::npos) << error;
        }
    std::filesystem::remove_all(dir);
}

namespace {
// `shape` written by the peer at `path` in the format its name ends with.
void writtenByThePeer(const TopoDS_Shape& shape, const std::string& path)
{
    if (path.ends_with(".brep")) {
        ASSERT_TRUE(BRepTools::Write(shape, path.c_str()));
    } else if (path.ends_with(".step")) {
        STEPControl_Writer writer;
        ASSERT_EQ(writer.Transfer(shape, STEPControl_AsIs), IFSelect_RetDone);
        ASSERT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
    } else {
        IGESControl_Controller::Init();
        IGESControl_Writer writer("MM", 1);
        writer.AddShape(shape);
        writer.ComputeModel();
        ASSERT_TRUE(writer.Write(path.c_str()));
    }
}
} // namespace

// A point past ten kilometres on one axis alone, either way, is refused by
// every reader as beyond any model, naming where it lies (a vertex of an
// IGES wire at z = 2147483647 was converted, and the BREP file written of
// it failed the peer's check: the doubles' spacing there passes the
// vertices' tolerance). A wire and a solid, placed so that their farthest
// point lies just past the bound, on each axis, and just within it.
TEST(CadSource, PointsBeyondAnyModelOnOneAxisAreRefusedByEveryReader)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cad_far_vertex_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto at = [](int axis, double value) {
        double xyz[3] = {1.0, 2.0, 3.0};
        xyz[axis] = value;
        return gp_Pnt(xyz[0], xyz[1], xyz[2]);
    };
    const struct {
        double value;
        const char* said; // null: read
    } reaches[] = {{2147483647.0, "2147483"}, // the box's nearer corner comes first
                   {-10000000.5, "-1000000"},
                   {9999990.0, nullptr},
                   {-1.0e7, nullptr}};
    const char* const placeOf[][2] = {{"box.brep", "(line "}, {"box.step", "entity #"}, {"box.igs", "entity D"}};
    for (int axis = 0; axis < 3; ++axis)
        for (const auto& reach : reaches)
            for (const bool solid : {false, true})
                for (const auto& [name, place] : placeOf) {
                    SCOPED_TRACE(std::string(name) + (solid ? " solid" : " wire") + ", axis " + std::to_string(axis) +
                                 " at " + std::to_string(reach.value));
                    // The wire's last vertex, or the box's farthest corner, at the value.
                    const gp_Pnt far = at(axis, reach.value);
                    gp_Pnt corner(far.XYZ() - gp_XYZ(4, 5, 6));
                    corner.SetCoord(axis + 1, reach.value < 0 ? reach.value + 4.0 : reach.value - 4.0);
                    const TopoDS_Shape shape =
                        solid ? BRepPrimAPI_MakeBox(corner, far).Shape()
                              : BRepBuilderAPI_MakePolygon(gp_Pnt(0, 0, 0), gp_Pnt(10, 0, 0), far).Wire();
                    const std::string path = (dir / name).string();
                    writtenByThePeer(shape, path);
                    qelx_test::TestModel model;
                    std::string error;
                    if (!reach.said) {
                        EXPECT_EQ(qelx_formats::readCadFile(path, model, error), QELI_OK) << error;
                        EXPECT_EQ(model.faces.size(), solid ? 6u : 0u);
                        continue;
                    }
                    EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
                    const std::string said = std::string(1, "xyz"[axis]) + " = " + reach.said;
                    EXPECT_NE(error.find(said), std::string::npos) << error;
                    EXPECT_NE(error.find(", beyond any model"), std::string::npos) << error;
                    EXPECT_NE(error.find(place), std::string::npos) << error;
                    EXPECT_TRUE(model.faces.empty() && model.edges.empty());
                }
    std::filesystem::remove_all(dir);
}

// A plane's or a line's own point past ten kilometres on one axis, on a
// model lying near the origin (a fuzzed IGES plane at z = 2147483647 was
// imported and healed, then the kernel's save refused it naming nothing),
// is refused as the file is read, naming the face or edge holding it; just
// within the bound, it reads.
TEST(CadSource, AnalyticPointsBeyondAnyModelAreRefusedNamingTheirFaceOrEdge)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cad_far_analytic_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const struct {
        double value;
        bool refused;
    } reaches[] = {{2147483647.0, true}, {-10000000.5, true}, {9999990.0, false}};
    // STEP names the point's own entity as it reads it; the others the face
    // or edge. The peer writes an IGES line as a segment by its ends, so no
    // IGES wire carries the far point.
    const struct {
        const char* name;
        const char* place;
        bool namesShape;
    } placeOf[] = {{"far.brep", "(line ", true}, {"far.step", "entity #", false}, {"far.igs", "entity D", true}};
    for (const int axis : {0, 1})
        for (const auto& reach : reaches)
            for (const bool sheet : {false, true})
                for (const auto& [name, place, namesShape] : placeOf) {
                    if (!sheet && std::string(name) == "far.igs")
                        continue;
                    SCOPED_TRACE(std::string(name) + (sheet ? " sheet" : " wire") + ", axis " + std::to_string(axis) +
                                 " at " + std::to_string(reach.value));
                    // The plane z = 3 through, or the line along the axis
                    // from, a point at the value on that axis; the shape
                    // itself lies within ten units of the origin.
                    gp_Pnt origin(1.0, 2.0, 3.0);
                    origin.SetCoord(axis + 1, reach.value);
                    const gp_Dir along = axis == 0 ? gp::DX() : gp::DY();
                    TopoDS_Shape shape;
                    if (sheet) {
                        const gp_Pln plane(gp_Ax3(origin, gp::DZ(), along));
                        const TopoDS_Wire square = BRepBuilderAPI_MakePolygon(gp_Pnt(0, 0, 3), gp_Pnt(10, 0, 3),
                                                                              gp_Pnt(10, 10, 3), gp_Pnt(0, 10, 3), true)
                                                       .Wire();
                        BRepBuilderAPI_MakeFace face(plane, square, true);
                        ASSERT_TRUE(face.IsDone());
                        shape = face.Face();
                    } else {
                        gp_Pnt a(1.0, 2.0, 3.0), b(1.0, 2.0, 3.0);
                        b.SetCoord(axis + 1, 9.0);
                        BRepBuilderAPI_MakeEdge edge(new Geom_Line(origin, along), a, b);
                        ASSERT_TRUE(edge.IsDone());
                        shape = BRepBuilderAPI_MakeWire(edge.Edge()).Wire();
                    }
                    const std::string path = (dir / name).string();
                    writtenByThePeer(shape, path);
                    qelx_test::TestModel model;
                    std::string error;
                    if (!reach.refused) {
                        EXPECT_EQ(qelx_formats::readCadFile(path, model, error), QELI_OK) << error;
                        continue;
                    }
                    EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
                    EXPECT_NE(error.find(", beyond any model"), std::string::npos) << error;
                    if (namesShape) {
                        EXPECT_NE(error.find(sheet ? "face " : "edge "), std::string::npos) << error;
                    }
                    EXPECT_NE(error.find(place), std::string::npos) << error;
                    EXPECT_TRUE(model.faces.empty() && model.edges.empty());
                }
    std::filesystem::remove_all(dir);
}

// An edge whose range winds round its circle more than once (a damaged
// BREP face's circle over [0, 1.2e8] held the import's healing minutes and
// gigabytes) is refused as it is read, naming the edge and its line; one
// turn, from anywhere, reads.
TEST(CadSource, EdgeRangesWindingMoreThanOnceRoundAreRefused)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cad_winding_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const Handle(Geom_Circle) circle = new Geom_Circle(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(0, 0, 1)), 5.0);
    const struct {
        double first, last;
        bool refused;
    } ranges[] = {{0.0, 123456789.5, true}, {-1.0, 2.0 * M_PI, true}, {0.0, 2.0 * M_PI, false}, {1.0, 1.0 + 2.0 * M_PI, false}};
    for (const auto& range : ranges) {
        SCOPED_TRACE(std::to_string(range.first) + " to " + std::to_string(range.last));
        BRep_Builder builder;
        TopoDS_Edge edge;
        builder.MakeEdge(edge, circle, 1e-7);
        TopoDS_Vertex start, end;
        builder.MakeVertex(start, circle->Value(range.first), 1e-7);
        builder.MakeVertex(end, circle->Value(range.last), 1e-7);
        builder.Add(edge, start.Oriented(TopAbs_FORWARD));
        builder.Add(edge, end.Oriented(TopAbs_REVERSED));
        builder.Range(edge, range.first, range.last);
        const std::string path = (dir / "winding.brep").string();
        ASSERT_TRUE(BRepTools::Write(edge, path.c_str()));
        qelx_test::TestModel model;
        std::string error;
        if (!range.refused) {
            EXPECT_EQ(qelx_formats::readCadFile(path, model, error), QELI_OK) << error;
            EXPECT_EQ(model.edges.size(), 1u);
            continue;
        }
        EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
        EXPECT_NE(error.find(": damaged: edge 1 (line "), std::string::npos) << error;
        EXPECT_NE(error.find("that winds more than once round its closed curve"), std::string::npos) << error;
    }
    std::filesystem::remove_all(dir);
}

// A plane face's edge whose range runs from a value to itself (a damaged
// BREP): the peer cannot make the edge's curve on the plane, and the file was
// refused as "the shapes it holds cannot be taken in whole", naming nothing.
// It is refused naming the edge and its line; each edge in turn, in every
// frame (identity, turned, mirrored).
TEST(CadSource, AnEdgeThePeerCannotLayOnItsPlaneIsRefusedNamingIt)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cad_on_plane_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    gp_Trsf turned, mirrored;
    turned.SetRotation(gp_Ax1(gp_Pnt(1, 2, 3), gp_Dir(1, 1, 1)), 0.7);
    mirrored.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(0, 1, 1)));
    for (const gp_Trsf& frame : {gp_Trsf(), turned, mirrored})
        for (int which = 0; which < 3; ++which) {
            SCOPED_TRACE("edge " + std::to_string(which) + ", frame form " + std::to_string(frame.Form()));
            const TopoDS_Face flat =
                BRepBuilderAPI_MakeFace(BRepBuilderAPI_MakePolygon(gp_Pnt(0, 0, 0), gp_Pnt(4, 0, 0), gp_Pnt(4, 3, 0), true).Wire(),
                                        true)
                    .Face();
            const TopoDS_Shape face = BRepBuilderAPI_Transform(flat, frame, true).Shape();
            TopExp_Explorer edge(face, TopAbs_EDGE);
            for (int k = 0; k < which; ++k)
                edge.Next();
            const std::string path = (dir / "on_plane.brep").string();
            ASSERT_TRUE(BRepTools::Write(face, path.c_str()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(path, model, error), QELI_OK) << error;
            BRep_Builder().Range(TopoDS::Edge(edge.Current()), 1.0, 1.0);
            ASSERT_TRUE(BRepTools::Write(face, path.c_str()));
            EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
            EXPECT_NE(error.find(": damaged: edge "), std::string::npos) << error;
            EXPECT_NE(error.find(" (line "), std::string::npos) << error;
            EXPECT_NE(error.find("its curve cannot be laid on the surface of a face it bounds"), std::string::npos) << error;
        }
    std::filesystem::remove_all(dir);
}
