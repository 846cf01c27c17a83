// What the readers' sewing of loose faces keeps of the file: a face that is
// not valid is never sewn into its neighbours (the faces stay as they came),
// and the names a file gives its loose faces follow them into the faces
// they were sewn into.
#include "cad_damage.hxx"
#include "cad_frames.hxx"
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>
#include <gp_Ax2.hxx>
#include <gp_Pln.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path sewnScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("sewn_faces_" + std::to_string(::getpid()) + "_" + name);
}

int sewnCount(const TopoDS_Shape& shape, TopAbs_ShapeEnum kind, TopAbs_ShapeEnum outside = TopAbs_SHAPE)
{
    int n = 0;
    for (TopExp_Explorer e(shape, kind, outside); e.More(); e.Next())
        ++n;
    return n;
}

// A plane face bounded by the polygon through `corners` (in the xy plane).
TopoDS_Shape planePolygonFace(const std::vector<gp_Pnt>& corners)
{
    BRepBuilderAPI_MakePolygon polygon;
    for (const gp_Pnt& p : corners)
        polygon.Add(p);
    polygon.Close();
    return BRepBuilderAPI_MakeFace(gp_Pln(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), polygon.Wire(), Standard_True).Shape();
}

// The face with its wire turned round in it.
TopoDS_Shape wireTurned(const TopoDS_Shape& face)
{
    TopoDS_Shape turned = face.EmptyCopied();
    BRep_Builder b;
    for (TopoDS_Iterator w(face); w.More(); w.Next())
        b.Add(turned, w.Value().Reversed());
    return turned;
}

} // namespace

// A sound square beside a face that is not valid, each with edges of its
// own, the two sharing a side: a sewing of them comes out invalid however
// wide its tolerance, and is not taken; the faces stay as they came, each
// alone (sewn, the sound face was made part of a shell the analyser
// refuses); two sound squares are sewn into one valid shell.
TEST(SewnFaces, AFaceThatIsNotValidIsNotSewnIntoItsNeighbours)
{
    const TopoDS_Shape square = planePolygonFace({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}});
    const TopoDS_Shape other = planePolygonFace({{0, 10, 0}, {10, 10, 0}, {10, 20, 0}, {0, 20, 0}});
    struct Case {
        const char* what;
        TopoDS_Shape face; // meeting the square along (0, 10) - (10, 10)
        bool sound;
    };
    const Case cases[] = {
        // Its wire crosses itself at (5, 15).
        {"a bow tie", planePolygonFace({{0, 10, 0}, {10, 10, 0}, {0, 20, 0}, {10, 20, 0}}), false},
        // Its one wire running clockwise: a hole with no outer wire.
        {"a hole alone", wireTurned(other), false},
        {"a square", other, true},
    };
    for (const auto& [frame, place] : cad_frames::threeFrames())
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", " + frame);
            ASSERT_EQ(BRepCheck_Analyzer(c.face).IsValid(), c.sound);
            TopoDS_Compound loose;
            BRep_Builder b;
            b.MakeCompound(loose);
            for (const TopoDS_Shape& f : {square, c.face})
                b.Add(loose, BRepBuilderAPI_Transform(f, place, Standard_True).Shape());
            const TopoDS_Shape sewn = qelx_formats::looseFacesSewn(loose);
            EXPECT_EQ(sewnCount(sewn, TopAbs_FACE), 2) << "a face lost";
            if (c.sound) {
                EXPECT_EQ(sewnCount(sewn, TopAbs_SHELL), 1);
                EXPECT_TRUE(BRepCheck_Analyzer(sewn).IsValid());
                continue;
            }
            EXPECT_EQ(sewnCount(sewn, TopAbs_SHELL), 0) << "sewn into a shell the analyser refuses";
            EXPECT_EQ(sewnCount(sewn, TopAbs_EDGE), 4 + sewnCount(c.face, TopAbs_EDGE)) << "an edge shared";
        }
}

// A box handed over as six loose faces, each named, written as STEP and
// IGES (every loose face a shell of its own) and read again: the reader sews
// them into one solid, and every name comes back once, on the face that now
// lies where the named face lay.
TEST(SewnFaces, NamesOfLooseFacesFollowThemIntoTheSolidTheyAreSewnInto)
{
    for (const auto& [frame, place] : cad_frames::threeFrames()) {
        SCOPED_TRACE(frame);
        // The loose faces read as a model from a BREP file, which keeps them loose.
        const fs::path in = sewnScratch("loose.brep");
        ASSERT_TRUE(BRepTools::Write(cad_damage::looseBoxFaces(10.0, 0.0, place), in.c_str()));
        qelx_test::TestModel model;
        std::string error;
        ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
        fs::remove(in);
        ASSERT_EQ(model.bodies.size(), 1u);
        ASSERT_EQ(model.faces.size(), 6u);
        // Each face named after the middle of its box, which the sewing keeps.
        std::map<std::string, qelx_test::Vec3> named; // name -> where
        const auto middleOf = [](const qelx_test::TestModel& m, int face) {
            double sum[3] = {0.0, 0.0, 0.0};
            int n = 0;
            for (int l : m.faces.at(static_cast<std::size_t>(face)).loops)
                for (int c : m.loops.at(static_cast<std::size_t>(l)).coedges) {
                    const int edge = m.coedges.at(static_cast<std::size_t>(c)).edge;
                    const qelx_test::TestEdge& e = m.edges.at(static_cast<std::size_t>(edge));
                    for (int v : {e.start, e.end}) {
                        const int point = m.vertices.at(static_cast<std::size_t>(v)).point;
                        const qelx_test::Vec3& p = m.points.at(static_cast<std::size_t>(point));
                        for (int k = 0; k < 3; ++k)
                            sum[k] += p[static_cast<std::size_t>(k)];
                        ++n;
                    }
                }
            return qelx_test::Vec3{sum[0] / n, sum[1] / n, sum[2] / n};
        };
        for (std::size_t f = 0; f < model.faces.size(); ++f) {
            const std::string name = "side " + std::to_string(f);
            model.attributes[qelx_test::wordOf(qelx_test::KindFace, static_cast<int>(f))].name = name;
            named[name] = middleOf(model, static_cast<int>(f));
        }
        for (const char* writer : {".step", ".igs"}) {
            SCOPED_TRACE(writer);
            const fs::path out = sewnScratch(std::string("named") + writer);
            ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
            qelx_test::TestModel back;
            ASSERT_EQ(qelx_formats::readCadFile(out.string(), back, error), QELI_OK) << error;
            fs::remove(out);
            ASSERT_EQ(back.bodies.size(), 1u);
            EXPECT_EQ(back.bodies[0].lumps.size(), 1u) << "not sewn into a solid";
            ASSERT_EQ(back.faces.size(), 6u);
            std::map<std::string, qelx_test::Vec3> found;
            for (std::size_t f = 0; f < back.faces.size(); ++f) {
                const auto it = back.attributes.find(qelx_test::wordOf(qelx_test::KindFace, static_cast<int>(f)));
                if (it != back.attributes.end() && it->second.name)
                    found[*it->second.name] = middleOf(back, static_cast<int>(f));
            }
            ASSERT_EQ(found.size(), named.size()) << "a name lost";
            for (const auto& [name, at] : named) {
                SCOPED_TRACE(name);
                ASSERT_EQ(found.count(name), 1u);
                for (std::size_t k = 0; k < 3; ++k)
                    EXPECT_NEAR(found[name][k], at[k], 1e-3) << "the name on another face";
            }
        }
    }
}
