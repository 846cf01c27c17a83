// Documents, links and representation options of the framework.
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <string>

namespace {

QELXIdentifier id(std::uint64_t word, const char* type = "T") { return QELXIdentifier(word, type, nullptr, "ENTITY"); }

std::vector<std::uint64_t> words(const QELXIdentifiers& ids)
{
    std::vector<std::uint64_t> out;
    for (int i = 0; i < ids.Count(); ++i)
        out.push_back(ids[i].GetValue());
    return out;
}

struct Reset : ::testing::Test {
    void SetUp() override { qelx_test::resetFramework(); }
    void TearDown() override { qelx_test::resetFramework(); }
};

} // namespace

TEST(QELXRepLinker, LinksAccumulatePerSourceWordInOrder)
{
    QELXRepLinker linker;
    QELXIdentifiers two;
    two.Add(id(20));
    two.Add(id(21));
    QELXIdentifiers one;
    one.Add(id(22));
    linker.AddLink(QELXRepLink(id(7, "A"), two));
    linker.AddLink(QELXRepLink(id(8), one));
    // Same word, another type text: the same source.
    linker.AddLink(QELXRepLink(id(7, "B"), one));

    QELXIdentifiers found;
    found.Add(id(1));
    ASSERT_EQ(linker.GetLinks(id(7), found), QELI_OK);
    EXPECT_EQ(words(found), (std::vector<std::uint64_t>{1, 20, 21, 22}));
    QELXIdentifiers none;
    EXPECT_EQ(linker.GetLinks(id(9), none), QELI_FAIL);
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(linker.GetNumberOfSources(), 2);
}

TEST_F(Reset, RepresentationOptionsArePublishedUnderTheDocumentType)
{
    QELXDocumentHandle doc(new QELXDocument);
    doc->SetXType("XTest");
    QELXDefaultBRepExporter exporter(doc);
    exporter.RaiseReference(); // held by this test, not by a handle

    ASSERT_EQ(exporter.SetOption("UseSurfaceLimits", QELXValue(true)), QELI_OK);
    ASSERT_EQ(exporter.SetOption("UseSurfaceLimits", QELXValue(false)), QELI_OK);
    ASSERT_EQ(exporter.SetOption("/XVelm/TrimFace", QELXValue(3)), QELI_OK);
    QELXOptions* own = nullptr;
    exporter.GetOptions(own);
    EXPECT_EQ(own->Count(), 2); // replaced, not added

    const Gk_Option* published = Gk_OptionDoc::fetchOption("/XTest/UseSurfaceLimits");
    ASSERT_NE(published, nullptr);
    EXPECT_FALSE(published->on());
    ASSERT_NE(Gk_OptionDoc::fetchOption("/XVelm/TrimFace"), nullptr);

    // The export base falls back to the registry; the plain base does not.
    Gk_OptionDoc::setOption("/XTest/OnlyInRegistry", QELXValue(2));
    QELXOption* option = nullptr;
    ASSERT_EQ(exporter.GetOption("OnlyInRegistry", option), QELI_OK);
    EXPECT_EQ(static_cast<Gk_Option*>(option)->count(), 2);
    option = nullptr;
    EXPECT_EQ(exporter.QELXRepresentation::GetOption("OnlyInRegistry", option), QELI_FAIL);
    EXPECT_EQ(option, nullptr);

}

TEST(QELXDocument, ExportRepsFilesAndUnits)
{
    QELXDocumentHandle doc(new QELXDocument);
    QELXUnit unit = QELX_UNIT_NONE;
    EXPECT_EQ(doc->GetUnit(unit), QELI_FAIL);
    EXPECT_EQ(unit, QELX_UNIT_NONE);
    doc->SetUnit(QELX_UNIT_INCH);
    ASSERT_EQ(doc->GetUnit(unit), QELI_OK);
    EXPECT_EQ(unit, QELX_UNIT_INCH);

    QELXFile* file = nullptr;
    EXPECT_EQ(doc->GetFileHandle(file), QELI_FAIL);
    doc->SetFile("/some/folder/part.vlt");
    ASSERT_EQ(doc->GetFileHandle(file), QELI_OK);
    QELXFilePath path;
    QELXString name;
    ASSERT_EQ(file->GetFilePath(path), QELI_OK);
    ASSERT_EQ(path.GetName(name), QELI_OK);
    EXPECT_STREQ(name.c_str(), "part.vlt");

    QELXExportRepresentation* rep = nullptr;
    EXPECT_EQ(doc->GetExportRep(QELXRepType("BRep"), rep), QELI_FAIL);
    QELXDefaultBRepExporter* brep = new QELXDefaultBRepExporter(doc);
    doc->AddExportRep(brep);
    ASSERT_EQ(doc->GetExportRep(QELXRepType("BRep"), rep), QELI_OK);
    EXPECT_EQ(rep, brep);
    EXPECT_EQ(brep->GetReferenceCount(), 1);
}

