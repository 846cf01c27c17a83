// damage_peer: Open CASCADE's side of scripts/damage_judge.py.
//
//   damage_peer damage MODEL OUTDIR   damages MODEL (STEP, IGES or BREP) in every way
//                                     and frame, writes each as OUTDIR/CASE.step and
//                                     OUTDIR/CASE.igs, prints the original's measures
//                                     and one line per case (JSON)
//   damage_peer judge FILE            reads FILE strictly (no healing on reading) and
//                                     prints its measures (JSON)
//   damage_peer heal FILE OUT.step    the peer's own healing of a damaged file: read,
//                                     sew loose faces, make solids of closed shells,
//                                     ShapeFix_Shape; writes OUT.step and judges it as
//                                     `judge` does
//   damage_peer place MODEL FRAME OUT places MODEL undamaged in FRAME (identity, rotated,
//                                     mirrored), writes it as OUT (.step, .igs or .brep;
//                                     `-` writes nothing) and prints its measures (JSON),
//                                     a model of loose faces also as `heal` sews them
//                                     ("sewn")
//   damage_peer copy FILE OUT         the peer's own read and write of a file (OUT's kind
//                                     by extension), the cost a conversion is set beside
//
// The damage is Open CASCADE's own, never the connector's: vertices moved off their
// curves and surfaces by a fraction of the model's size (edge tolerances as they
// were), the shells exploded into loose faces with edges and vertices of their own,
// tolerances inflated to 1e-2..1e-1 of the size or multiplied by 10, 100 and 1000,
// every third face turned inside out;
// each made once and placed under the identity, a rotated and a mirrored placement.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qelx_formats/cad_damage.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "qelx_formats/exchange_leak_suppressions.hxx"
#include "tools/occ_shapes.hxx"

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Writer.hxx>
#include <ShapeFix_Shape.hxx>
#include <ShapeFix_Solid.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

