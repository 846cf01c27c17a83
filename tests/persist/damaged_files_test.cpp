// Restoring damaged, truncated, unknown and randomly mutated save files with
// the connector's classes registered: a kernel error and nothing left behind,
// never a crash.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "persist/analytic_surface_attribute.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist/tarvo_marker_attributes.hxx"
#include "persist/vda_husk_attributes.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist_test_support.hxx"
#include "velm/bb.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "support/geometry_builders.hxx"
#include "support/save_file_words.hxx"

using namespace persist_test;

namespace {

// A file holding every persistent class beside bodies with real geometry: a
// box of planes, straights and pcurves carrying all attributes, a cylinder
// placed by an assembly part and a B-spline sheet placed by a sub-assembly.
std::string everyClassFile()
{
    BODY* owner = testkit::make_plane_box();
    ENTITY_LIST faces, edges;
    api_get_faces(owner, faces);
    api_get_edges(owner, edges);
    new ATTRIB_DOVA_IGES(owner);
    new ATTRIB_DOVA_IGES_SRFMAP(owner, IGES_SRF_MAP_NONE);
    new ATTRIB_DOVA_IGES_SURF_RANGE(faces[0]);
    new ATTRIB_DOVA_IGES_VELM_SURF_RANGE(faces[1]);
    addAllHusks(edges[0], 77, 2, "LBL", 1, 0, 0, 2, 0.5);
    (new ATTRIB_DOVA_IGES_COLOR(faces[2]))->set_color(2, 1, 0, 0, "red");
    int layers[] = {1, 2, 3};
    (new ATTRIB_DOVA_IGES_LAYER(faces[3]))->set_mult_layer(3, layers);
    new ATTRIB_DOVA_VDA(owner);
    char path[] = "/a/b.vda";
    new ATTRIB_VDA(faces[4], path, 4);
    new ATTRIB_TARVO_GEOMETRIC(owner);
    new AttDV_Tarvo(owner);
    new AttDV_Mark(faces[5], Gk_Marker("m"));
    new ATTRIB_ANALYT_SURF(faces[5], nullptr);
    auto* sub = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    sub->appendPart(new VE_PART(testkit::make_spline_sheet(), QELtransf()));
    auto* root = new VE_ASSEMBLY(nullptr, nullptr, translate_transf(QELvector(1, 1, 1)));
    root->appendPart(new VE_PART(testkit::make_cylinder(), QELtransf()));
    root->appendFormation(new VE_FORMATION(sub, QELtransf()));
    ENTITY_LIST list;
    list.add(owner);
    list.add(root);
    std::string text = saveText(list);
    api_del_entity(owner);
    Ve_AssemDeleteMgr manager(root);
    manager.loseAssem();
    return text;
}

// Restores inside a frame that is then rolled back, so that whatever a
// mutated file manages to build is destroyed again. A refused restore must
// have left nothing alive even before the roll-back; an accepted one, however
// odd its tree, must be deletable the way the document deletes it.
outcome restoreAndDiscard(const std::string& text)
{
    const long before = velm_live_entity_count();
    api_bb_begin(true);
    ENTITY_LIST restored;
    outcome r = restoreText(text, restored);
    if (!r.ok()) {
        EXPECT_EQ(velm_live_entity_count(), before) << "left alive by a refused restore";
        EXPECT_EQ(restored.iteration_count(), 0);
    }
    for (int i = 0; i < restored.count(); ++i)
        if (restored[i] && restored[i]->identity(1) == VE_ASSEMBLY_TYPE) {
            Ve_AssemDeleteMgr manager(static_cast<VE_ASSEMBLY*>(restored[i]));
            manager.loseAssem();
        }
    api_bb_end(outcome(VELM_SAVE_FILE_DAMAGED), true, false);
    return r;
}

}  // namespace

class DamagedFiles : public PersistTest {};

TEST_F(DamagedFiles, EveryClassFileRestores)
{
    const std::string text = everyClassFile();
    for (const char* id :
         {"attrib_dova_iges 2", "attrib_dova_iges_srfmap 3", "attrib_dova_iges_surf_range 3",
          "attrib_dova_iges_velm_surf_range 3", "attrib_dova_iges_linefont 3", "attrib_dova_iges_de_entry 3",
          "attrib_dova_iges_LINEWEIGHT 3", "attrib_dova_iges_color 3", "attrib_dova_iges_label 3",
          "attrib_dova_iges_layer 3", "attrib_dova_vda 2", "attrib_vda 3", "Attrib_Tarvo_Geometric 2",
          "AttDV_Tarvo 3", "AttDV_Mark 4", "Attrib_Analytic_Srf 2", "ve_assembly 1", "ve_part 1",
          "ve_formation 1", "plane 2", "straight 2", "pcurve 1", "cone 2", "ellipse 2", "spline 2",
          "intcurve 2"})
        EXPECT_NE(text.find(id), std::string::npos) << id;
    EXPECT_TRUE(restoreAndDiscard(text).ok());
    // scripts/fuzz.py takes this file as a seed.
    if (const char* seeds = std::getenv("XVELM_FUZZ_SEEDS"))
        std::ofstream(std::string(seeds) + "/test-every-class.vlt", std::ios::binary) << text;
}

