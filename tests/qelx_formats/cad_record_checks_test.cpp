// The readers' checks of single records, each met by the smallest damage
// that only that check sees: a STEP list naming a part twice, an IGES
// parameter line naming an entry past the directory, a directory entry
// with no parameter data, IGES spline records short of their ends, with
// falling knots or a weight of zero, a BREP count past the text behind a
// line record (whose values the count walk must step over whole), the
// exact line of a BREP word that is no number, and empty files. Then the
// neutral writer's target kinds: an old file's permissions kept, a link
// written through, anything but a regular file refused.
#include "damaged_files.hxx"
#include "peer_box.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/neutral_document.hxx"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <Geom_BSplineCurve.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path recordScratch(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("cad_records_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir / name;
}

std::string fileText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of a text, without their breaks, and back.
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    return text;
}

char igesSection(const std::string& line) { return line.size() >= 73 ? line[72] : ' '; }

// An IGES record's fields, each with the line (an index into the text's
// lines) it stands on.
struct IgesField {
    std::string text;
    std::size_t line;
};

// The fields of the parameter record of the first directory entry of
// `type`, and that entry's number.
std::vector<IgesField> igesRecord(const std::vector<std::string>& lines, int type, long& entry)
{
    entry = 0;
    long directoryLine = 0;
    for (const std::string& line : lines)
        if (igesSection(line) == 'D' && ++directoryLine % 2 == 1 && std::atoi(line.substr(0, 8).c_str()) == type) {
            entry = directoryLine;
            break;
        }
    std::vector<IgesField> fields;
    for (std::size_t i = 0; entry > 0 && i < lines.size(); ++i) {
        if (igesSection(lines[i]) != 'P' || std::atol(lines[i].substr(64, 8).c_str()) != entry)
            continue;
        const std::string data = lines[i].substr(0, 64);
        for (std::size_t from = 0; from < data.size();) {
            const std::size_t to = data.find_first_of(",;", from);
            if (to == std::string::npos)
                break;
            fields.push_back({data.substr(from, to - from), i});
            from = to + 1;
        }
    }
    EXPECT_FALSE(fields.empty()) << "no IGES record of type " << type;
    return fields;
}

// The record written back over its own lines, each field on the line it
// stood on; lines a shortened record left empty take the last fields of
// the lines before them.
void igesRecordSet(std::vector<std::string>& lines, std::vector<IgesField> fields, std::size_t lineFrom,
                   std::size_t lineTo)
{
    for (std::size_t line = lineTo, k = fields.size(); line > lineFrom && k > 0; --line) {
        if (fields[k - 1].line < line)
            fields[k - 1].line = line;
        while (k > 0 && fields[k - 1].line >= line)
            --k;
    }
    for (std::size_t i = lineFrom; i <= lineTo; ++i) {
        std::string data;
        for (std::size_t k = 0; k < fields.size(); ++k)
            if (fields[k].line == i)
                data += fields[k].text + (k + 1 == fields.size() ? ";" : ",");
        EXPECT_FALSE(data.empty()) << "an IGES parameter line left empty";
        EXPECT_LE(data.size(), 64u);
        data.resize(64, ' ');
        lines[i].replace(0, 64, data);
    }
}

