// STEP product structure read into, and written from, the source model's
// assemblies, through the XDE document.
#include "qelx_formats/step_assembly.hxx"

#include "cad_shapes.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/neutral_document.hxx"

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
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <gp_Trsf.hxx>

#include <fstream>
#include <functional>
#include <map>
#include <new>
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

// The file's products in the assembly, each shared product once.
class ProductReader {
public:
    explicit ProductReader(TestAssembly& assembly) : m_assembly(assembly) {}

    int definitionOf(const TDF_Label& label)
    {
        const std::string entry = labelEntry(label);
        if (const auto it = m_definitions.find(entry); it != m_definitions.end())
            return it->second;
        const std::string name = labelName(label);
        if (XCAFDoc_ShapeTool::IsAssembly(label)) {
            const int definition = m_assembly.addAssembly(name);
            m_definitions[entry] = definition;
            TDF_LabelSequence components;
            XCAFDoc_ShapeTool::GetComponents(label, components, Standard_False);
            for (Standard_Integer i = 1; i <= components.Length(); ++i) {
                TDF_Label referred;
                if (!XCAFDoc_ShapeTool::GetReferredShape(components.Value(i), referred))
                    continue;
                const int child = definitionOf(referred);
                std::string instanceName = labelName(components.Value(i));
                if (instanceName.empty())
                    instanceName = labelName(referred);
                m_assembly.place(definition, child, instanceName,
                                 placementOf(XCAFDoc_ShapeTool::GetLocation(components.Value(i))));
            }
            return definition;
        }
        TestModel part;
        part.xType = cadSourceType(CadFormat::Step);
        part.unit = 1; // the reader hands millimetres
        readShapeInto(XCAFDoc_ShapeTool::GetShape(label), part);
        const int definition = m_assembly.addPart(name, std::move(part));
        m_definitions[entry] = definition;
        return definition;
    }

private:
    TestAssembly& m_assembly;
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
        error = path + ": " + what + (e.GetMessageString() && *e.GetMessageString() ? e.GetMessageString()
                                                                                     : e.DynamicType()->Name());
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
        const XdeDocument doc;
        STEPCAFControl_Reader reader;
        reader.SetNameMode(Standard_True);
        if (reader.ReadFile(path.c_str()) != IFSelect_RetDone)
            throw std::runtime_error("not a readable STEP file");
        Handle(TDocStd_Document) into = doc.get();
        if (!reader.Transfer(into))
            throw std::runtime_error("no products could be read");
        const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(doc.get()->Main());
        TDF_LabelSequence roots;
        tool->GetFreeShapes(roots);
        if (roots.IsEmpty())
            throw std::runtime_error("no product in the file");
        ProductReader products(read);
        for (Standard_Integer i = 1; i <= roots.Length(); ++i) {
            const int definition = products.definitionOf(roots.Value(i));
            read.place(-1, definition, labelName(roots.Value(i)),
                       placementOf(XCAFDoc_ShapeTool::GetShape(roots.Value(i)).Location()));
        }
    });
    if (result == QELI_OK)
        assembly = std::move(read);
    return result;
}

QELIResult writeStepAssembly(const TestAssembly& assembly, const std::string& path, std::string& error)
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
    std::string text;
    const QELIResult built = guarded(path, "the assembly could not be written: ", error, [&] {
        const ExchangeSettings settings;
        const XdeDocument doc;
        const Handle(XCAFDoc_ShapeTool) tool = XCAFDoc_DocumentTool::ShapeTool(doc.get()->Main());
        std::vector<TDF_Label> labels(assembly.definitions.size());
        for (std::size_t d = 0; d < assembly.definitions.size(); ++d) {
            const qelx_test::TestDefinition& definition = assembly.definitions[d];
            if (definition.assembly) {
                labels[d] = tool->NewShape();
            } else {
                const BuiltShapes shapes = buildShapes(definition.part);
                TopoDS_Shape shape;
                if (shapes.bodies.size() == 1) {
                    shape = shapes.bodies.front().shape;
                } else {
                    BRep_Builder builder;
                    TopoDS_Compound all;
                    builder.MakeCompound(all);
                    for (const BodyShape& body : shapes.bodies)
                        builder.Add(all, body.shape);
                    shape = all;
                }
                labels[d] = tool->AddShape(shape, Standard_False);
            }
            TDataStd_Name::Set(labels[d], TCollection_ExtendedString(definition.name.c_str()));
        }
        const auto component = [&](const TDF_Label& parent, int instance) {
            const qelx_test::TestInstance& i = assembly.instances[static_cast<std::size_t>(instance)];
            if (i.definition < 0)
                throw std::runtime_error("an instance places no definition");
            const TDF_Label made = tool->AddComponent(parent, labels[static_cast<std::size_t>(i.definition)],
                                                      TopLoc_Location(trsfOf(i.placement)));
            TDataStd_Name::Set(made, TCollection_ExtendedString(i.name.c_str()));
        };
        for (std::size_t d = 0; d < assembly.definitions.size(); ++d)
            for (int child : assembly.definitions[d].children)
                component(labels[d], child);
        const TDF_Label top = tool->NewShape();
        TDataStd_Name::Set(top, TCollection_ExtendedString("root"));
        for (int root : assembly.roots)
            component(top, root);
        tool->UpdateAssemblies();
        text = stepDocumentText(doc.get());
    });
    if (built != QELI_OK)
        return built;
    if (const QELIResult written = writeWholeFile(text, path, reason); written != QELI_OK) {
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
        STEPControl_Reader reader;
        if (reader.ReadFile(path.c_str()) != IFSelect_RetDone)
            throw std::runtime_error("not a readable STEP file");
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