TEST_F(DamagedFiles, TruncatedFileFailsAndLeavesNothing)
{
    const std::string text = everyClassFile();
    const long entities = velm_live_entity_count();
    // About five hundred cuts, wherever they fall.
    for (std::size_t cut = 0; cut + 1 < text.size(); cut += 1 + text.size() / 500) {
        ENTITY_LIST restored;
        outcome r = restoreText(text.substr(0, cut), restored);
        ASSERT_FALSE(r.ok()) << "cut at " << cut;
        EXPECT_EQ(restored.iteration_count(), 0);
    }
    EXPECT_EQ(velm_live_entity_count(), entities);
}

TEST_F(DamagedFiles, UnknownClassOrPartOfTheWrongKindIsRefused)
{
    const std::string text = everyClassFile();
    const std::size_t at = text.find("ve_part 1");
    ASSERT_NE(at, std::string::npos);
    std::string unknown = text;
    unknown.replace(at, 9, "ve_gadg 1");
    ENTITY_LIST restored;
    outcome r = restoreText(unknown, restored);
    EXPECT_EQ(r.error_number(), qelvelm_api_errmod.base() + VELM_SAVE_UNKNOWN_CLASS);
    EXPECT_EQ(restored.iteration_count(), 0);

    // Point the part's body (its record: attrib, id, body, transform) at the part itself.
    std::string selfish = text;
    const int index = std::stoi(text.substr(text.rfind("\n-", at) + 2));
    const std::size_t body = text.find('$', text.find('$', at) + 1);
    selfish.replace(body, text.find(' ', body) - body, "$" + std::to_string(index));
    EXPECT_FALSE(restoreText(selfish, restored).ok());
}

// A copy of the root assembly's record (two assemblies would share its part
// list) and a file without a loop's record are refused, naming the record
// and its class.
TEST_F(DamagedFiles, CopiedAssemblyAndDroppedLoopRecordsAreRefusedByName)
{
    const std::string text = everyClassFile();
    struct Case {
        const char* name;
        void (*damage)(testkit::SaveFileWords&);
        const char* reported;
    };
    const Case cases[] = {
        {"assembly record copied",
         [](testkit::SaveFileWords& f) { f.duplicate_record(f.find("ve_assembly")); },
         "(ve_assembly), field 1: no record before it links to it"},
        {"loop record dropped", [](testkit::SaveFileWords& f) { f.erase_record(f.find("loop")); },
         "(coedge), field 1: no record before it links to it"},
    };
    for (const Case& c : cases) {
        testkit::SaveFileWords f = testkit::SaveFileWords::parse(text);
        c.damage(f);
        EXPECT_EQ(restoreAndDiscard(f.text()).error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED))
            << c.name;
        EXPECT_NE(std::string(velm_last_restore_damage()).find(c.reported), std::string::npos)
            << c.name << ": " << velm_last_restore_damage();
    }
}

TEST_F(DamagedFiles, RandomMutationsNeverCrash)
{
    const std::string text = everyClassFile();
    const long entities = velm_live_entity_count();
    std::mt19937 random(20240611u);
    const char alphabet[] = "0123456789-$@# .e";
    // Pointers redirected to any record and class names swapped for others
    // reach the typed fields that byte noise seldom hits.
    const char* const names[] = {"ve_part", "ve_assembly", "ve_formation", "attrib_dova_iges_layer", "attrib_vda",
                                 "AttDV_Mark", "Attrib_Analytic_Srf", "eelist", "transform", "body", "face",
                                 "spline", "pcurve", "plane"};
    std::istringstream header(text);
    std::string magic;
    int version = 0, records = 0;
    header >> magic >> version >> records;
    ASSERT_GT(records, 100);
    int restored_ok = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string mutated = text;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < edits; ++k) {
            std::size_t pos = random() % mutated.size();
            switch (random() % 6) {
            case 0:
                mutated[pos] = alphabet[random() % (sizeof alphabet - 1)];
                break;
            case 1:
                mutated.erase(pos, 1 + random() % 8);
                break;
            case 2:
                mutated.insert(pos, 1, alphabet[random() % (sizeof alphabet - 1)]);
                break;
            case 3:
                if ((pos = mutated.find('$', pos)) != std::string::npos)
                    mutated.replace(pos + 1, mutated.find(' ', pos) - pos - 1,
                                    std::to_string(static_cast<int>(random() % (records + 2)) - 1));
                break;
            case 4:
                if ((pos = mutated.find("\n-", pos)) != std::string::npos) {
                    pos = mutated.find(' ', pos) + 1;
                    mutated.replace(pos, mutated.find(' ', pos) - pos, names[random() % std::size(names)]);
                }
                break;
            default:
                mutated.resize(pos);
                break;
            }
            if (mutated.empty())
                mutated = "x";
        }
        if (restoreAndDiscard(mutated).ok())
            ++restored_ok;
    }
    EXPECT_EQ(velm_live_entity_count(), entities);
    // Some mutations (inside a real number, say) still make a valid file.
    EXPECT_GT(restored_ok, 0);
}