// An IGES file of one spline edge (type 126): degree 3, six poles, knots
// of no pattern; `edit` changes the record's fields (type first).
std::string igesSplineFile(const std::function<void(std::vector<IgesField>&)>& edit)
{
    TColgp_Array1OfPnt poles(1, 6);
    const double xyz[6][3] = {{0, 0, 0}, {1, 2, 0}, {3, 2, 1}, {4, 0, 1}, {6, -1, 0}, {7, 1, 2}};
    for (int i = 0; i < 6; ++i)
        poles(i + 1) = gp_Pnt(xyz[i][0], xyz[i][1], xyz[i][2]);
    TColStd_Array1OfReal knots(1, 4);
    TColStd_Array1OfInteger mults(1, 4);
    const double k[4] = {0.0, 0.3, 0.8, 2.0};
    const int m[4] = {4, 1, 1, 4};
    for (int i = 0; i < 4; ++i)
        knots(i + 1) = k[i], mults(i + 1) = m[i];
    const TopoDS_Edge edge = BRepBuilderAPI_MakeEdge(new Geom_BSplineCurve(poles, knots, mults, 3)).Edge();
    IGESControl_Controller::Init();
    IGESControl_Writer writer("MM", 0);
    writer.AddShape(edge);
    writer.ComputeModel();
    const fs::path path = recordScratch("spline_source.igs");
    EXPECT_TRUE(writer.Write(path.c_str()));
    std::vector<std::string> lines = linesOf(fileText(path));
    fs::remove(path);
    long entry = 0;
    std::vector<IgesField> fields = igesRecord(lines, 126, entry);
    if (fields.empty())
        return joined(lines);
    const std::size_t from = fields.front().line, to = fields.back().line;
    edit(fields);
    igesRecordSet(lines, fields, from, to);
    return joined(lines);
}

using Refusal = cad_samples::DamagedText;

// Each text written as its file in the scratch folder and read: refused,
// saying what it must, nothing read; the files then go.
void expectRefusals(const std::vector<Refusal>& cases)
{
    cad_samples::expectEachRefusedSaying(recordScratch(""), cases);
    for (const Refusal& c : cases)
        fs::remove(recordScratch(c.file));
}

} // namespace

// A sound spline file reads; each spline record damaged in one way is
// refused by the check made for it, naming the entity.
TEST(CadRecords, IgesSplineRecordsShortOfTheirValuesOrUnbuildableAreRefused)
{
    {
        const fs::path path = recordScratch("sound_spline.igs");
        std::ofstream(path, std::ios::binary) << igesSplineFile([](std::vector<IgesField>&) {});
        qelx_test::TestModel model;
        std::string error;
        EXPECT_EQ(qelx_formats::readCadFile(path.string(), model, error), QELI_OK) << error;
        EXPECT_EQ(model.edges.size(), 1u);
        fs::remove(path);
    }
    // Fields: type, K (poles - 1), M (degree), four flags, K+M+2 knots,
    // K+1 weights, 3(K+1) coordinates, the two ends of the range (and a
    // normal).
    const int k = 5, m = 3, knotsFrom = 7, weightsFrom = knotsFrom + k + m + 2;
    const std::vector<Refusal> cases = {
        {"a spline record without its range's two ends", "short.igs", igesSplineFile([&](std::vector<IgesField>& f) {
             ASSERT_EQ(f.at(1).text + " " + f.at(2).text, "5 3");
             f.resize(static_cast<std::size_t>(weightsFrom + 4 * (k + 1)));
         }),
         {"a spline whose degree or counts its values do not fill"}},
        {"a spline record whose last knot falls", "falling.igs", igesSplineFile([&](std::vector<IgesField>& f) {
             f.at(static_cast<std::size_t>(weightsFrom - 1)).text = "1.";
         }),
         {"is a spline whose degree, knots, weights or control points no spline may have"}},
        {"a spline record with a weight of zero", "weightless.igs", igesSplineFile([&](std::vector<IgesField>& f) {
             f.at(static_cast<std::size_t>(weightsFrom + 2)).text = "0.";
         }),
         {"is a spline whose degree, knots, weights or control points no spline may have"}},
    };
    expectRefusals(cases);
}