TEST(QELXFileProperties, MissingFileGivesNothing)
{
    QELXFileProperties* props = reinterpret_cast<QELXFileProperties*>(1);
    EXPECT_EQ(QELXGetFileProperties(L"/no/such/file.vlt", L"VLT", props, nullptr, 0), static_cast<int>(QELI_FILE_NOT_FOUND));
    EXPECT_EQ(props, nullptr);

    const std::string path = ::testing::TempDir() + "props_test_" + std::to_string(::getpid()) + ".vlt";
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("12345", f);
    std::fclose(f);
    const QELXString wide(path);
    ASSERT_EQ(QELXGetFileProperties(wide.getWChars(), L"VLT", props, nullptr, 0), 0);
    ASSERT_NE(props, nullptr);
    EXPECT_EQ(props->size, 5u);
    EXPECT_EQ(props->format, L"VLT");
    EXPECT_EQ(QELXReleaseFileProperties(props), 0);
    EXPECT_EQ(props, nullptr);
    std::remove(path.c_str());
}

TEST(QELXBRepExporterUtils, CountsAndReleasesThroughTheTwoDShells)
{
    // Two 2-D shells of 2 and 3 faces; each face one loop of one coedge.
    struct Source : QELXDefaultBRepExporter {
        using QELXDefaultBRepExporter::QELXDefaultBRepExporter;
        using Id = const QELXIdentifier&;
        std::vector<std::pair<std::uint64_t, int>> released;
        QELIResult set(QELXIdentifier& out, std::uint64_t word) { return out = id(word), QELI_OK; }
        QELIResult GetNumberOf2DShellsFromBody(Id, int& n) override { return n = 2, QELI_OK; }
        QELIResult Get2DShellFromBody(Id, int i, QELXIdentifier& s) override { return set(s, 100 + std::uint64_t(i)); }
        QELIResult GetNumberOfFacesFromShell(Id s, int& n) override { return n = s.GetValue() == 100 ? 2 : 3, QELI_OK; }
        QELIResult GetFaceFromShell(Id s, int i, QELXIdentifier& f) override { return set(f, s.GetValue() * 10 + std::uint64_t(i)); }
        QELIResult GetNumberOfLoopsFromFace(Id, int& n) override { return n = 1, QELI_OK; }
        QELIResult GetLoopFromFace(Id f, int&, QELXIdentifier& l) override { return set(l, f.GetValue() + 5000); }
        QELIResult GetNumberOfCoedgesFromLoop(Id, int& n) override { return n = 1, QELI_OK; }
        QELIResult GetCoedgeFromLoop(Id l, int&, QELXIdentifier& c) override { return set(c, l.GetValue() + 5000); }
        QELIResult GetEdgeFromCoedge(Id c, QELXIdentifier& e) override { return set(e, c.GetValue() + 5000); }
        QELIResult GetStartVertexFromEdge(Id, QELXIdentifier& v) override { return set(v, 1); }
        QELIResult GetEndVertexFromEdge(Id, QELXIdentifier&) override { return QELI_FAIL; }
        QELIResult ReleaseGeometry(Id e, int kind) override { return released.emplace_back(e.GetValue(), kind), QELI_OK; }
    } source(nullptr);
    source.RaiseReference();
    EXPECT_EQ(QELXBRepExporterUtils::GetNumberOfFacesIn2DShellsFromBody(&source, id(1)), 5);
    EXPECT_EQ(QELXBRepExporterUtils::ReleaseGeometryOf2DShells(&source, id(1)), QELI_OK);
    ASSERT_EQ(source.released.size(), 20u); // 5 faces x (surface, pcurve, curve, start point)
    EXPECT_EQ(source.released[0], std::make_pair(std::uint64_t{1000}, int{QELXReleaseSurface}));
    EXPECT_EQ(source.released[1], std::make_pair(std::uint64_t{11000}, int{QELXReleasePCurve}));
    EXPECT_EQ(source.released[2], std::make_pair(std::uint64_t{16000}, int{QELXReleaseCurve}));
    EXPECT_EQ(source.released[3], std::make_pair(std::uint64_t{1}, int{QELXReleasePoint}));
}