namespace {

using namespace cad_damage;

void settings()
{
    Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
    STEPControl_Controller::Init();
    IGESControl_Controller::Init();
    Interface_Static::SetCVal("xstep.cascade.unit", "MM");
    Interface_Static::SetCVal("write.step.unit", "MM");
    Interface_Static::SetCVal("write.iges.unit", "MM");
    // IGES as B-rep solids: vertices are written, so that a vertex's damage reaches the file.
    Interface_Static::SetIVal("write.iges.brep.mode", 1);
}

// A STEP read without the reader's shape processing: the default sequence is
// replaced by an empty one, which leaves the shape as the file made it.
TopoDS_Shape strictStepRead(const std::string& path)
{
    Interface_Static::SetCVal("read.step.resource.name", "");
    if (!Interface_Static::IsPresent("NoHealing.exec.op"))
        Interface_Static::Init("XSTEP", "NoHealing.exec.op", 't', "");
    Interface_Static::SetCVal("read.step.sequence", "NoHealing");
    STEPControl_Reader r;
    TopoDS_Shape shape;
    if (r.ReadFile(path.c_str()) == IFSelect_RetDone && r.TransferRoots() > 0)
        shape = r.OneShape();
    Interface_Static::SetCVal("read.step.resource.name", "STEP");
    Interface_Static::SetCVal("read.step.sequence", "FromSTEP");
    return shape;
}

// Written by Open CASCADE's writer of the path's kind so that the file holds
// the shape: a sphere face whole but for holes across its seam is set on the
// sphere turned half a turn first, as STEP would otherwise carry its holes
// instead (the judge's reference is the shape before writing).
bool writeCarried(const TopoDS_Shape& shape, const std::string& path)
{
    const bool step = *qelx_formats::cadFormatOf(path) == qelx_formats::CadFormat::Step;
    return occ_shapes::writeFile(step ? qelx_formats::withSeamHolesReseated(shape) : shape, path);
}

struct Counts {
    int shells = 0, freeFaces = 0;
};

Counts countsOf(const TopoDS_Shape& shape)
{
    Counts c;
    TopTools_IndexedMapOfShape shells;
    TopExp::MapShapes(shape, TopAbs_SHELL, shells);
    c.shells = shells.Extent();
    for (TopExp_Explorer f(shape, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next())
        ++c.freeFaces;
    return c;
}

void printMeasures(const char* key, const TopoDS_Shape& shape, bool last)
{
    const cad_samples::Measures m = cad_samples::measure(shape);
    const Counts c = countsOf(shape);
    std::printf("\"%s\": {\"read\": %s, \"valid\": %s, \"solids\": %d, \"shells\": %d, \"faces\": %d, "
                "\"free_faces\": %d, \"volume\": %.12g, \"area\": %.12g}%s",
                key, shape.IsNull() ? "false" : "true", m.valid ? "true" : "false", m.solids, c.shells, m.faces,
                c.freeFaces, m.volume, m.area, last ? "" : ", ");
}

int damage(const std::string& model, const std::string& outdir)
{
    const TopoDS_Shape original = cad_samples::peerRead(model);
    if (original.IsNull()) {
        std::printf("{\"error\": \"unreadable\"}\n");
        return 1;
    }
    const double size = sizeOf(original);
    std::printf("{\"original\": {\"size\": %.12g, ", size);
    printMeasures("measures", original, true);
    std::printf("}}\n");
    struct Damage {
        std::string name;
        int kind;
        double fraction;
    };
    const std::vector<Damage> damages = {
        {"clean", 0, 0.0},       {"vertex-1e-5", 1, 1e-5}, {"vertex-1e-4", 1, 1e-4}, {"vertex-1e-3", 1, 1e-3},
        {"vertex-1e-2", 1, 1e-2}, {"loose-faces", 2, 0.0},  {"tolerances", 3, 0.0},   {"tol-x10", 4, 10.0},
        {"tol-x100", 4, 100.0},  {"tol-x1000", 4, 1000.0}, {"faces-reversed", 5, 0.0}};
    // Each damage is made once, in the model's own frame, and then placed: the three
    // frames of a damage hold the same damage, so that a frame whose result differs
    // from the others' shows a frame's fault rather than other random moves.
    for (const char* frame : {"identity", "rotated", "mirrored"}) {
        unsigned seed = 1;
        for (const Damage& d : damages) {
            ++seed;
            TopoDS_Shape shape;
            switch (d.kind) {
            case 0: shape = original; break;
            case 1: shape = movedVertices(original, d.fraction, size, seed); break;
            case 2: shape = looseFaces(original); break;
            case 3: shape = inflatedTolerances(original, size, seed); break;
            case 5: shape = reversedFaces(original); break;
            default: shape = scaledTolerances(original, d.fraction); break;
            }
            shape = occ_shapes::placed(shape, frame, size);
            const std::string base = outdir + "/" + d.name + "-" + frame;
            const bool step = writeCarried(shape, base + ".step");
            const bool iges = writeCarried(shape, base + ".igs");
            std::printf("{\"case\": \"%s\", \"damage\": \"%s\", \"frame\": \"%s\", \"step\": %s, \"iges\": %s, ",
                        base.c_str(), d.name.c_str(), frame, step ? "true" : "false", iges ? "true" : "false");
            printMeasures("damaged", shape, true);
            std::printf("}\n");
            std::fflush(stdout);
        }
    }
    return 0;
}

TopoDS_Shape judgedRead(const std::string& path)
{
    return *qelx_formats::cadFormatOf(path) == qelx_formats::CadFormat::Step ? strictStepRead(path)
                                                                                 : cad_samples::peerRead(path);
}

int judge(const std::string& path)
{
    std::printf("{");
    printMeasures("measures", judgedRead(path), true);
    std::printf("}\n");
    return 0;
}

// Loose faces sewn as a user of Open CASCADE sews them, a solid made of each
// closed shell; the shape as it is where it holds a solid or one face at most.
TopoDS_Shape sewnWhole(const TopoDS_Shape& shape, bool& sewn)
{
    sewn = false;
    const cad_samples::Measures read = cad_samples::measure(shape);
    if (shape.IsNull() || read.solids != 0 || read.faces <= 1)
        return shape;
    BRepBuilderAPI_Sewing sewing(1e-4 * sizeOf(shape));
    sewing.Add(shape);
    sewing.Perform();
    const TopoDS_Shape sewed = sewing.SewedShape();
    sewn = true;
    TopoDS_Compound all;
    BRep_Builder b;
    b.MakeCompound(all);
    for (TopExp_Explorer s(sewed, TopAbs_SHELL); s.More(); s.Next()) {
        const TopoDS_Shell& shell = TopoDS::Shell(s.Current());
        if (BRep_Tool::IsClosed(shell))
            b.Add(all, ShapeFix_Solid().SolidFromShell(shell));
        else
            b.Add(all, shell);
    }
    for (TopExp_Explorer f(sewed, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next())
        b.Add(all, f.Current());
    return all;
}

// What a user of Open CASCADE does with a damaged file: its reader's healing, sewing
// where faces are loose, a solid of each closed shell, then ShapeFix_Shape.
int heal(const std::string& path, const std::string& out)
{
    bool sewn = false;
    TopoDS_Shape shape = sewnWhole(cad_samples::peerRead(path), sewn);
    if (!shape.IsNull()) {
        ShapeFix_Shape fix(shape);
        fix.Perform();
        shape = fix.Shape();
    }
    const bool written = !shape.IsNull() && writeCarried(shape, out);
    std::printf("{\"sewn\": %s, \"written\": %s, ", sewn ? "true" : "false", written ? "true" : "false");
    printMeasures("measures", written ? strictStepRead(out) : TopoDS_Shape(), true);
    std::printf("}\n");
    return 0;
}

bool cadOrDash(const std::string& path) { return path == "-" || qelx_formats::cadFormatOf(path).has_value(); }

int place(const std::string& model, const std::string& frame, const std::string& out)
{
    TopoDS_Shape shape = cad_samples::peerRead(model);
    if (shape.IsNull()) {
        std::printf("{\"error\": \"unreadable\"}\n");
        return 1;
    }
    shape = occ_shapes::placed(shape, frame, sizeOf(shape));
    const bool written = out == "-" || writeCarried(shape, out);
    std::printf("{\"written\": %s, ", written ? "true" : "false");
    // A model of loose faces also as Open CASCADE's own sewing makes it whole:
    // what a road that sews them must come back as.
    bool sewn = false;
    const TopoDS_Shape whole = sewnWhole(shape, sewn);
    if (sewn)
        printMeasures("sewn", whole, false);
    printMeasures("measures", shape, true);
    std::printf("}\n");
    return written ? 0 : 1;
}

int copy(const std::string& path, const std::string& out)
{
    const TopoDS_Shape shape = cad_samples::peerRead(path);
    return !shape.IsNull() && occ_shapes::writeFile(shape, out) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    settings();
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "damage" && argc == 4)
        return damage(argv[2], argv[3]);
    if (verb == "judge" && argc == 3)
        return judge(argv[2]);
    if (verb == "heal" && argc == 4)
        return heal(argv[2], argv[3]);
    if (verb == "place" && argc == 5 && cadOrDash(argv[4]))
        return place(argv[2], argv[3], argv[4]);
    if (verb == "copy" && argc == 4 && qelx_formats::cadFormatOf(argv[3]))
        return copy(argv[2], argv[3]);
    std::fprintf(stderr, "usage: damage_peer damage MODEL OUTDIR | judge FILE | heal FILE OUT.step | "
                         "place MODEL FRAME OUT | copy FILE OUT\n");
    return 2;
}