// Damage to the structure around the records: a STEP loop listing an edge
// twice, an IGES parameter line naming the entry after the last, an IGES
// directory entry no parameter line names, an IGES face naming its surface
// where a loop belongs, a BREP count past the text after
// a line record, an empty file of each format.
TEST(CadRecords, ListsPointersAndCountsPastWhatTheFileHoldsAreRefused)
{
    const fs::path dir = recordScratch("");
    const std::string step = cad_samples::peerBox(dir, "box.step"), iges = cad_samples::peerBox(dir, "box.igs"),
                      brep = cad_samples::peerBox(dir, "box.brep");
    // The first loop's second edge made its first.
    std::string twice = step;
    {
        const std::size_t loop = step.find("EDGE_LOOP('',(");
        ASSERT_NE(loop, std::string::npos);
        const std::size_t first = loop + 14, comma = step.find(',', first), second = comma + 1;
        const std::size_t secondEnd = step.find_first_of(",)", second);
        twice.replace(second, secondEnd - second, step.substr(first, comma - first));
    }
    // The last parameter line made to name the entry after the directory's
    // last; the last entry given again as one more, of no parameter lines.
    std::vector<std::string> lines = linesOf(iges);
    long directoryLines = 0, parameterLines = 0;
    std::size_t lastDirectory = 0, lastParameter = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (igesSection(lines[i]) == 'D')
            ++directoryLines, lastDirectory = i;
        if (igesSection(lines[i]) == 'P')
            ++parameterLines, lastParameter = i;
    }
    ASSERT_GT(directoryLines, 2);
    std::vector<std::string> pastLines = lines;
    {
        char pointer[32];
        std::snprintf(pointer, sizeof pointer, "%8ld", directoryLines + 1);
        pastLines[lastParameter].replace(64, 8, pointer);
    }
    std::vector<std::string> unnamedLines = lines;
    for (int k = 0; k < 2; ++k) {
        std::string again = lines[lastDirectory - 1 + static_cast<std::size_t>(k)];
        char sequence[32];
        std::snprintf(sequence, sizeof sequence, "D%7ld", directoryLines + 1 + k);
        again.replace(72, 8, sequence);
        if (k == 1)
            again.replace(24, 8, "       0"); // no parameter lines
        unnamedLines.insert(unnamedLines.begin() + static_cast<long>(lastDirectory + 1 + static_cast<std::size_t>(k)),
                            again);
    }
    // The first face's first loop pointer made its surface's.
    std::vector<std::string> faceLines = lines;
    {
        long face = 0;
        std::vector<IgesField> fields = igesRecord(faceLines, 510, face);
        ASSERT_GE(fields.size(), 5u);
        const std::size_t from = fields.front().line, to = fields.back().line;
        fields[4].text = fields[1].text;
        igesRecordSet(faceLines, fields, from, to);
    }
    // A spline curve of 5000 poles after the Curves table's line records,
    // more than the rest of the text holds and fewer than its words.
    std::string brepCount = brep;
    {
        const std::size_t curves = brep.find("\nCurves ");
        const std::size_t countEnd = brep.find('\n', curves + 1);
        const int count = std::stoi(brep.substr(curves + 8, countEnd - curves - 8));
        const std::size_t tableEnd = brep.find("\nPolygon3D", curves);
        ASSERT_NE(tableEnd, std::string::npos);
        ASSERT_EQ(brep.substr(countEnd + 1, 2), "1 "); // a line record first
        brepCount.insert(tableEnd + 1, "7 0 0 1 5000 2\n");
        brepCount.replace(curves + 8, countEnd - curves - 8, std::to_string(count + 1));
    }
    const std::vector<Refusal> cases = {
        {"a STEP loop listing an edge twice", "twice.step", twice, {"lists one of its parts more than once"}},
        {"an IGES parameter line naming the entry past the directory", "past.igs", joined(pastLines),
         {"parameter line P" + std::to_string(parameterLines) + " names no directory entry"}},
        {"an IGES directory entry with no parameter line", "unnamed.igs", joined(unnamedLines),
         {"directory entry D" + std::to_string(directoryLines + 1) + " has no parameter data"}},
        {"an IGES face whose loop is its surface", "faceloop.igs", joined(faceLines),
         {"a face naming something other than a loop where a loop belongs"}},
        {"a BREP spline count past the text after a line record", "count.brep", brepCount,
         {"a count 5000 in the BREP Curves table"}},
        {"an empty STEP file", "empty.step", "", {"is empty"}},
        {"an empty IGES file", "empty.igs", "", {"is empty"}},
        {"an empty BREP file", "empty.brep", "", {"is empty"}},
    };
    expectRefusals(cases);
    fs::remove_all(dir);
}

