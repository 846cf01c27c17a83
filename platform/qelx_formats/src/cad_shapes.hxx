#pragma once
// Shared by the file reader and writer (private to the library): what one
// entity of a file carries besides its shape, and how models turn into
// Open CASCADE shapes.
#include "qelx/test_model.hxx"
#include "qelx_formats/cad_file.hxx"

#include <Quantity_Color.hxx>
#include <TDF_Label.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <TopTools_DataMapOfShapeInteger.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <Interface_InterfaceModel.hxx>
#include <XSControl_WorkSession.hxx>
#include <Standard_Failure.hxx>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class BRepBuilderAPI_Sewing;

namespace qelx_formats {

// One model body as a shape, with the shapes of its faces by model index
// (for the attributes that name them).
struct BodyShape {
    int body = -1;
    TopoDS_Shape shape;
    std::vector<std::pair<int, TopoDS_Shape>> faces;
    // A sphere or torus face whose box cannot tell which side of its loops
    // it is (only the solid's volume can): true unless the builder knows.
    bool sideUntold = true;
};

struct BuiltShapes {
    std::vector<BodyShape> bodies;
    int faces = 0;
};

// Builds every body of the model (throws std::runtime_error or
// Standard_Failure when the model's data cannot make a shape).
BuiltShapes buildShapes(const qelx_test::TestModel& model);

// The integral of -G(v) du round every wire of the face as the wires run
// in the face turned forward (each edge's pcurve over its range, the
// collapsed edges at poles too), G being `primitive`: by Green's theorem
// the integral of G' over the region the wires bound in the surface's
// parameters. With G(v) = v it is that region's signed area there: positive
// where an outer loop bounds the face, negative for holes alone.
double wiresIntegral(const TopoDS_Face& face, const std::function<double(double)>& primitive);

// A built face's area: on a sphere or a torus whose tube does not cross its
// axis, the closed form of the surface's element integrated round the face's
// wires; on any other surface Open CASCADE's measure.
double builtFaceArea(const TopoDS_Face& face);

// Before a STEP write: a sphere face that is the whole sphere but for holes
// across its seam (one loop of the seam, both poles and the holes) goes
// onto the sphere turned half a turn about its axis (Open CASCADE's STEP
// writer and reader would carry it as its complement); the faces' shapes in
// `shapes` follow. And every face on a spindle torus (its tube crossing its
// axis) is set, in place, on the surface of revolution of the tube's circle
// with the torus's own parameters (Open CASCADE's STEP writer would write a
// surface of revolution of its own, on other parameters than the face's
// curves on it).
void reseatForStep(BuiltShapes& shapes);

// The area of every face of the shape, added up.
double facesArea(const TopoDS_Shape& shape);

// A measure (an area, a volume, a tolerance) as refusals quote it: six
// significant digits.
std::string measureText(double x);

// The shapes held against what the model's source measured of its bodies
// (cad_source_check.cpp): throws std::runtime_error naming the body and face
// ("body 0, face 3: ...", counted from 0 in the model's order) where a face
// covers another area, a solid holds another volume, or an edge or vertex
// is known only within a tolerance far wider than the body's. A body given
// no volume (or no measures) is held as checkSolidsInsideOut holds it.
void checkAgainstSource(const BuiltShapes& shapes, const qelx_test::TestModel& model,
                        const CadSourceMeasures& source);

// Where no measures of the source are at hand: a solid holding a face on a
// sphere or torus (which a face turned against its loops bounds the rest of,
// a region as closed as the face) must hold a positive volume; one inside
// out is refused naming such a face (the one whose turn would give the
// solid a volume, else the first).
void checkSolidsInsideOut(const BuiltShapes& shapes);

// Whether a file of `format` written from the shapes must be read back
// before it is kept (any file: some vertex or edge tolerance wider than a
// thousandth of the shapes' extent; a BREP file also: a face reaching both
// poles with holes, or a sphere or torus face of more than one wire; a STEP
// file also: a closed edge's vertex off its curve's ends, or a face from
// pole to pole of a surface of revolution or spline with holes, whose faces
// must then read back covering `area`, the built faces' own). Decided while
// the shapes are fresh in memory.
struct ReadBackCheck {
    bool needed = false;
    std::optional<double> area;
};
ReadBackCheck readBackCheck(const BuiltShapes& shapes, CadFormat format);

// The STEP file at `path` read back as Open CASCADE's reader reads it: its
// shapes must pass the whole analyser and, given `area`, cover it within a
// thousandth; else std::runtime_error says why ("STEP cannot hold the model
// validly: read back, ..."), after the written face the fault is in ("body 0,
// face 3: ") where `shapes`, the shapes written, are given and tell it.
void checkStepReadBack(const std::string& path, std::optional<double> area, const BuiltShapes* shapes = nullptr);

// While one of these lives, a fault inside Open CASCADE (a read through a
// null handle its reader built from damaged data, say) is thrown as its
// exception (OSD_SIGSEGV and kin, each a Standard_Failure) instead of ending
// the process; the handlers found before (the host's, the sanitizers') are
// put back at the end. Held around the reading of a file only.
class SignalsAsFailures {
public:
    SignalsAsFailures();
    ~SignalsAsFailures();
    SignalsAsFailures(const SignalsAsFailures&) = delete;
    SignalsAsFailures& operator=(const SignalsAsFailures&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

// What an exception of Open CASCADE's says, for a one-line message.
std::string failureText(const Standard_Failure& e);

// Reads the file into a reader's session as the reader's ReadFile does, but
// with the model checked before the session runs its own checks: no entity
// it could not read, no failed check, and no entity that reaches itself
// through its references (the session's checks and the transfer follow them
// by recursion, so a cycle would never end). `kind` names the format
// in the reason given for a file that cannot be parsed at all.
bool readChecked(const Handle(XSControl_WorkSession)& session, const std::string& path, const char* kind,
                 std::string& reason);

// Open CASCADE's data-exchange settings are process-wide. Every read and
// write holds one of these for its length: Open CASCADE's reports on
// standard output are silenced (once per process), the STEP and IGES
// controllers have registered their settings, shapes are in millimetres,
// and the settings `set` names as well; what was found is put back at the
// end, so that a file is read and written alike whatever the process (an
// earlier conversion, the host) set before, and the host keeps its own.
class ExchangeSettings {
public:
    ExchangeSettings();
    ~ExchangeSettings();
    ExchangeSettings(const ExchangeSettings&) = delete;
    ExchangeSettings& operator=(const ExchangeSettings&) = delete;

    // Throws std::logic_error for a setting no controller registered or a
    // value it refuses.
    void set(const char* name, const char* value);

private:
    std::vector<std::pair<std::string, std::string>> m_found;
};

// An XDE document (names, colours and layers beside the shapes).
class XdeDocument {
public:
    XdeDocument();
    ~XdeDocument();
    XdeDocument(const XdeDocument&) = delete;
    XdeDocument& operator=(const XdeDocument&) = delete;
    const Handle(TDocStd_Document)& get() const { return m_doc; }

private:
    Handle(TDocStd_Document) m_doc;
};

// The model entities a file's shapes became, by shape (location included,
// orientation not): solids and sheet shells by body, faces by face.
struct ReadShapes {
    TopTools_DataMapOfShapeInteger bodies, faces;
};

// The shape with its loose faces and open sheets outside solids sewn along
// their free edges (cad_sewing.cpp): a closed result becomes a solid facing
// outwards. The shape as it came when there is nothing to sew or the sewing
// would not be valid.
// The same, for a judge that reads the file itself: the shape as read.
TopoDS_Shape looseFacesSewn(const TopoDS_Shape& shape);
class LooseFacesSewn {
public:
    explicit LooseFacesSewn(const TopoDS_Shape& shape);
    LooseFacesSewn(const LooseFacesSewn&) = delete;
    LooseFacesSewn& operator=(const LooseFacesSewn&) = delete;
    ~LooseFacesSewn();
    const TopoDS_Shape& shape() const { return m_shape; }
    // The file's own faces and sheets bound to what they became, so that
    // what the file says of them still finds them.
    void bindOriginals(ReadShapes& shapes) const;

private:
    void sewApart(std::unique_ptr<BRepBuilderAPI_Sewing> sewing, const std::vector<TopoDS_Shape>& faces, double last,
                  int rounds);
    TopoDS_Shape sewnFaceOf(const TopoDS_Shape& face) const;

    TopoDS_Shape m_shape;
    // The sewings the faces went into (one, or one per part where a sewing
    // of them all pinched), and the faces left as they came.
    std::vector<std::unique_ptr<BRepBuilderAPI_Sewing>> m_sewings;
    std::vector<TopoDS_Shape> m_alone;
    std::vector<TopoDS_Shape> m_loose;
    // The file's shells of one face closing on itself, made solids.
    std::vector<TopoDS_Shape> m_closedAlone;
};

// The names, colours (surface colours, as the file holds them) and layers
// the document gives its shapes, onto the model entities they became: a
// product's onto its bodies, a sub-shape's onto its faces; what a deeper
// label says overrides what its assembly says. Layers are numbered from 1 in
// the order they are met.
void readFileAttributes(const Handle(TDocStd_Document)& doc, const ReadShapes& shapes, qelx_test::TestModel& model);

// Layer numbers by name, from 1 in the order met: one table for every model
// a file is read into, so that a layer keeps its number in all of them.
using LayerNumbers = std::map<std::string, int>;

// What one product's label and its sub-shapes' labels say (names, surface
// colours, first layers), onto the model the product's shape was read into:
// the product's onto its bodies, a sub-shape's onto its faces, which wins.
void readProductAttributes(const Handle(TDocStd_Document)& doc, const TDF_Label& product, const ReadShapes& shapes,
                           qelx_test::TestModel& model, LayerNumbers& numbers);

// IGES names are bytes, one a character, read and written by Open CASCADE
// as Latin-1 (its writer puts "_" for a character beyond, and a line break
// in a name breaks the file's columns). The text a name (UTF-8) can be
// carried as: every printable Latin-1 character kept, anything else (a
// character beyond Latin-1, a control character, bytes that are no UTF-8)
// "?" each; the name itself when all of it can be carried.
std::string igesNameText(const std::string& name);
// An IGES name's bytes (Latin-1) as UTF-8.
std::string latin1AsUtf8(const std::string& bytes);

// The surface colour (or else the general colour) the label carries.
std::optional<Quantity_Color> labelColor(const Handle(XCAFDoc_ColorTool)& colors, const TDF_Label& label);

// Throws naming `place` ("body 0, face 3", "instance 2") unless each of the
// colour's red, green and blue lies within 0 to 1: the peer's colour throws
// with a text of its own below 0 and above 1 and takes a NaN or an infinity
// into the file.
void requireCarriedColour(const std::array<double, 4>& colour, const std::string& place);

// The names, colours and layers the model gives a body and its faces, onto
// the body's label and, as sub-shapes, its faces' (IGES levels by number,
// elsewhere by name). For IGES a name that cannot be carried whole goes as
// igesNameText gives it, with a framework warning naming the body or face.
void labelBodyShape(const qelx_test::TestModel& model, const BodyShape& body, const TDF_Label& label,
                    const Handle(TDocStd_Document)& doc, bool numbered);

// What a reading may do with the file's document and shapes instead of
// reading them into a model: true when it took them (the model is then left
// untouched); what it throws refuses the file as damaged.
using TakeFile = std::function<bool(const Handle(TDocStd_Document)& doc, const TopoDS_Shape& shape)>;
// readCadFile, with the document and shapes first offered to `take` (none:
// never taken).
QELIResult readCadFileUnlessTaken(const std::string& path, qelx_test::TestModel& model, std::string& error,
                                  const TakeFile& take);
// How many faces reading the shape into a model makes.
int facesReadFrom(const TopoDS_Shape& shape);

// A shape read into the model as a file's shapes are (solids, sheets, loose
// faces, wires); what each shape became.
ReadShapes readShapeInto(const TopoDS_Shape& shape, qelx_test::TestModel& model);
// A private file for Open CASCADE's writers, which write to a file name,
// removed when it goes; copied into its target piece by piece as the
// neutral documents are written, so that the text is never whole in memory.
class ScratchFile {
public:
    ScratchFile(); // throws std::runtime_error when none can be made
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const std::string& path() const { return m_path; }
    // writeWholeFile of the file's content.
    QELIResult copyTo(const std::string& path, std::string& reason) const;

private:
    std::string m_path;
};

// The XDE document's STEP into the scratch file (throws std::runtime_error
// when the writer fails); the document is let go as soon as the writer has
// made its own model of it.
void writeStepDocument(std::optional<XdeDocument>& doc, const ScratchFile& scratch);

} // namespace qelx_formats
