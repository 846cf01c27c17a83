#pragma once
// Shared by the file reader and writer (private to the library): what one
// entity of a file carries besides its shape, and how models turn into
// Open CASCADE shapes.
#include "qelx/test_model.hxx"

#include <TDocStd_Document.hxx>
#include <TopTools_DataMapOfShapeInteger.hxx>
#include <TopoDS_Shape.hxx>

#include <string>
#include <utility>
#include <vector>

namespace qelx_formats {

// One model body as a shape, with the shapes of its faces by model index
// (for the attributes that name them).
struct BodyShape {
    int body = -1;
    TopoDS_Shape shape;
    std::vector<std::pair<int, TopoDS_Shape>> faces;
};

struct BuiltShapes {
    std::vector<BodyShape> bodies;
    int faces = 0;
};

// Builds every body of the model (throws std::runtime_error or
// Standard_Failure when the model's data cannot make a shape).
BuiltShapes buildShapes(const qelx_test::TestModel& model);

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

// The names, colours (surface colours, as the file holds them) and layers
// the document gives its shapes, onto the model entities they became: a
// product's onto its bodies, a sub-shape's onto its faces; what a deeper
// label says overrides what its assembly says. Layers are numbered from 1 in
// the order they are met.
void readFileAttributes(const Handle(TDocStd_Document)& doc, const ReadShapes& shapes, qelx_test::TestModel& model);

// A shape read into the model as a file's shapes are (solids, sheets, loose
// faces, wires); what each shape became.
ReadShapes readShapeInto(const TopoDS_Shape& shape, qelx_test::TestModel& model);
// The STEP text of an XDE document (throws std::runtime_error when the
// writer fails).
std::string stepDocumentText(const Handle(TDocStd_Document)& doc);

} // namespace qelx_formats
