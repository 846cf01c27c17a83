// Surfaces, curves and pcurves of faces, edges and coedges as framework handles.
#include <gtest/gtest.h>

#include "geometry/surface_adapter.hxx"
#include "model_test_support.hxx"
#include "persist/analytic_surface_attribute.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"

namespace {

const Ve_BaseSurface* adapterOf(const Gk_Surface3Handle& h)
{
    return static_cast<const Ve_BaseSurface*>(h->getBase().get());
}

bool hasMarker(const ENTITY* e)
{
    ATTRIB_GEN_NAME* found = nullptr;
    api_find_named_attribute(e, "ATTRIB_XVELM_ANALYTIC_SURFACE", found);
    return found != nullptr;
}

} // namespace

TEST(FaceSurface, PlaneIsUnboundedSenseFollowsTheFaceAndTheAnalyticOneComesFromTheMarker)
{
    const Owned box{testkit::make_plane_box()};
    FACE* face = firstFace(box);
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    const int uses = face->geometry()->use_count();
    {
        const Gk_Surface3Handle s = f->GetSurface();
        ASSERT_TRUE(s.IsValid());
        EXPECT_TRUE(s->isSameSense());
        EXPECT_EQ(adapterOf(s)->surface(), as<Ve_SurfaceTag>(face->geometry()));
        EXPECT_FALSE(adapterOf(s)->span().u().isFinite());
        EXPECT_EQ(face->geometry()->use_count(), uses + 1);
        face->set_sense(REVERSED);
        EXPECT_TRUE(f->GetSurface()->isSameSense());
        EXPECT_FALSE(f->wrappedSurface()->isSameSense());
        face->set_sense(FORWARD);
        EXPECT_TRUE(f->wrappedSurface()->isSameSense());
    }
    EXPECT_EQ(face->geometry()->use_count(), uses);

    api_add_generic_named_attribute(face, "ATTRIB_XVELM_ANALYTIC_SURFACE", 1);
    EXPECT_FALSE(f->GetSurfaceAnalytic().IsValid());
    EXPECT_TRUE(hasMarker(face));
    SURFACE* analytic = make_surface(plane(QELposition(0, 0, 0), QELunit_vector(0, 0, -1)));
    new ATTRIB_ANALYT_SURF(face, analytic);
    const Gk_Surface3Handle s = f->wrappedSurface2();
    ASSERT_TRUE(s.IsValid());
    EXPECT_EQ(adapterOf(s)->surface(), as<Ve_SurfaceTag>(analytic));
    EXPECT_FALSE(adapterOf(s)->span().u().isFinite());
    EXPECT_TRUE(s->isSameSense());
    EXPECT_FALSE(hasMarker(face));
    EXPECT_TRUE(f->GetSurfaceAnalytic().IsValid());

    face->set_geometry(nullptr);
    EXPECT_FALSE(f->GetSurface().IsValid());
}

TEST(FaceSurface, ApproximatedSurfaceIsBoundedByTheFace)
{
    // An elliptical cone is approximated by the framework: the face's box bounds it.
    const Owned cap{testkit::make_cone_cap()};
    FACE* face = firstFace(cap);
    const cone round = static_cast<const CONE*>(face->geometry())->equation();
    face->set_geometry(new CONE(cone(round.base.centre, round.base.normal, round.base.major_axis, 0.5, round.sine,
                                     round.cosine, 0.0)));
    ASSERT_TRUE(as<Ve_SurfaceTag>(face->geometry())->isApproximated());
    const Gk_Surface3Handle s = as<Ve_FaceTag>(face)->GetSurface();
    ASSERT_TRUE(s.IsValid());
    EXPECT_TRUE(adapterOf(s)->span().u().isFinite());
    EXPECT_TRUE(adapterOf(s)->span().v().isFinite());
}

TEST(EdgeCurve, DomainFollowsTheEdgeSense)
{
    const Owned box{testkit::make_plane_box(10, 20, 30)};
    EDGE* e = firstFace(box)->loop()->start()->edge();
    Ve_EdgeTag* edge = as<Ve_EdgeTag>(e);
    const Gk_Domain own = edge->getDomain();
    const QELXCurve3DHandle forward = edge->GetCurve();
    ASSERT_TRUE(forward.IsValid());
    EXPECT_DOUBLE_EQ(forward->domain().low(), own.low());
    EXPECT_DOUBLE_EQ(forward->domain().high(), own.high());
    e->set_sense(REVERSED);
    const QELXCurve3DHandle reversed = edge->GetCurve();
    EXPECT_DOUBLE_EQ(reversed->domain().low(), -own.high());
    EXPECT_DOUBLE_EQ(reversed->domain().high(), -own.low());
    const QELXCurve3DHandle wrapped = edge->wrappedCurve();
    EXPECT_TRUE(wrapped->getMap().isNegated());
    EXPECT_DOUBLE_EQ(wrapped->domain().low(), own.low());
    EXPECT_DOUBLE_EQ(wrapped->domain().high(), own.high());
    e->set_sense(FORWARD);
    EXPECT_FALSE(edge->wrappedCurve()->getMap().isNegated());

    auto* v = new VERTEX(new APOINT(1, 1, 1));
    EDGE* point = new EDGE(v, v, new DEGENERATE_CURVE(QELposition(1, 1, 1)), FORWARD);
    EXPECT_FALSE(as<Ve_EdgeTag>(point)->GetCurve().IsValid());
    EXPECT_FALSE(as<Ve_EdgeTag>(point)->wrappedCurve().IsValid());
    api_del_entity(point);
}

TEST(CoedgePCurve, OverTheCoedgeDomainWhereTheSurfaceIsExact)
{
    const Owned box{testkit::make_plane_box()};
    FACE* face = firstFace(box);
    Ve_CoedgeTag* coedge = as<Ve_CoedgeTag>(face->loop()->start());
    ASSERT_NE(coedge->getPCurve(), nullptr);
    const QELXCurve2DHandle p = coedge->GetPCurve();
    ASSERT_TRUE(p.IsValid());
    EXPECT_DOUBLE_EQ(p->domain().low(), coedge->getDomain().low());
    EXPECT_DOUBLE_EQ(p->domain().high(), coedge->getDomain().high());
    face->set_geometry(nullptr);
    EXPECT_EQ(coedge->getPCurve(), nullptr);
    EXPECT_FALSE(coedge->GetPCurve().IsValid());
}
