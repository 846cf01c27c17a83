// The one-face path of the IGES recipe: a sheet of one face whose loop runs
// down a slit and back up it to a second vertex at the same point has those
// twin vertices made one, as the duplicate-vertex merge by vertex geometry
// does, and stays sound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/topology_api.hxx"

namespace {

class RecipeOneFace : public testkit::ConnectorTest {};

// A square sheet whose loop runs down a slit from its top side to (5, 5) and
// back up on a second edge to a second vertex at (5, 10).
BODY* slitSheet()
{
    return testkit::make_polyhedron({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, 10, 0}, {5, 5, 0}, {5, 10, 0}, {0, 10, 0}},
                                    {{0, 1, 2, 3, 4, 5, 6}});
}

int verticesAt(BODY* b, const QELposition& p)
{
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    int n = 0;
    for (int i = 0; i < vertices.count(); ++i)
        n += distance(static_cast<VERTEX*>(vertices[i])->geometry()->coords(), p) < 1e-6 ? 1 : 0;
    return n;
}

} // namespace

TEST_F(RecipeOneFace, IgesMergesTheTwinVerticesOfAOneFaceSheet)
{
    on("HealBody");
    on("HealBodyPostProcessIges");
    BODY* sheet = slitSheet();
    ASSERT_EQ(verticesAt(sheet, QELposition(5, 10, 0)), 2);
    Ve_CocoonTagHandle set(new Ve_CocoonTag);
    set->appendBody(reinterpret_cast<Ve_BodyTag*>(sheet));
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    ASSERT_EQ(bodies.Count(), 1);
    BODY* healed = reinterpret_cast<BODY*>(bodies[0]);
    EXPECT_EQ(verticesAt(healed, QELposition(5, 10, 0)), 1);
    EXPECT_EQ(testkit::model_problems(healed), "");
    api_del_entity(healed);
}
