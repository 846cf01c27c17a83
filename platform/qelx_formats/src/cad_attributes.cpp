// Names, colours and layers of a file's XDE document onto the model.
#include "cad_shapes.hxx"

#include <Quantity_Color.hxx>
#include <TColStd_HSequenceOfExtendedString.hxx>
#include <TCollection_AsciiString.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <IGESControl_Controller.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPCAFControl_Controller.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_LayerTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XCAFPrs_DocumentExplorer.hxx>

#include <stdexcept>

namespace qelx_formats {

// A document of its own, outside any application: the application would
// load the presentation drivers, which nothing here shows.
XdeDocument::XdeDocument() : m_doc(new TDocStd_Document("MDTV-XCAF"))
{
    XCAFDoc_DocumentTool::Set(m_doc->Main(), Standard_False);
}

// Layer links hold each other: forgetting every attribute unlinks them.
XdeDocument::~XdeDocument() { m_doc->Main().Root().ForgetAllAttributes(Standard_True); }

ExchangeSettings::ExchangeSettings()
{
    // Open CASCADE's readers and writers report on standard output; a
    // driver's output is its own, and failures come back as results.
    static const bool quiet = [] {
        Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
        return true;
    }();
    (void)quiet;
    STEPCAFControl_Controller::Init();
    IGESControl_Controller::Init();
    // The models' unit: the readers hand millimetres, the writers take them.
    set("xstep.cascade.unit", "MM");
    // STEP names faces (and other sub-shapes) on their own items: written
    // and read, or a face's name is lost on the way through a file.
    set("write.stepcaf.subshapes.name", "1");
    set("read.stepcaf.subshapes.name", "1");
}

ExchangeSettings::~ExchangeSettings()
{
    for (auto it = m_found.rbegin(); it != m_found.rend(); ++it)
        Interface_Static::SetCVal(it->first.c_str(), it->second.c_str());
}

void ExchangeSettings::set(const char* name, const char* value)
{
    if (!Interface_Static::IsPresent(name))
        throw std::logic_error(std::string("Open CASCADE has no setting ") + name);
    m_found.emplace_back(name, Interface_Static::CVal(name));
    if (!Interface_Static::SetCVal(name, value))
        throw std::logic_error(std::string("Open CASCADE refused ") + name + " = " + value);
}

namespace {

using qelx_test::TestAttributes;

class AttributeReader {
public:
    AttributeReader(const Handle(TDocStd_Document)& doc, const ReadShapes& shapes, qelx_test::TestModel& model,
                    LayerNumbers& numbers)
        : m_shapes(shapes), m_model(model), m_numbers(numbers), m_colors(XCAFDoc_DocumentTool::ColorTool(doc->Main())),
          m_layers(XCAFDoc_DocumentTool::LayerTool(doc->Main()))
    {
    }

    // What `labels` (most telling first) say of `shape`, onto its entities.
    void apply(const TopoDS_Shape& shape, std::initializer_list<TDF_Label> labels,
               const std::optional<Quantity_Color>& color)
    {
        TestAttributes found;
        for (const TDF_Label& label : labels) {
            Handle(TDataStd_Name) name;
            if (!found.name && label.FindAttribute(TDataStd_Name::GetID(), name) && name->Get().Length() > 0)
                found.name = TCollection_AsciiString(name->Get()).ToCString();
            const Handle(TColStd_HSequenceOfExtendedString) layers = m_layers->GetLayers(label);
            if (!found.layer && !layers.IsNull() && layers->Length() > 0)
                found.layer = layerNumber(TCollection_AsciiString(layers->Value(1)).ToCString());
        }
        if (color) {
            double r = 0.0, g = 0.0, b = 0.0;
            color->Values(r, g, b, Quantity_TOC_sRGB);
            found.color = std::array<double, 4>{r, g, b, 0.0};
        }
        if (!found.name && !found.layer && !found.color)
            return;
        for (std::uint64_t word : wordsOf(shape)) {
            TestAttributes& into = m_model.attributes[word];
            if (found.name)
                into.name = found.name;
            if (found.layer)
                into.layer = found.layer;
            if (found.color)
                into.color = found.color;
        }
    }

    std::optional<Quantity_Color> colorOf(const TDF_Label& label) const { return labelColor(m_colors, label); }

private:
    int layerNumber(const std::string& name)
    {
        const auto [at, added] = m_numbers.emplace(name, static_cast<int>(m_numbers.size()) + 1);
        m_model.layers[at->second].name = name;
        return at->second;
    }

