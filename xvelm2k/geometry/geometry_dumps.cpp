#include "geometry/geometry_dumps.hxx"

#include <cstdio>
#include <string>

#include "model/kernel_call_bracket.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"
#include "velm/surface_build.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr const char* kProductId = "xvelm2k geometry dump";

// Process-wide and unprotected: the dumps are a debugging aid.
int g_wireDumps = 0;

class OutFile {
public:
    explicit OutFile(const char* path) : m_fp(path ? std::fopen(path, "w") : nullptr) {}
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile()
    {
        if (m_fp)
            std::fclose(m_fp);
    }
    FILE* get() const { return m_fp; }

private:
    FILE* m_fp;
};

} // namespace

void setDumpFileInfo()
{
    FileInfo info;
    info.set_units(1.0);
    info.set_product_id(kProductId);
    api_set_file_info(FileInfo_product_id | FileInfo_units, info);
}

namespace {

// A one-face body: on a spline the face is bounded by the iso-lines of the
// surface's parameter box, on anything else it has no loop.
BODY* oneFaceBody(SURFACE* srf)
{
    FACE* face = nullptr;
    if (srf->equation().type() == 10) {
        face = make_face_spline(static_cast<const spline&>(srf->equation()));
        face->set_geometry(srf);
    } else {
        face = VELM_NEW FACE(nullptr, nullptr, srf, FORWARD);
    }
    return VELM_NEW BODY(VELM_NEW LUMP(VELM_NEW SHELL(face)));
}

template <class Print>
void printTo(const char* path, Print print)
{
    OutFile file(path);
    if (file.get())
        print(file.get());
}

} // namespace

void dumpEdgeAsWire(EDGE* edge, const char* path)
{
    if (!edge)
        return;
    BODY* body = nullptr;
    if (!velmCall([&] { return api_make_ewire(1, &edge, body); }).ok() || !body)
        return;
    setDumpFileInfo();
    std::string name;
    if (!path) {
        name = "wire" + std::to_string(g_wireDumps++) + ".vlt";
        path = name.c_str();
    }
    OutFile file(path);
    if (!file.get())
        return;
    ENTITY_LIST list;
    list.add(body);
    api_save_entity_list(file.get(), 1, list);
}

void dumpBs2Curve(const char* path, bs2_curve c)
{
    printTo(path, [&](FILE* fp) { bs2_curve_debug(c, "", fp); });
}

void dumpBs3Curve(const char* path, bs3_curve c)
{
    printTo(path, [&](FILE* fp) { bs3_curve_debug(c, "", fp); });
}

void dumpBs3Surface(const char* path, bs3_surface s)
{
    printTo(path, [&](FILE* fp) { bs3_surface_debug(s, "", fp); });
}

void dumpEntity(ENTITY* entity, const char* path)
{
    printTo(path, [&](FILE* fp) { save_entity_on_file(fp, entity, 1); });
}

void dumpSurfaceAsFace(SURFACE* srf, const char* path)
{
    if (!srf)
        return;
    OutFile file(path);
    if (!file.get())
        return;
    BODY* body = nullptr;
    if (!velmInnerCall([&] { body = oneFaceBody(srf); }).ok() || !body)
        return;
    save_entity_on_file(file.get(), body, 1);
    // The body was made for the file alone; the surface keeps its other uses.
    api_del_entity(body);
}

BODY* makeSplineSurfaceBody(const surface& srf)
{
    if (srf.type() != 10)
        return nullptr;
    BODY* body = nullptr;
    velmInnerCall([&] { body = oneFaceBody(make_surface(srf)); });
    return body;
}
