#pragma once
// Diagnostics a developer calls by hand: kernel geometry written to files in
// the kernel's text save format or through its debug printers. Nothing on
// the conversion roads calls them; a file that cannot be opened, or a body
// that cannot be made, writes nothing.
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class EDGE;
class ENTITY;
class SURFACE;

// The file information every dump writes: units 1.0, the dumps' product id.
void setDumpFileInfo();
// A wire body of the edge, saved to the path or, without one, to
// "wire<n>.vlt" (n counts the nameless calls from 0). The body stays in the model.
XVELM2KA_API void dumpEdgeAsWire(EDGE* edge, const char* path = nullptr);
XVELM2KA_API void dumpBs2Curve(const char* path, bs2_curve c);
XVELM2KA_API void dumpBs3Curve(const char* path, bs3_curve c);
XVELM2KA_API void dumpBs3Surface(const char* path, bs3_surface s);
XVELM2KA_API void dumpEntity(ENTITY* entity, const char* path);
// A one-face body on the surface (bounded by its iso-lines when it is a
// spline), saved to the path.
XVELM2KA_API void dumpSurfaceAsFace(SURFACE* srf, const char* path);
// A new one-face body on a copy of a spline surface; null for any other kind.
XVELM2KA_API BODY* makeSplineSurfaceBody(const surface& srf);
