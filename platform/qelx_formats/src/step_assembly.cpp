// STEP product structure read into, and written from, the source model's
// assemblies, through the XDE document.
#include "qelx_formats/step_assembly.hxx"

#include "cad_shapes.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/neutral_document.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Reader.hxx>
#include <Standard_Failure.hxx>
#include <TCollection_AsciiString.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDF_Tool.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <Quantity_Color.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>

namespace qelx_formats {

namespace {

using qelx_test::TestAssembly;
using qelx_test::TestModel;
using qelx_test::TestPlacement;

std::string labelName(const TDF_Label& label)
{
    Handle(TDataStd_Name) name;
    if (!label.FindAttribute(TDataStd_Name::GetID(), name))
        return std::string();
    return TCollection_AsciiString(name->Get()).ToCString();
}

std::string labelEntry(const TDF_Label& label)
{
    TCollection_AsciiString entry;
    TDF_Tool::Entry(label, entry);
    return entry.ToCString();
}

// Rows are the images of the axes (points read as rows), then the translation.
TestPlacement placementOf(const TopLoc_Location& location)
{
    const gp_Trsf t = location.Transformation();
    const gp_Mat m = t.VectorialPart();
    const gp_XYZ d = t.TranslationPart();
    TestPlacement p{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            p[static_cast<std::size_t>(3 * i + j)] = m(j + 1, i + 1);
    p[9] = d.X(), p[10] = d.Y(), p[11] = d.Z();
    return p;
}

gp_Trsf trsfOf(const TestPlacement& p)
{
    gp_Trsf t;
    t.SetValues(p[0], p[3], p[6], p[9], p[1], p[4], p[7], p[10], p[2], p[5], p[8], p[11]);
    return t;
}

// The file's products in the assembly, each shared product once, with the
// names, colours and layers the file gives products, their faces and
// instances (layers numbered across the whole file).
// With `shapesLater`, parts are listed without their shapes until
// readParts: the structure alone says whether the file is worth reading as
// an assembly.
class ProductReader {
public:
    ProductReader(TestAssembly& assembly, const Handle(TDocStd_Document)& doc, bool shapesLater = false)
        : m_assembly(assembly), m_doc(doc), m_colors(XCAFDoc_DocumentTool::ColorTool(doc->Main())),
          m_shapesLater(shapesLater)
    {
    }

    // The file's free products: an assembly product is the file's whole
    // product, not a part of it: its components are the top-level instances
    // (each flattened body is named after the one that places it, not all
    // after the file).
    void readRoots()
    {
        const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(m_doc->Main());
        TDF_LabelSequence roots;
        tool->GetFreeShapes(roots);
        if (roots.IsEmpty())
            throw std::runtime_error("no product in the file");
        for (Standard_Integer i = 1; i <= roots.Length(); ++i) {
            const TopLoc_Location where = XCAFDoc_ShapeTool::GetShape(roots.Value(i)).Location();
            if (XCAFDoc_ShapeTool::IsAssembly(roots.Value(i)))
                placeComponents(-1, roots.Value(i), where);
            else
                m_assembly.place(-1, definitionOf(roots.Value(i)), labelName(roots.Value(i)), placementOf(where));
        }
    }

    // The shapes of the parts listed without them, in the order they were
    // met (the order layers are numbered in).
    void readParts()
    {
        for (const auto& [definition, label] : m_later)
            readPart(m_assembly.definitions[static_cast<std::size_t>(definition)].part, label);
        m_later.clear();
    }

    int definitionOf(const TDF_Label& label)
    {
        const std::string entry = labelEntry(label);
        if (const auto it = m_definitions.find(entry); it != m_definitions.end())
            return it->second;
        const std::string name = labelName(label);
        if (XCAFDoc_ShapeTool::IsAssembly(label)) {
            const int definition = m_assembly.addAssembly(name);
            m_definitions[entry] = definition;
            placeComponents(definition, label, TopLoc_Location());
            return definition;
        }
        TestModel part;
        part.xType = cadSourceType(CadFormat::Step);
        part.unit = 1; // the reader hands millimetres
        if (!m_shapesLater)
            readPart(part, label);
        const int definition = m_assembly.addPart(name, std::move(part));
        if (m_shapesLater)
            m_later.emplace_back(definition, label);
        m_definitions[entry] = definition;
        return definition;
    }

    // The assembly product's components as instances under `parent` (-1: as
    // roots), placed by `outer` and then their own placement.
    void placeComponents(int parent, const TDF_Label& assembly, const TopLoc_Location& outer)
    {
        TDF_LabelSequence components;
        XCAFDoc_ShapeTool::GetComponents(assembly, components, Standard_False);
        for (Standard_Integer i = 1; i <= components.Length(); ++i) {
            TDF_Label referred;
            if (!XCAFDoc_ShapeTool::GetReferredShape(components.Value(i), referred))
                continue;
            const int child = definitionOf(referred);
            std::string instanceName = labelName(components.Value(i));
            if (instanceName.empty())
                instanceName = labelName(referred);
            const int instance = m_assembly.place(
                parent, child, instanceName, placementOf(outer * XCAFDoc_ShapeTool::GetLocation(components.Value(i))));
            // An instance's own colour overrides its product's.
            if (const std::optional<Quantity_Color> c = labelColor(m_colors, components.Value(i))) {
                double r = 0.0, g = 0.0, b = 0.0;
                c->Values(r, g, b, Quantity_TOC_sRGB);
                m_assembly.instances[static_cast<std::size_t>(instance)].color = std::array<double, 4>{r, g, b, 0.0};
            }
        }
    }

private:
    void readPart(TestModel& part, const TDF_Label& label)
    {
        const ReadShapes shapes = readShapeInto(XCAFDoc_ShapeTool::GetShape(label), part);
        readProductAttributes(m_doc, label, shapes, part, m_layers);
    }

    TestAssembly& m_assembly;
    Handle(TDocStd_Document) m_doc;
    Handle(XCAFDoc_ColorTool) m_colors;
    bool m_shapesLater = false;
    std::vector<std::pair<int, TDF_Label>> m_later;
    LayerNumbers m_layers;
    std::map<std::string, int> m_definitions;
};

QELIResult openable(const std::string& path, std::string& error)
{
    if (!std::ifstream(path)) {
        error = path + ": cannot be opened";
        return QELI_FILE_NOT_OPENED;
    }
    return QELI_OK;
}

// Runs `body`, turning what Open CASCADE or the allocator throws into one line.
QELIResult guarded(const std::string& path, const char* what, std::string& error, const std::function<void()>& body)
{
    try {
        body();
    } catch (const Standard_Failure& e) {
        error = path + ": " + what + failureText(e);
        return QELI_FAIL;
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory";
        return QELI_FAIL;
    } catch (const std::exception& e) {
        error = path + ": " + what + e.what();
        return QELI_FAIL;
    }
    return QELI_OK;
}

// The mirror in the plane x = 0 (S), on placements: S after the placement
// (the image mirrored), and S before it (what it places mirrored first).
TestPlacement mirroredAfter(TestPlacement p)
{
    for (int i = 0; i < 4; ++i)
        p[static_cast<std::size_t>(3 * i)] = -p[static_cast<std::size_t>(3 * i)];
    return p;
}

TestPlacement mirroredBefore(TestPlacement p)
{
    for (int j = 0; j < 3; ++j)
        p[static_cast<std::size_t>(j)] = -p[static_cast<std::size_t>(j)];
    return p;
}

bool mirrors(const TestPlacement& p)
{
    const double det = p[0] * (p[4] * p[8] - p[5] * p[7]) - p[1] * (p[3] * p[8] - p[5] * p[6]) +
                       p[2] * (p[3] * p[7] - p[4] * p[6]);
    return det < 0.0;
}

// The assembly's products into the XDE document. A STEP placement is rigid,
// so an instance whose placement mirrors places a mirrored copy of its
// product (mirrored in x = 0, each product's copy made once) by the rigid
// rest of the placement: P = (P S) S, the copy's sub-instances placed by
// S P' as their own placements turn out rigid or mirroring.
// Each part's shapes are judged as a single model's are for whether the
// file must be read back (wide tolerances, a closed edge's vertex off its
// curve, a face from pole to pole with holes).
class ProductWriter {
public:
    using Key = std::pair<int, bool>; // a definition, mirrored or not

    ProductWriter(const TestAssembly& assembly, const Handle(TDocStd_Document)& doc,
                  const std::vector<CadSourceMeasures>* sources)
        : m_assembly(assembly), m_sources(sources), m_doc(doc), m_tool(XCAFDoc_DocumentTool::ShapeTool(doc->Main())),
          m_colors(XCAFDoc_DocumentTool::ColorTool(doc->Main()))
    {
    }

    // A root instance under the top product.
    void root(const TDF_Label& top, int instance) { component(top, instance, false, m_roots); }

    // Whether the file must be read back, and the area its faces must then
    // cover: every part's faces once per placing of it (placements are
    // rigid, a mirror keeps areas).
    ReadBackCheck readBack()
    {
        ReadBackCheck check;
        check.needed = m_readBack;
        if (m_area) {
            std::map<Key, double> areas;
            const std::function<double(const Key&)> placed = [&](const Key& key) {
                if (const auto it = areas.find(key); it != areas.end())
                    return it->second;
                double area = 0.0;
                if (const auto part = m_shapes.find(key); part != m_shapes.end())
                    area = facesArea(part->second);
                else
                    for (const Key& child : m_placed[key])
                        area += placed(child);
                return areas[key] = area;
            };
            double total = 0.0;
            for (const Key& key : m_roots)
                total += placed(key);
            check.area = total;
        }
        return check;
    }

private:
    // The instance under `parent`, which is itself a mirrored copy when
    // `inMirrored`; what it places is added to `placed`.
    void component(const TDF_Label& parent, int instance, bool inMirrored, std::vector<Key>& placed)
    {
        const qelx_test::TestInstance& i = m_assembly.instances[static_cast<std::size_t>(instance)];
        if (i.definition < 0 || static_cast<std::size_t>(i.definition) >= m_assembly.definitions.size())
            throw std::runtime_error("an instance places no definition");
        TestPlacement placement = inMirrored ? mirroredAfter(i.placement) : i.placement;
        const bool mirrored = mirrors(placement);
        if (mirrored)
            placement = mirroredBefore(placement);
        const TDF_Label made =
            m_tool->AddComponent(parent, product(i.definition, mirrored), TopLoc_Location(trsfOf(placement)));
        placed.emplace_back(i.definition, mirrored);
        // An unnamed instance goes under its product's name: written without
        // one, the file named it after the document's label ("=>[0:1:1:2]")
        // or the occurrence's number, and a reader named its bodies so.
        const std::string& name =
            i.name.empty() ? m_assembly.definitions[static_cast<std::size_t>(i.definition)].name : i.name;
        TDataStd_Name::Set(made, TCollection_ExtendedString(name.c_str()));
        if (i.color) {
            requireCarriedColour(*i.color, "instance " + std::to_string(instance) +
                                               (i.name.empty() ? "" : " \"" + i.name + "\""));
            m_colors->SetColor(made, Quantity_Color((*i.color)[0], (*i.color)[1], (*i.color)[2], Quantity_TOC_sRGB),
                               XCAFDoc_ColorGen);
        }
    }

    TDF_Label product(int d, bool mirrored)
    {
        const Key key(d, mirrored);
        if (const auto it = m_products.find(key); it != m_products.end())
            return it->second;
        const qelx_test::TestDefinition& definition = m_assembly.definitions[static_cast<std::size_t>(d)];
        TDF_Label label;
        if (definition.assembly) {
            label = m_tool->NewShape();
            m_products[key] = label;
            std::vector<Key>& placed = m_placed[key];
            for (int child : definition.children)
                component(label, child, mirrored, placed);
        } else {
            // Before any mirroring: the measures are of the part as defined.
            BuiltShapes shapes;
            try {
                shapes = buildShapes(definition.part);
                if (m_sources && static_cast<std::size_t>(d) < m_sources->size())
                    checkAgainstSource(shapes, definition.part, (*m_sources)[static_cast<std::size_t>(d)]);
                else
                    checkSolidsInsideOut(shapes);
            } catch (const std::runtime_error& e) {
                throw std::runtime_error("product \"" + definition.name + "\": " + e.what());
            }
            if (mirrored)
                mirror(shapes);
            reseatForStep(shapes);
            const ReadBackCheck check = readBackCheck(shapes, CadFormat::Step);
            m_readBack = m_readBack || check.needed;
            m_area = m_area || check.area.has_value();
            if (shapes.bodies.size() == 1) {
                label = m_tool->AddShape(shapes.bodies.front().shape, Standard_False);
                labelBodyShape(definition.part, shapes.bodies.front(), label, m_doc, false);
            } else {
                BRep_Builder builder;
                TopoDS_Compound all;
                builder.MakeCompound(all);
                for (const BodyShape& body : shapes.bodies)
                    builder.Add(all, body.shape);
                label = m_tool->AddShape(all, Standard_False);
            }
            m_shapes[key] = XCAFDoc_ShapeTool::GetShape(label);
            m_products[key] = label;
        }
        // The product's name over its body's: a reader names the body after it.
        TDataStd_Name::Set(label, TCollection_ExtendedString(definition.name.c_str()));
        return label;
    }

    static void mirror(BuiltShapes& shapes)
    {
        gp_Trsf s;
        s.SetMirror(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(1, 0, 0)));
        for (BodyShape& body : shapes.bodies) {
            BRepBuilderAPI_Transform image(body.shape, s, Standard_True);
            for (auto& face : body.faces)
                face.second = image.ModifiedShape(face.second);
            body.shape = image.Shape();
        }
    }

    const TestAssembly& m_assembly;
    const std::vector<CadSourceMeasures>* m_sources;
    Handle(TDocStd_Document) m_doc;
    Handle(XCAFDoc_ShapeTool) m_tool;
    Handle(XCAFDoc_ColorTool) m_colors;
    std::map<Key, TDF_Label> m_products;
    std::map<Key, TopoDS_Shape> m_shapes;            // each part's, as written
    std::map<Key, std::vector<Key>> m_placed;        // what each assembly product places
    std::vector<Key> m_roots;
    bool m_readBack = false, m_area = false;
};

} // namespace

QELIResult readStepAssembly(const std::string& path, TestAssembly& assembly, std::string& error)
{
    if (cadFormatOf(path) != CadFormat::Step) {
        error = path + ": not a STEP file name";
        return QELI_FAIL;
    }
    if (const QELIResult open = openable(path, error); open != QELI_OK)
        return open;
    TestAssembly read;
    read.unit = 1;
    const QELIResult result = guarded(path, "damaged: ", error, [&] {
        const ExchangeSettings settings;
        const SignalsAsFailures signals;
        const XdeDocument doc;
        STEPCAFControl_Reader reader;
        reader.SetNameMode(Standard_True);
        reader.SetColorMode(Standard_True);
        reader.SetLayerMode(Standard_True);
        if (std::string reason; !readChecked(reader.ChangeReader().WS(), path, "STEP", reason))
            throw std::runtime_error(reason.substr(reason.rfind("damaged: ", 0) == 0 ? 9 : 0));
        Handle(TDocStd_Document) into = doc.get();
        if (!reader.Transfer(into))
            throw std::runtime_error("no products could be read");
        ProductReader(read, doc.get()).readRoots();
    });
    if (result == QELI_OK)
        assembly = std::move(read);
    return result;
}

bool placesProducts(const TestAssembly& assembly)
{
    std::vector<int> uses(assembly.definitions.size());
    for (const qelx_test::TestInstance& i : assembly.instances)
        if (i.definition >= 0 && static_cast<std::size_t>(i.definition) < uses.size() && ++uses[i.definition] > 1)
            return true;
    for (const qelx_test::TestDefinition& d : assembly.definitions)
        if (d.assembly && !d.children.empty())
            return true;
    return false;
}

QELIResult readStepFile(const std::string& path, TestModel& model, TestAssembly& assembly, bool& isAssembly,
                        int& faces, std::string& error)
{
    if (cadFormatOf(path) != CadFormat::Step) {
        error = path + ": not a STEP file name";
        return QELI_FAIL;
    }
    TestAssembly read;
    read.unit = 1;
    int facesRead = -1;
    const QELIResult result = readCadFileUnlessTaken(
        path, model, error, [&](const Handle(TDocStd_Document)& doc, const TopoDS_Shape& shape) {
            ProductReader products(read, doc, true);
            try {
                products.readRoots();
            } catch (const std::bad_alloc&) {
                throw;
            } catch (...) {
                // Products that cannot be told apart are read as one model.
                return false;
            }
            if (!placesProducts(read))
                return false;
            facesRead = facesReadFrom(shape);
            products.readParts();
            return true;
        });
    if (result != QELI_OK)
        return result;
    isAssembly = facesRead >= 0;
    if (isAssembly) {
        assembly = std::move(read);
        faces = facesRead;
    } else {
        faces = static_cast<int>(model.faces.size());
    }
    return QELI_OK;
}

QELIResult writeStepAssembly(const TestAssembly& assembly, const std::string& path, std::string& error,
                             const std::vector<CadSourceMeasures>* sources)
{
    if (cadFormatOf(path) != CadFormat::Step) {
        error = path + ": not a STEP file name";
        return QELI_FAIL;
    }
    std::string target, reason;
    if (resolveWriteTarget(path, target, reason) != QELI_OK) {
        error = path + ": " + reason;
        return QELI_FILE_NOT_SAVED;
    }
    std::optional<ScratchFile> scratch;
    const QELIResult built = guarded(path, "the assembly could not be written: ", error, [&] {
        scratch.emplace();
        const ExchangeSettings settings;
        std::optional<XdeDocument> doc(std::in_place);
        ReadBackCheck readBack;
        {
            ProductWriter products(assembly, doc->get(), sources);
            const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(doc->get()->Main());
            const TDF_Label top = tool->NewShape();
            TDataStd_Name::Set(top, TCollection_ExtendedString("root"));
            for (int root : assembly.roots)
                products.root(top, root);
            tool->UpdateAssemblies();
            readBack = products.readBack();
        }
        writeStepDocument(doc, *scratch);
        // As a single model's file: what would not come back valid is not written.
        if (readBack.needed)
            checkStepReadBack(scratch->path(), readBack.area);
    });
    if (built != QELI_OK)
        return built;
    if (const QELIResult written = scratch->copyTo(path, reason); written != QELI_OK) {
        error = path + ": " + reason;
        return written;
    }
    return QELI_OK;
}

QELIResult measureStepSolids(const std::string& path, int& solids, double& volume, std::string& error)
{
    if (const QELIResult open = openable(path, error); open != QELI_OK)
        return open;
    int count = 0;
    double total = 0.0;
    const QELIResult result = guarded(path, "damaged: ", error, [&] {
        const ExchangeSettings settings;
        const SignalsAsFailures signals;
        STEPControl_Reader reader;
        if (std::string reason; !readChecked(reader.WS(), path, "STEP", reason))
            throw std::runtime_error(reason.substr(reason.rfind("damaged: ", 0) == 0 ? 9 : 0));
        reader.TransferRoots();
        for (TopExp_Explorer s(reader.OneShape(), TopAbs_SOLID); s.More(); s.Next()) {
            GProp_GProps props;
            BRepGProp::VolumeProperties(s.Current(), props);
            total += props.Mass();
            ++count;
        }
    });
    if (result == QELI_OK)
        solids = count, volume = total;
    return result;
}

} // namespace qelx_formats
