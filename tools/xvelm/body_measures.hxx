// The kernel's own measures of the bodies a walk handed over (each face's
// area, a solid's volume, the widest tolerance), for a writer to hold the
// shapes it builds of them against. Header-only so that the driver, its
// tests and the benchmarks share it.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "body_facts.hxx"
#include "qelx_formats/cad_file.hxx"
#include "velm/math.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace xvelm {

// The faces the walk handed over of model body `b`, in the model's order.
inline std::vector<int> walked_faces(const qelx_test::TestModel& m, std::size_t b)
{
    const qelx_test::TestBody& body = m.bodies[b];
    std::vector<int> faces = body.faces;
    const auto shell = [&](int s) {
        for (int f : m.shells.at(static_cast<std::size_t>(s)).faces)
            faces.push_back(f);
    };
    for (int l : body.lumps)
        for (int v : m.lumps.at(static_cast<std::size_t>(l)).volumes)
            for (int s : m.volumes.at(static_cast<std::size_t>(v)).shells)
                shell(s);
    for (int s : body.shells2D)
        shell(s);
    std::sort(faces.begin(), faces.end());
    return faces;
}

// Whether the walk handed the face over on a surface the export fitted in
// place of the kernel's (it records the fit's deviation): such a face's area
// can part from the kernel's without its edges' tolerances saying so.
inline bool fitted_face(const qelx_test::TestModel& m, int face)
{
    const int s = m.faces.at(static_cast<std::size_t>(face)).surface;
    return s >= 0 && static_cast<std::size_t>(s) < m.surfaces.size() && m.surfaces[static_cast<std::size_t>(s)].deviation > 0.0;
}

// Whether the kernel's face lies on a plane, a cone (a cylinder among
// them), a sphere or a ring torus. Its area comes cheap there (a loop integral
// with the element's closed form across it) and is measured: a face handed
// over turned against its loops bounds the plane outside them, or the rest
// of its surface, with every edge on it and the analyser content. (The
// writers measure sphere and torus faces by the same closed forms.) A
// spline face's area costs several times the write: it is measured only
// when fitted.
inline bool analytic_face(const FACE* face)
{
    if (!face->geometry() || !face->geometry()->has_equation())
        return false;
    const int type = face->geometry()->equation().type();
    // A spindle torus (its tube crossing the axis) has no closed form in
    // the kernel's measure (a screw's thread came out 47135.6 where it
    // covers 68.84), nor in the writers'.
    if (type == 4)
        return !static_cast<const torus&>(face->geometry()->equation()).spindle();
    return type >= 1 && type <= 3;
}

// How far the face's boundary as the kernel holds it (each coedge's pcurve
// through the surface) lies from its edges' curves, by the kernel's measure
// of a pcurve, and how far apart the pcurves of coedges that follow each
// other end and start (a vertex moved off its edges leaves its edges' ends
// apart, and the pcurves with them: how the gap is closed is the area's to
// choose, a writer's measure closing it otherwise by a band of that width);
// 0 where the face has no pcurves.
inline double boundary_stray(const FACE* face)
{
    double stray = 0.0;
    if (!face->geometry() || !face->geometry()->has_equation())
        return stray;
    const surface& s = face->geometry()->equation();
    for (const LOOP* loop = face->loop(); loop; loop = loop->next()) {
        const COEDGE* first = loop->start();
        // The first pcurve's start and the last one's end, through the surface.
        std::optional<QELposition> opening, last;
        // A ring that never comes round (damage) is walked no further than a
        // body could hold.
        long steps = 0;
        for (const COEDGE* c = first; c && ++steps < (1L << 24); c = c->next() == first ? nullptr : c->next()) {
            QELpar_pos start, end;
            if (!roundtrip_detail::pcurve_ends(c, start, end)) {
                last.reset();
                continue;
            }
            if (last)
                stray = std::max(stray, (s.eval_position(start) - *last).len());
            else if (c == loop->start())
                opening = s.eval_position(start);
            last = s.eval_position(end);
            stray = std::max(stray, pcurve_deviation(c));
        }
        if (opening && last)
            stray = std::max(stray, (*opening - *last).len());
    }
    return stray;
}

// The body's measures; a measure the kernel refuses is left out (that body
// or face is then written unjudged in it). The tolerance is the widest the
// body's data allows: an edge's or vertex's own, or the kernel's fits.
inline qelx_formats::CadBodyMeasures kernel_body_measures(const BODY* body, const qelx_test::TestModel& walked,
                                                          const std::vector<int>& facesWalked, bool solid)
{
    qelx_formats::CadBodyMeasures m;
    m.tolerance = QELresfit;
    ENTITY_LIST edges, vertices, faces;
    if (api_get_edges(body, edges).ok())
        for (int i = 0; i < edges.count(); ++i)
            m.tolerance = std::max(m.tolerance, static_cast<const EDGE*>(edges[i])->get_tolerance());
    if (api_get_vertices(body, vertices).ok())
        for (int i = 0; i < vertices.count(); ++i)
            m.tolerance = std::max(m.tolerance, static_cast<const VERTEX*>(vertices[i])->get_tolerance());
    // Faces pair with the walk's by their order, which is the kernel's. A
    // face the kernel measures negative (its loops against its sense, as it
    // reads them) has its measure in doubt: neither it nor the volume, made
    // of the same integrals, is handed on.
    // The volume only where a surface was fitted (its flux integral costs
    // as much as a spline face's area).
    bool doubtful = false, fitted = false;
    if (api_get_faces(body, faces).ok() && static_cast<std::size_t>(faces.count()) == facesWalked.size()) {
        for (int i = 0; i < faces.count(); ++i) {
            double area = std::nan(""), accuracy = 0.0;
            const bool fit = fitted_face(walked, facesWalked[static_cast<std::size_t>(i)]);
            if (!fit && !analytic_face(static_cast<const FACE*>(faces[i]))) {
                m.faceAreas.push_back(area);
                m.faceAccuracies.push_back(0.0);
                m.faceStrays.push_back(0.0);
                continue;
            }
            fitted = fitted || fit;
            if (!api_ent_area(faces[i], 1e-3, area, accuracy).ok() || !std::isfinite(area) || area < 0.0) {
                doubtful = true;
                area = std::nan("");
            }
            m.faceAreas.push_back(area);
            m.faceAccuracies.push_back(accuracy);
            m.faceStrays.push_back(boundary_stray(static_cast<const FACE*>(faces[i])));
        }
    }
    double volume = 0.0, accuracy = 0.0;
    if (solid && fitted && !doubtful && is_closed_solid_body(body) && api_body_volume(body, 1e-3, volume, accuracy).ok() &&
        std::isfinite(volume))
        m.volume = volume;
    return m;
}

// Per model body of `walked`, the measures of the kernel body it was walked
// from (`bodies`, in the walk's order); none when the two do not pair up.
inline qelx_formats::CadSourceMeasures kernel_measures(const std::vector<const BODY*>& bodies,
                                                       const qelx_test::TestModel& walked)
{
    qelx_formats::CadSourceMeasures out(walked.bodies.size());
    if (bodies.size() != walked.bodies.size())
        return out;
    for (std::size_t b = 0; b < bodies.size(); ++b)
        if (bodies[b])
            out[b] = kernel_body_measures(bodies[b], walked, walked_faces(walked, b), !walked.bodies[b].lumps.empty());
    return out;
}

} // namespace xvelm