// A word where a BREP value belongs is refused naming the line it stands
// on, whichever line of the Curves table that is.
TEST(CadRecords, ABrepWordThatIsNoNumberIsRefusedNamingItsOwnLine)
{
    const fs::path dir = recordScratch("");
    const std::string brep = cad_samples::peerBox(dir, "box.brep");
    const std::size_t curves = brep.find("\nCurves ");
    std::size_t at = brep.find('\n', curves + 1) + 1;
    for (int row = 1; row <= 3; ++row, at = brep.find('\n', at) + 1) {
        SCOPED_TRACE("curve " + std::to_string(row));
        const std::size_t end = brep.find('\n', at);
        std::string text = brep;
        text.replace(brep.rfind(' ', end) + 1, end - brep.rfind(' ', end) - 1, "x");
        const long line = 1 + std::count(brep.begin(), brep.begin() + static_cast<long>(at), '\n');
        expectRefusals({{"a word for a direction", "word.brep", text, {"damaged: line " + std::to_string(line) + ": "}}});
    }
    fs::remove_all(dir);
}

// The whole-file writer keeps a replaced file's permissions, writes through
// a link (the link stays, its file is replaced), and refuses a directory and a
// FIFO, leaving each as it was and no temporary file beside.
TEST(NeutralFile, ReplacedFilesKeepTheirModeLinksAreWrittenThroughOtherKindsRefused)
{
    const fs::path dir = recordScratch("targets");
    fs::create_directories(dir);
    std::string reason;
    const fs::path kept = dir / "kept.json";
    std::ofstream(kept) << "old";
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    ASSERT_EQ(qelx_formats::writeWholeFile("new", kept.string(), reason), QELI_OK) << reason;
    struct stat about {};
    ASSERT_EQ(::stat(kept.c_str(), &about), 0);
    EXPECT_EQ(about.st_mode & 07777, 0640u);
    EXPECT_EQ(fileText(kept), "new");

    const fs::path link = dir / "link.json";
    fs::create_symlink(kept, link);
    ASSERT_EQ(qelx_formats::writeWholeFile("through", link.string(), reason), QELI_OK) << reason;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fileText(kept), "through");

    const fs::path fifo = dir / "fifo.json", folder = dir / "folder.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(folder);
    struct Case {
        fs::path path;
        const char* said;
    };
    for (const Case& c : {Case{fifo, "is a FIFO, not a regular file"},
                          Case{folder, "is a directory, not a regular file"}}) {
        SCOPED_TRACE(c.path.string());
        reason.clear();
        EXPECT_EQ(qelx_formats::writeWholeFile("x", c.path.string(), reason), QELI_FILE_NOT_SAVED);
        EXPECT_NE(reason.find(c.said), std::string::npos) << reason;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(folder));
    int left = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        left += e.path().filename().string().ends_with(".tmp");
    EXPECT_EQ(left, 0);
    fs::remove_all(dir.parent_path());
}

