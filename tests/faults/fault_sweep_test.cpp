// Failure injection over a realistic sequence: restore a model with every kind
// of entity, cache it in a document, walk every view with its adapters, edit
// inside a roll-back frame and delete it all. For every kernel call (and,
// separately, for allocations) failing in turn: no crash, nothing alive
// afterwards, no kernel error escaping the connector, and any result that
// differs from the clean run comes with a visible failure. The edited model
// is either the clean run's or, where the frame saw a failure, the original.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/curve_adapters.hxx"
#include "geometry/surface_adapter.hxx"
#include "geometry/surface_view.hxx"
#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist/persistent_class.hxx"
#include "../persist/persist_test_support.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/connector_test.hxx"
#include "support/repair_sweep.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"

namespace {

using persist_test::restoreText;

// The saved text; empty when the save failed. Undated, it leaves out the
// second line, which holds the time of saving and is no part of the model.
std::string saveText(const ENTITY_LIST& list, bool undated = true)
{
    FILE* fp = std::tmpfile();
    std::string text;
    if (api_save_entity_list(fp, 1, list).ok()) {
        std::rewind(fp);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
            text.append(buf, n);
    }
    std::fclose(fp);
    const std::size_t dated = text.find('\n');
    const std::size_t end = dated == std::string::npos ? dated : text.find('\n', dated + 1);
    if (!undated || end == std::string::npos)
        return text;
    text.erase(dated + 1, end - dated);
    // Entity numbers are handed out process-wide as they are asked for: the
    // number after each record's attribute pointer (its first $) goes too.
    std::string plain;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t attribute = line.find('$');
        const std::size_t number = attribute == std::string::npos ? attribute : line.find(' ', attribute);
        const std::size_t after = number == std::string::npos ? number : line.find(' ', number + 1);
        if (after != std::string::npos)
            line.replace(number + 1, after - number - 1, "#");
        plain += line + '\n';
    }
    return plain;
}

std::ostream& operator<<(std::ostream& out, const QELXPoint3D& p)
{
    return out << p[0] << ',' << p[1] << ',' << p[2];
}

std::ostream& operator<<(std::ostream& out, const QELXPoint2D& p)
{
    return out << p[0] << ',' << p[1];
}

// Solids of exact and bare geometry, a wire and a lone point, husks, a colour,
// a name and a group: the model is saved once and every run restores it.
const std::string& modelText()
{
    static const std::string text = [] {
        registerPersistentClasses();
        BODY* box = testkit::make_plane_box(4.0, 5.0, 6.0);
        FACE* top = box->lump()->shell()->face();
        new ATTRIB_DOVA_IGES_DE_ENTRY(box, 7);
        (new ATTRIB_DOVA_IGES_LAYER(top))->set_single_layer(3);
        (new ATTRIB_DOVA_IGES_LABEL(top))->set_label(1, "top");
        new ATTRIB_RGB(top->next(), 0.0, 1.0, 0.0);
        auto* group = new QELGROUP;
        api_ct_add_to_group(top->next(), group);
        BODY* bare = testkit::make_box(1.0, 2.0, 3.0);
        api_add_generic_named_attribute(bare, "ATTRIB_XVELM_NAME", "bare");
        ENTITY_LIST list;
        for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(testkit::make_cylinder(2.0, 3.0)),
                          static_cast<ENTITY*>(testkit::make_hemisphere(2.0)),
                          static_cast<ENTITY*>(testkit::make_spline_sheet()), static_cast<ENTITY*>(bare),
                          static_cast<ENTITY*>(testkit::make_wire_body(2, false)),
                          static_cast<ENTITY*>(testkit::make_vertex_body(QELposition(1, 2, 3))),
                          static_cast<ENTITY*>(group)})
            list.add(e);
        std::string saved = saveText(list, false);
        api_del_entity_list(list);
        return saved;
    }();
    return text;
}

double mid(const Gk_Domain& d)
{
    return d.isFinite() ? 0.5 * (d.low() + d.high()) : 0.0;
}

// What one run of the sequence saw.
struct Trial {
    Trial() { digest << std::setprecision(9); }
    std::ostringstream digest; // every answer the views gave (to 9 digits)
    bool failureSeen = false;  // a failed result, a framework exception
    std::string edited;        // the model saved after the edit frame
    std::string escaped;       // a kernel error that left the connector
};

