#pragma once
// The framework walk: reads any B-rep exporter level by level the way a
// target format would (PrepareBody/ReleaseBody around each body,
// ReleaseGeometry after each geometry read, every surface, curve, pcurve
// and point through the geometry exporter, every attribute through the
// attribute exporter) and collects what it was told into a source model.
//
// Stage events ("Stage" kind) let a driver show progress: "Bodies" (count =
// number of bodies), one "Body" stage per body (count = its ordinal,
// weight = its share), then "Free entities" and "Attributes" (last stage).
// Each is fired at its start and again when finished.
#include "qelx/test_model.hxx"

class QELXBRepExporter;

namespace qelx_test {

struct WalkSummary {
    int bodies = 0, faces = 0, loops = 0, coedges = 0, edges = 0, vertices = 0, wires = 0;
    int surfaces = 0, curves = 0, pcurves = 0, points = 0;
    int failedCalls = 0; // answers other than 0 (the walk goes on with the preset value)
};

// 0 when the exporter could be walked (individual failed answers are
// counted, not fatal); 0x1000001 for a null exporter or no body count.
// `out` receives the collected model on success and is untouched otherwise.
QELIResult walkExporter(QELXBRepExporter* exporter, TestModel& out, WalkSummary* summary = nullptr);

} // namespace qelx_test