namespace {
// An IGES text of the given entities in order (type, form, parameters after
// the type), entity k at directory entry 2k + 1 on its own parameter lines.
struct IgesEntity {
    int type, form;
    std::string parameters;
};
std::string igesOf(const std::vector<IgesEntity>& entities)
{
    const auto row = [](const std::string& text, char section, std::size_t number) {
        char tail[16];
        std::snprintf(tail, sizeof tail, "%c%7zu", section, number);
        return (text + std::string(72, ' ')).substr(0, 72) + tail + "\n";
    };
    const auto field = [](long long v) {
        char text[16];
        std::snprintf(text, sizeof text, "%8lld", v);
        return std::string(text);
    };
    const std::string global = "1H,,1H;,4Hgrop,8Hgrop.igs,4Hgrop,4Hgrop,32,38,6,308,15,4Hgrop,1.,2,2HMM,1,1.,"
                               "15H20260101.000000,1.E-06,100.,4Hgrop,4Hgrop,11,0,15H20260101.000000;";
    std::string start = row("gathering entities", 'S', 1), globals, directory, parameters;
    std::size_t g = 0, d = 0, p = 0;
    for (std::size_t at = 0; at < global.size(); at += 72)
        globals += row(global.substr(at, 72), 'G', ++g);
    for (std::size_t k = 0; k < entities.size(); ++k) {
        const long long entry = 2 * static_cast<long long>(k) + 1;
        std::string text = std::to_string(entities[k].type) + "," + entities[k].parameters + ";";
        const std::size_t first = p + 1;
        for (std::size_t at = 0; at < text.size(); at += 64)
            parameters += row((text.substr(at, 64) + std::string(64, ' ')).substr(0, 64) + field(entry), 'P', ++p);
        const long long lines = static_cast<long long>(p + 1 - first);
        directory += row(field(entities[k].type) + field(static_cast<long long>(first)) + std::string(48, ' ') +
                             "00000000", 'D', ++d);
        directory += row(field(entities[k].type) + field(0) + field(0) + field(lines) + field(entities[k].form),
                         'D', ++d);
    }
    char terminate[64];
    std::snprintf(terminate, sizeof terminate, "S%7dG%7zuD%7zuP%7zu", 1, g, d, p);
    return start + globals + directory + parameters + row(terminate, 'T', 1);
}
} // namespace

// Records that gather others by pointer (composite curves, subfigures,
// group associativities) and gather themselves through them are refused
// before the peer's parser links them, naming the entry and its parameter
// line where the cycle closes; the same records without the cycle read.
TEST(CadRecords, IgesRecordsGatheringThemselvesAreRefusedNamingTheirLine)
{
    const IgesEntity line = {110, 0, "0.,0.,0.,1.,0.,0."}, other = {110, 0, "1.,0.,0.,1.,1.,0."};
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("cad_gathering_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::vector<cad_samples::DamagedText> cases = {
        {"a composite curve among its own curves", "self.igs", igesOf({line, other, {102, 0, "3,1,3,5"}}),
         {"directory entry D5 (parameter line P3): it gathers itself"}},
        {"two composite curves naming each other", "pair.igs", igesOf({line, {102, 0, "2,1,5"}, {102, 0, "2,1,3"}}),
         {"directory entry D3 (parameter line P2): it gathers itself", "named again by D5"}},
        {"a subfigure holding an instance of itself", "subfigure.igs",
         igesOf({line, {308, 0, "0,3Hsub,2,1,5"}, {408, 0, "3,0.,0.,0.,1."}}),
         {"directory entry D3 (parameter line P2): it gathers itself"}},
        {"a group in a group of itself", "group.igs", igesOf({line, {402, 7, "2,1,5"}, {402, 7, "1,3"}}),
         {"directory entry D3 (parameter line P2): it gathers itself"}},
    };
    cad_samples::expectEachRefusedSaying(dir, cases);
    // Gathering without a cycle: a composite of two lines, a group of it.
    const std::string sound = (dir / "sound.igs").string();
    std::ofstream(sound, std::ios::binary) << igesOf({line, other, {102, 0, "2,1,3"}, {402, 7, "1,5"}});
    qelx_test::TestModel model;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(sound, model, error), QELI_OK) << error;
    EXPECT_FALSE(model.edges.empty());
    std::filesystem::remove_all(dir);
}