void walkFace(Ve_FaceTag* face, Trial& run)
{
    std::ostringstream& out = run.digest;
    const Gk_Span span = face->getSpan();
    out << "face " << face->getNumberOfLoops() << ' ' << face->getNumberOfEdges() << ' ' << face->isForward();
    if (Ve_SurfaceTag* s = face->getSurface()) {
        const Ve_BaseSurface adapter(s, span);
        out << " type " << adapter.GetGkSurfaceType3() << " at "
            << adapter.eval(QELXPoint2D(mid(span.u()), mid(span.v())), nullptr);
    }
    const Gk_Surface3Handle wrapped = face->GetSurface();
    out << " handle " << wrapped.IsValid() << '\n';
    for (Ve_LoopTag* loop : face->getLoops()) {
        out << " loop " << loop->getNumberOfCoedges() << ' ' << loop->isOuterLoop() << '\n';
        for (Ve_CoedgeTag* c : loop->getCoedges()) {
            const QELXCurve2DHandle p = c->GetPCurve();
            out << "  coedge " << c->isForward();
            if (p.IsValid())
                out << " uv " << p->eval(mid(p->domain()), nullptr);
            out << '\n';
        }
    }
}

void walkBody(Ve_BodyTag* body, Trial& run)
{
    std::ostringstream& out = run.digest;
    out << "body " << body->getNumberOfLumps() << ' ' << body->getNumberOfFaces() << ' ' << body->getNumberOfEdges()
        << ' ' << body->getNumberOfWireEdges() << ' ' << body->getNumberOfDotVertices() << ' '
        << body->getVertices().Count() << ' ' << body->getWireVertices().Count() << ' ' << body->isNonManifold()
        << '\n';
    QELXBox3D box;
    if (body->GetBoundingBox(box) == 0)
        out << "box " << box.low() << ' ' << box.high() << '\n';
    else
        run.failureSeen = true;
    for (int i = 0, n = body->getNumberOfFaces(); i < n; ++i)
        walkFace(body->getFaceAt(i), run);
    for (int i = 0, n = body->getNumberOfEdges() + body->getNumberOfWireEdges(); i < n; ++i) {
        const int faceEdges = body->getNumberOfEdges();
        Ve_EdgeTag* e = i < faceEdges ? body->getEdgeAt(i) : body->getWireEdgeAt(i - faceEdges);
        const QELXCurve3DHandle c = e->GetCurve();
        out << "edge " << e->getNumberOfCoedges();
        if (c.IsValid()) {
            const Gk_Domain d = c->domain();
            out << " at " << c->eval(mid(d), nullptr);
            if (d.isFinite()) {
                const Gk_Domain own = e->getDomain();
                out << " length " << c->getBase()->length(own);
                // The B-spline export is parametrised over exactly the range asked for.
                const QELXBSplineDef3D def = c->getBase()->bspline(own, QELresfit, nullptr);
                if (!def.isEmpty())
                    out << " spline " << def.eval(mid(own));
            }
        }
        out << '\n';
    }
    // Vertex lists come in the order of their addresses: sorted here.
    std::vector<std::string> vertices;
    for (Ve_VertexTag* v : body->getVertices()) {
        std::ostringstream line;
        line << std::setprecision(9) << "vertex " << v->getPoint() << ' ' << v->getEdges().Count() << ' '
             << v->getFaces().Count() << '\n';
        vertices.push_back(line.str());
    }
    std::sort(vertices.begin(), vertices.end());
    for (const std::string& line : vertices)
        out << line;
}

// The edits: every solid moved, the husks turned into attributes. Inside one
// roll-back frame that fails when any edit reported a failure.
void edit(ENTITY_LIST& bodies, Trial& run)
{
    const QELXMorph3D shift(QELXAffine(), QELXPoint3D(1.0, 0.0, 0.0), 1.0);
    const int assertsBefore = static_cast<int>(Gk_ErrMgr::assertions().size());
    const outcome framed = velmCall([&] {
        bool ok = true;
        for (int i = 0; i < bodies.count(); ++i) {
            auto* b = static_cast<BODY*>(bodies[i]);
            reinterpret_cast<Ve_BodyTag*>(b)->apply(shift);
            ok = QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(b) && ok;
        }
        ok = ok && static_cast<int>(Gk_ErrMgr::assertions().size()) == assertsBefore;
        return ok ? outcome() : outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    });
    if (!framed.ok())
        run.failureSeen = true;
}

// Deletes what of the list is still alive.
outcome deleteLive(const ENTITY_LIST& list)
{
    ENTITY_LIST live;
    for (int i = 0; i < list.count(); ++i)
        if (velm_is_live_entity(list[i]))
            live.add(list[i]);
    return api_del_entity_list(live);
}

