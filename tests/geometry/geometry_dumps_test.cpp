// Debug dumps write files the kernel can read back.
#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "geometry/geometry_dumps.hxx"
#include "geometry/surface_utilities.hxx"
#include "surface_import_fixtures.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;

class GeometryDumps : public GeometryTest {};

TEST_F(GeometryDumps, SplineFaceBodiesAreWrittenAndReadBack)
{
    bs3_surface b = bicubicSurface(wavyNet());
    const spline srf(b);
    const plane flat(QELposition(0, 0, 0), QELunit_vector(0, 0, 1));
    EXPECT_EQ(makeSplineSurfaceBody(flat), nullptr);
    BODY* body = makeSplineSurfaceBody(srf);
    ASSERT_NE(body, nullptr);
    FACE* face = body->lump()->shell()->face();
    ASSERT_NE(face->loop(), nullptr);
    EXPECT_TRUE(isSameSurface(face->geometry()->equation(), srf));

    // One file per process: several test runs may share the temporary folder.
    const std::string path =
        (std::filesystem::temp_directory_path() / ("geometry_dump_" + std::to_string(getpid()) + ".vlt")).string();
    dumpSurfaceAsFace(face->geometry(), path.c_str());
    FILE* fp = std::fopen(path.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    ENTITY_LIST restored;
    EXPECT_TRUE(api_restore_entity_list(fp, 1, restored).ok());
    std::fclose(fp);
    ASSERT_EQ(restored.count(), 1);
    EXPECT_EQ(restored[0]->identity(0), BODY_TYPE);
    std::filesystem::remove(path);
    for (int i = 0; i < restored.count(); ++i)
        api_del_entity(restored[i]);
    api_del_entity(body);
    bs3_surface_delete(b);
}