    // A shape holding solids names their bodies; a sheet shell its body;
    // a face (or faces outside any body's shell) the faces.
    std::vector<std::uint64_t> wordsOf(const TopoDS_Shape& shape) const
    {
        std::vector<std::uint64_t> words;
        for (TopAbs_ShapeEnum kind : {TopAbs_SOLID, TopAbs_SHELL}) {
            for (TopExp_Explorer e(shape, kind); e.More(); e.Next())
                if (const int* body = m_shapes.bodies.Seek(e.Current()))
                    words.push_back(qelx_test::wordOf(qelx_test::KindBody, *body));
            if (!words.empty())
                return words;
        }
        for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next())
            if (const int* face = m_shapes.faces.Seek(e.Current()))
                words.push_back(qelx_test::wordOf(qelx_test::KindFace, *face));
        return words;
    }

    const ReadShapes& m_shapes;
    qelx_test::TestModel& m_model;
    LayerNumbers& m_numbers;
    Handle(XCAFDoc_ColorTool) m_colors;
    Handle(XCAFDoc_LayerTool) m_layers;
};

} // namespace

std::string igesNameText(const std::string& name)
{
    std::string carried;
    carried.reserve(name.size());
    const auto printable = [](char32_t c) { return (c >= 0x20 && c < 0x7f) || (c >= 0xa0 && c <= 0xff); };
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        // One UTF-8 sequence: its length by the lead byte, its character
        // when the sequence is whole and shortest.
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
        char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1f) : length == 3 ? (lead & 0x0f) : (lead & 0x07);
        bool whole = length != 0 && i + length <= name.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(name[i + k]);
            whole = (next & 0xc0) == 0x80;
            c = (c << 6) | (next & 0x3f);
        }
        static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!whole || c < shortest[length]) {
            carried += '?';
            ++i;
            continue;
        }
        if (!printable(c))
            carried += '?';
        else if (c < 0x80)
            carried += static_cast<char>(c);
        else
            carried.append(name, i, length);
        i += length;
    }
    return carried;
}

std::string latin1AsUtf8(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            text += byte;
        } else {
            text += static_cast<char>(0xc0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return text;
}

std::optional<Quantity_Color> labelColor(const Handle(XCAFDoc_ColorTool)& colors, const TDF_Label& label)
{
    Quantity_Color c;
    if (colors->GetColor(label, XCAFDoc_ColorSurf, c) || colors->GetColor(label, XCAFDoc_ColorGen, c))
        return c;
    return std::nullopt;
}

void readProductAttributes(const Handle(TDocStd_Document)& doc, const TDF_Label& product, const ReadShapes& shapes,
                           qelx_test::TestModel& model, LayerNumbers& numbers)
{
    AttributeReader reader(doc, shapes, model, numbers);
    // The product first, so that what its sub-shapes say of a face wins.
    reader.apply(XCAFDoc_ShapeTool::GetShape(product), {product}, reader.colorOf(product));
    TDF_LabelSequence subs;
    XCAFDoc_ShapeTool::GetSubShapes(product, subs);
    for (const TDF_Label& sub : subs)
        reader.apply(XCAFDoc_ShapeTool::GetShape(sub), {sub}, reader.colorOf(sub));
}

void readFileAttributes(const Handle(TDocStd_Document)& doc, const ReadShapes& shapes, qelx_test::TestModel& model)
{
    LayerNumbers numbers;
    for (const auto& [number, layer] : model.layers)
        numbers.emplace(layer.name, number);
    AttributeReader reader(doc, shapes, model, numbers);
    const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    // Parents come before their children, so that a part's own word wins.
    for (XCAFPrs_DocumentExplorer it(doc, XCAFPrs_DocumentExplorerFlags_None); it.More(); it.Next()) {
        const XCAFPrs_DocumentNode& node = it.Current();
        const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(node.RefLabel).Moved(node.Location);
        std::optional<Quantity_Color> color;
        if (node.Style.IsSetColorSurf())
            color = node.Style.GetColorSurf();
        reader.apply(shape, {node.RefLabel, node.Label}, color);
        TDF_LabelSequence subs;
        XCAFDoc_ShapeTool::GetSubShapes(node.RefLabel, subs);
        for (const TDF_Label& sub : subs)
            reader.apply(XCAFDoc_ShapeTool::GetShape(sub).Moved(node.Location), {sub}, reader.colorOf(sub));
    }
}

} // namespace qelx_formats