void sequence(Trial& run, ENTITY_LIST& restored)
{
    if (!restoreText(modelText(), restored).ok()) {
        run.failureSeen = true;
        return;
    }
    ENTITY_LIST bodies;
    for (int i = 0; i < restored.count(); ++i)
        if (is_BODY(restored[i]))
            bodies.add(restored[i]);
    try {
        Ve_DocumentTag doc;
        doc.appendSolids(bodies);
        doc.FillCache();
        for (int i = 0; i < bodies.count(); ++i)
            walkBody(reinterpret_cast<Ve_BodyTag*>(bodies[i]), run);
        doc.Clear();
    } catch (const QELXAllocException&) {
        run.failureSeen = true;
    } catch (const velm_exception& e) {
        run.escaped = "kernel error " + std::to_string(e.error_number()) + " escaped the views";
    }
    try {
        edit(bodies, run);
    } catch (const QELXAllocException&) {
        run.failureSeen = true;
    } catch (const velm_exception& e) {
        run.escaped = "kernel error " + std::to_string(e.error_number()) + " escaped the edits";
    }
    run.edited = saveText(restored);
    run.failureSeen = run.failureSeen || run.edited.empty();
    for (int i = 0; i < bodies.count(); ++i)
        reinterpret_cast<Ve_BodyTag*>(bodies[i])->release();
    if (!deleteLive(restored).ok())
        run.failureSeen = true;
}

struct Clean {
    std::string digest;
    std::string edited;
    std::string unedited;
    std::size_t asserts = 0; // what the clean run asserted
};

class FaultSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        modelText();
        qelx_test::resetFramework();
        velm_test_reset();
    }
    void TearDown() override { qelx_test::resetFramework(); }

    // Runs the sequence with the injection armed by `arm`; false once the
    // injection no longer fires (the sequence is shorter than asked).
    bool runOnce(const Clean& clean, const std::string& what, void (*arm)(long), long n)
    {
        qelx_test::resetFramework();
        velm_test_reset();
        // Sites of what the sequence makes, so that a leak says where it was made.
        velm_test_record_object_sites(true);
        const long entities = velm_live_entity_count();
        const long objects = velm_live_object_count();
        Trial run;
        ENTITY_LIST restored;
        arm(n);
        sequence(run, restored);
        const bool fired = !velm_test_injection_pending();
        const std::string where = what + " " + std::to_string(n) + " (" + velm_test_last_injected_call() + ")";
        velm_test_reset();
        // The clean-up after the sequence: what a failed deletion left.
        deleteLive(restored);
        if (!fired)
            return false;
        EXPECT_EQ(run.escaped, "") << where;
        EXPECT_EQ(velm_live_entity_count(), entities) << where << ": entities left alive";
        EXPECT_EQ(velm_live_object_count(), objects) << where << ": kernel objects left alive " << testkit::live_object_sites();
        const bool visible = run.failureSeen || Gk_ErrMgr::assertions().size() > clean.asserts;
        if (!visible) {
            EXPECT_EQ(run.digest.str(), clean.digest) << where << ": a wrong answer without a failure";
            EXPECT_EQ(run.edited, clean.edited) << where << ": a wrong edit without a failure";
        }
        if (!run.edited.empty()) {
            EXPECT_TRUE(run.edited == clean.edited || run.edited == clean.unedited)
                << where << ": the edit frame left the model half done";
        }
        return true;
    }

    Clean cleanRun()
    {
        Clean clean;
        Trial run;
        ENTITY_LIST restored;
        sequence(run, restored);
        EXPECT_FALSE(run.failureSeen);
        // Evaluating bare geometry is asserted, and only that.
        for (const Gk_AssertRecord& a : Gk_ErrMgr::assertions())
            EXPECT_TRUE(a.source == "ve_surfacetag" || a.source == "ve_curvetag") << a.source << ' ' << a.line;
        clean.asserts = Gk_ErrMgr::assertions().size();
        clean.digest = run.digest.str();
        clean.edited = run.edited;
        restored.clear();
        EXPECT_TRUE(restoreText(modelText(), restored).ok());
        clean.unedited = saveText(restored);
        api_del_entity_list(restored);
        EXPECT_NE(clean.edited, clean.unedited);
        return clean;
    }
};

void failCall(long n)
{
    velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
}

void failAllocation(long n)
{
    velm_test_fail_alloc_after(n);
}

TEST_F(FaultSweep, EveryKernelCallFailingInTurn)
{
    const Clean clean = cleanRun();
    long n = 1;
    while (runOnce(clean, "kernel call", failCall, n))
        ++n;
    testkit::report_sweep("kernel calls", n - 1, n - 1);
    EXPECT_GT(n, 100);
}

// Allocations are several times the calls: about every third one, in steps
// of 2, 3 and 4 in turn, so that the one skipped shifts and neighbours all
// get their turn somewhere along the sequence.
// Every one when a whole sweep is asked for (XVELM_SWEEP_RUNS).
TEST_F(FaultSweep, AllocationsFailingInTurn)
{
    const Clean clean = cleanRun();
    long n = 1;
    int runs = 0;
    while (runOnce(clean, "allocation", failAllocation, n)) {
        ++runs;
        n += testkit::whole_sweep_asked() ? 1 : 2 + runs % 3;
    }
    // Deleting a body makes no before-images, so the sequence allocates less than it once did.
    testkit::report_sweep("allocations", runs, n - 1);
    EXPECT_GT(runs, 50);
}

} // namespace
