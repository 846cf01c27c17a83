#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "persist/analytic_surface_attribute.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist/tarvo_marker_attributes.hxx"
#include "persist/vda_husk_attributes.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_assembly.hxx"
#include "persist_test_support.hxx"
#include "velm/attrib.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

using namespace persist_test;

namespace {

bool sameVector(const QELvector& v, double x, double y, double z)
{
    return v.x() == x && v.y() == y && v.z() == z;
}

const std::vector<std::string> kLoadOrder = {
    "attrib_dova_iges",        "attrib_dova_iges_layer",           "attrib_dova_iges_label",
    "attrib_dova_iges_color",  "attrib_dova_iges_LINEWEIGHT",      "attrib_dova_iges_de_entry",
    "attrib_dova_iges_linefont", "attrib_dova_iges_velm_surf_range", "attrib_dova_iges_surf_range",
    "attrib_dova_iges_srfmap", "attrib_dova_vda",                  "attrib_vda",
    "ve_assembly",             "Attrib_Tarvo_Geometric",           "AttDV_Mark",
    "Attrib_Analytic_Srf",     "AttDV_Tarvo",                      "ve_formation"};

// Bytes of the C++ heap in use: the sanitizer's count under it, the C
// library's otherwise.
std::size_t heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// The entity's husk of the class with the given number.
template <class T>
T* husk(const ENTITY* e, const int& type)
{
    return static_cast<T*>(find_attrib(e, ATTRIB_DOVA_IGES_TYPE, type));
}

class PersistentClasses : public PersistTest {
protected:
    void SetUp() override
    {
        PersistTest::SetUp();
        owner = new BODY();
    }
    void TearDown() override
    {
        owner->lose();
        for (ENTITY* e : restored)
            e->lose();
        PersistTest::TearDown();
    }
    // The attribute restored onto the restored owner, of the original's class.
    template <class T>
    T* back(std::string* text = nullptr, const std::string& from = {}, const std::string& to = {})
    {
        ENTITY* again = roundTrip(owner, text, from, to);
        EXPECT_NE(again, nullptr);
        if (!again)
            return nullptr;
        restored.push_back(again);
        ATTRIB* a = again->attrib();
        EXPECT_EQ(a ? a->identity(0) : -1, owner->attrib()->identity(0));
        return static_cast<T*>(a);
    }
    // Round trip and check of the restored copy; then the original goes,
    // ready for the next one.
    template <class T, class Check>
    void swapped(Check check, std::string* text = nullptr, const std::string& from = {}, const std::string& to = {})
    {
        T* a = back<T>(text, from, to);
        owner->attrib()->lose();
        ASSERT_NE(a, nullptr);
        check(*a);
    }
    BODY* owner = nullptr;
    std::vector<ENTITY*> restored;
};

}  // namespace

TEST(PersistentRegistration, LoadOrderAndReverseAtUnload)
{
    ensureRegistered();
    clearPersistentRegistrationTrace();
    unregisterPartClass();
    unregisterPersistentClasses();
    EXPECT_EQ(restore_def::find("ve_assembly"), nullptr);
    EXPECT_EQ(VE_ASSEMBLY_TYPE, 0);
    registerPersistentClasses();
    registerPartClass();

    std::vector<std::string> expected = {"-ve_part"};
    for (auto it = kLoadOrder.rbegin(); it != kLoadOrder.rend(); ++it)
        expected.push_back("-" + *it);
    for (const auto& id : kLoadOrder)
        expected.push_back("+" + id);
    expected.push_back("+ve_part");
    EXPECT_EQ(persistentRegistrationTrace(), expected);

    // Numbers are handed out in registration order, all distinct.
    std::vector<int> numbers;
    for (const auto& id : kLoadOrder)
        numbers.push_back(restore_def::find(id.c_str())->type_number());
    numbers.push_back(restore_def::find("ve_part")->type_number());
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
    EXPECT_EQ(VE_ASSEMBLY_TYPE, restore_def::find("ve_assembly")->type_number());

    // Registering twice changes nothing.
    clearPersistentRegistrationTrace();
    registerPersistentClasses();
    EXPECT_TRUE(persistentRegistrationTrace().empty());
}

TEST(PersistentRegistration, ChildRegisteredBeforeParentIsInItsList)
{
    ensureRegistered();
    const restore_def* tarvo = restore_def::find("AttDV_Tarvo");
    ASSERT_NE(tarvo, nullptr);
    restore_def* child = *tarvo->subclass_head();
    ASSERT_NE(child, nullptr);
    EXPECT_STREQ(child->identifier(), "AttDV_Mark");
    int iges_children = 0;
    for (restore_def* d = ATTRIB_DOVA_IGES_subclasses; d; d = d->next_sibling())
        ++iges_children;
    EXPECT_EQ(iges_children, 9);
}

TEST_F(PersistentClasses, IdentityLevelsAndTypeTests)
{
    auto* mark = new AttDV_Mark(owner);
    EXPECT_EQ(mark->identity(0), AttDV_Mark_TYPE);
    EXPECT_EQ(mark->identity(-1), AttDV_Tarvo_TYPE);
    EXPECT_EQ(mark->identity(-2), ATTRIB_TARVO_GEOMETRIC_TYPE);
    EXPECT_EQ(mark->identity(1), ATTRIB_TYPE);
    EXPECT_EQ(mark->identity(5), -1);
    auto* layer = new ATTRIB_DOVA_IGES_LAYER(owner);
    EXPECT_EQ(layer->identity(2), ATTRIB_DOVA_IGES_TYPE);
    EXPECT_TRUE(is_ATTRIB_DOVA_IGES(layer) && is_ATTRIB_DOVA_IGES_LAYER(layer) && is_ATTRIB_TARVO_GEOMETRIC(mark));
    EXPECT_FALSE(is_ATTRIB_DOVA_IGES_LABEL(layer) || is_ATTRIB_DOVA_IGES(nullptr) || is_ATTRIB_ANALYT_SURF(mark));
}

namespace {
struct TextArgs : METHOD_ARGS {
    const char* id() const override { return "text_args"; }
};
int answer42(void*, const METHOD_ARGS&) { return 42; }
}  // namespace

TEST_F(PersistentClasses, MethodCallsNeedMatchingArgumentType)
{
    ATTRIB_DOVA_IGES_LABEL::add_method(METHOD_ID("answer", "text_args"), &answer42);
    auto* label = new ATTRIB_DOVA_IGES_LABEL(owner);
    auto* color = new ATTRIB_DOVA_IGES_COLOR(owner);
    EXPECT_EQ(label->call_method(METHOD_ID("answer", "text_args"), TextArgs()), 42);
    EXPECT_EQ(label->call_method(METHOD_ID("answer", "other_args"), TextArgs()), 0);
    EXPECT_EQ(color->call_method(METHOD_ID("answer", "text_args"), TextArgs()), 0);
}

TEST_F(PersistentClasses, IgesHusksRoundTripFieldByField)
{
    std::string text;
    (new ATTRIB_DOVA_IGES_COLOR(owner))->set_color(0, 0.25, 0.5, 0.75, "steel blue");
    swapped<ATTRIB_DOVA_IGES_COLOR>([](auto& c) {
        EXPECT_EQ(c.get_color_number(), 0);
        EXPECT_DOUBLE_EQ(c.red(), 0.25);
        EXPECT_DOUBLE_EQ(c.green(), 0.5);
        EXPECT_DOUBLE_EQ(c.blue(), 0.75);
        EXPECT_STREQ(c.get_color_name(), "steel blue");
    }, &text);
    EXPECT_NE(text.find("attrib_dova_iges_color 3 attrib_dova_iges 2"), std::string::npos) << text;

    // A colour number with a table entry replaces the components; others keep them.
    (new ATTRIB_DOVA_IGES_COLOR(owner))->set_color(3, 0.2, 0.2, 0.2, "");
    swapped<ATTRIB_DOVA_IGES_COLOR>([](auto& c) { EXPECT_TRUE(c.red() == 0.0 && c.green() == 1.0 && c.blue() == 0.0); });
    (new ATTRIB_DOVA_IGES_COLOR(owner))->set_color(8, 0.2, 0.2, 0.2, "");
    swapped<ATTRIB_DOVA_IGES_COLOR>([](auto& c) { EXPECT_TRUE(c.red() == 1.0 && c.green() == 1.0 && c.blue() == 1.0); });
    (new ATTRIB_DOVA_IGES_COLOR(owner))->set_color(9, 0.2, 0.3, 0.4, "");
    swapped<ATTRIB_DOVA_IGES_COLOR>([](auto& c) { EXPECT_DOUBLE_EQ(c.green(), 0.3); });

    (new ATTRIB_DOVA_IGES_LINEWEIGHT(owner))->set_line_weight(2.75);
    swapped<ATTRIB_DOVA_IGES_LINEWEIGHT>([](auto& w) { EXPECT_DOUBLE_EQ(w.get_line_weight(), 2.75); }, &text);
    EXPECT_NE(text.find("attrib_dova_iges_LINEWEIGHT"), std::string::npos);
    (new ATTRIB_DOVA_IGES_LABEL(owner))->set_label(7, "BRACKET");
    swapped<ATTRIB_DOVA_IGES_LABEL>([](auto& l) {
        EXPECT_EQ(l.get_label_number(), 7);
        EXPECT_STREQ(l.get_label(), "BRACKET");
    });
    (new ATTRIB_DOVA_IGES_LINEFONT(owner))->set_line_font(4);
    swapped<ATTRIB_DOVA_IGES_LINEFONT>([](auto& f) { EXPECT_EQ(f.get_line_font(), 4); });
    new ATTRIB_DOVA_IGES_DE_ENTRY(owner, 123);
    swapped<ATTRIB_DOVA_IGES_DE_ENTRY>([](auto& d) { EXPECT_EQ(d.get_de_entry(), 123); });

    // Mapping and ranges are not saved.
    new ATTRIB_DOVA_IGES_SRFMAP(owner, static_cast<IGES_SRF_MAPPING>(3));
    swapped<ATTRIB_DOVA_IGES_SRFMAP>([](auto& m) { EXPECT_EQ(m.get_srf_mapping(), 0); });
    (new ATTRIB_DOVA_IGES_SURF_RANGE(owner))->set_ranges(QELinterval(0.0, 2.0), QELinterval(1.0, 3.0));
    swapped<ATTRIB_DOVA_IGES_SURF_RANGE>([](auto& r) { EXPECT_EQ(r.u_range(), QELinterval()); });
    new ATTRIB_DOVA_IGES(owner);
    EXPECT_NE(back<ATTRIB_DOVA_IGES>(), nullptr);
}

TEST_F(PersistentClasses, IgesHuskOwnerChangesAndKernelCopies)
{
    (new ATTRIB_DOVA_IGES_SURF_RANGE(owner))->set_ranges(QELinterval(0.0, 2.0), QELinterval(1.0, 3.0));
    new ATTRIB_DOVA_IGES_DE_ENTRY(owner, 5);
    int layers[] = {4, 5, 6};
    (new ATTRIB_DOVA_IGES_LAYER(owner))->set_mult_layer(3, layers);
    (new ATTRIB_DOVA_IGES_LINEFONT(owner))->set_line_font(3);
    auto range = [](const ENTITY* e) { return husk<ATTRIB_DOVA_IGES_SURF_RANGE>(e, ATTRIB_DOVA_IGES_SURF_RANGE_TYPE); };
    auto layer = [](const ENTITY* e) { return husk<ATTRIB_DOVA_IGES_LAYER>(e, ATTRIB_DOVA_IGES_LAYER_TYPE); };
    auto entry = [](const ENTITY* e) { return husk<ATTRIB_DOVA_IGES_DE_ENTRY>(e, ATTRIB_DOVA_IGES_DE_ENTRY_TYPE); };

    // A split piece and a merge survivor get the number and the ranges, not the layer or font.
    BODY* piece = new BODY();
    BODY* survivor = new BODY();
    restored.insert(restored.end(), {piece, survivor});
    split_attrib(owner, piece);
    merge_attrib(survivor, piece);
    for (BODY* b : {piece, survivor}) {
        ASSERT_TRUE(range(b) && entry(b));
        EXPECT_EQ(range(b)->v_range(), QELinterval(1.0, 3.0));
        EXPECT_EQ(entry(b)->get_de_entry(), 5);
        EXPECT_EQ(layer(b), nullptr);
        EXPECT_EQ(husk<ATTRIB>(b, ATTRIB_DOVA_IGES_LINEFONT_TYPE), nullptr);
    }

    // A kernel copy of the owner copies every husk, but the ranges stay at their defaults.
    ENTITY* copy = nullptr;
    ASSERT_TRUE(api_copy_entity(owner, copy).ok());
    restored.push_back(copy);
    ASSERT_TRUE(range(copy) && layer(copy) && entry(copy));
    EXPECT_EQ(range(copy)->u_range(), QELinterval());
    EXPECT_TRUE(*layer(copy) == *layer(owner));
    EXPECT_EQ(entry(copy)->get_de_entry(), 5);
}

TEST_F(PersistentClasses, IgesLayerKeepsAtMostTenLayers)
{
    auto* layer = new ATTRIB_DOVA_IGES_LAYER(owner);
    int many[15];
    for (int i = 0; i < 15; ++i)
        many[i] = 100 + i;
    layer->set_mult_layer(15, many);
    EXPECT_EQ(layer->get_layer_size(), 10);
    auto* l = back<ATTRIB_DOVA_IGES_LAYER>();
    ASSERT_NE(l, nullptr);
    EXPECT_TRUE(*l == *layer);
    int out[10] = {};
    int* p = out;
    EXPECT_EQ(l->get_mult_layer(p), 1);
    EXPECT_EQ(out[9], 109);

    layer->set_single_layer(4);
    EXPECT_EQ(layer->get_mult_layer(p), 0);
    l = back<ATTRIB_DOVA_IGES_LAYER>();
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->get_layer_type(), 0);
    EXPECT_EQ(l->get_layer_size(), 4);
}

TEST_F(PersistentClasses, DamagedLayerTypeAndOverlongTextsAreBounded)
{
    // A count beyond the layers the record holds is damage: the reader must
    // not take the record's end for a layer.
    int three[] = {4, 5, 6};
    (new ATTRIB_DOVA_IGES_LAYER(owner))->set_mult_layer(3, three);
    {
        ENTITY_LIST list;
        list.add(owner);
        std::string text = saveText(list);
        const std::size_t at = text.find(" 3 1 4 5 6 #");
        ASSERT_NE(at, std::string::npos) << text;
        text.replace(at, 4, " 5 1");
        const long live = velm_live_entity_count();
        ENTITY_LIST again;
        EXPECT_FALSE(restoreText(text, again).ok());
        EXPECT_EQ(velm_live_entity_count(), live);
        owner->attrib()->lose();
    }

    // The layer record ends "<field> <type> #": a type 7 reads as single.
    (new ATTRIB_DOVA_IGES_LAYER(owner))->set_single_layer(5);
    swapped<ATTRIB_DOVA_IGES_LAYER>([](auto& l) {
        EXPECT_EQ(l.get_layer_type(), 0);
        EXPECT_EQ(l.get_layer_size(), 5);
    }, nullptr, " 5 0 #", " 5 7 #");
    (new ATTRIB_DOVA_IGES_LABEL(owner))->set_label(1, "SHORT");
    swapped<ATTRIB_DOVA_IGES_LABEL>([](auto& l) { EXPECT_EQ(std::string(l.get_label()), std::string(15, 'L')); },
                                    nullptr, "@5 SHORT", "@100 " + std::string(100, 'L'));

    auto* color = new ATTRIB_DOVA_IGES_COLOR(owner);
    color->set_color(0, 0, 0, 0, std::string(50, 'C').c_str());
    EXPECT_EQ(std::strlen(color->get_color_name()), 31u);
}

TEST_F(PersistentClasses, VdaHusksRoundTripWithAndWithoutPath)
{
    new ATTRIB_DOVA_VDA(owner);
    swapped<ATTRIB_DOVA_VDA>([](auto&) {});
    // A path filling its field or far longer comes back whole; a missing one comes back missing.
    const std::string shortPath(31, 'p'), longPath = "/data/" + std::string(200, 'x') + ".vda";
    for (const char* path : {shortPath.c_str(), longPath.c_str(), static_cast<const char*>(nullptr)}) {
        new ATTRIB_VDA(owner, const_cast<char*>(path), 17);
        swapped<ATTRIB_VDA>([path](auto& v) {
            EXPECT_EQ(v.number(), 17);
            EXPECT_STREQ(v.pathname(), path);  // both null, or equal texts
        });
    }
}

TEST_F(PersistentClasses, VdaCopiesOwnTheirPath)
{
    char path[] = "/parts/door.vda";
    auto* original = new ATTRIB_VDA(owner, path, 5);
    EXPECT_NE(original->pathname(), path);
    ATTRIB_VDA copy(*original);
    ATTRIB_VDA assigned;
    assigned = *original;
    original->lose();
    EXPECT_STREQ(copy.pathname(), "/parts/door.vda");
    EXPECT_STREQ(assigned.pathname(), "/parts/door.vda");
    EXPECT_NE(copy.pathname(), assigned.pathname());

    FILE* fp = std::tmpfile();
    ATTRIB_VDA none(nullptr, nullptr, 3);
    none.debug_ent(fp);
    std::rewind(fp);
    std::string dump(512, '\0');
    dump.resize(std::fread(dump.data(), 1, dump.size(), fp));
    std::fclose(fp);
    EXPECT_NE(dump.find("\tPath            : (null) \n"), std::string::npos);
}

// Assigning one path over another frees the one it replaces: the heap in
// use does not grow with repeated assignments of a long path.
TEST_F(PersistentClasses, VdaAssignmentsFreeThePathTheyReplace)
{
    const std::string longPath = "/data/" + std::string(4000, 'x') + ".vda";
    char other[] = "/other.vda";
    ATTRIB_VDA a(nullptr, const_cast<char*>(longPath.c_str()), 1);
    ATTRIB_VDA b(nullptr, other, 2);
    const std::size_t before = heapInUse();
    for (int i = 0; i < 200; ++i) {
        b = a;
        a = b;
    }
    EXPECT_LT(heapInUse(), before + 100000); // 1.6 MB when the old paths stay
    EXPECT_STREQ(b.pathname(), longPath.c_str());
}

TEST_F(PersistentClasses, MarkersRestoreEmpty)
{
    AttDV_Mark::setPtr(owner, Gk_Marker("seen"), this);
    std::string text;
    auto* m = back<AttDV_Mark>(&text);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->getMarker().isEmpty());
    EXPECT_EQ(AttDV_Mark::getPtr(m->entity(), Gk_Marker()), nullptr);
    EXPECT_EQ(m->identity(-1), AttDV_Tarvo_TYPE);
    EXPECT_NE(text.find("AttDV_Mark 4 AttDV_Tarvo 3 Attrib_Tarvo_Geometric 2"), std::string::npos) << text;
    owner->attrib()->lose();
    new AttDV_Tarvo(owner);
    swapped<AttDV_Tarvo>([](auto&) {});
    new ATTRIB_TARVO_GEOMETRIC(owner);
    swapped<ATTRIB_TARVO_GEOMETRIC>([](auto&) {});

    auto* surface = new SURFACE();
    surface->add();  // our own use, so that the surface outlives the attribute
    new ATTRIB_ANALYT_SURF(owner, surface);
    EXPECT_EQ(surface->use_count(), 2);
    auto* s = back<ATTRIB_ANALYT_SURF>(&text);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->surface(), nullptr);
    EXPECT_NE(text.find("Attrib_Analytic_Srf 2"), std::string::npos);
    owner->attrib()->lose();
    EXPECT_EQ(surface->use_count(), 1);
    surface->remove();
}

TEST_F(PersistentClasses, AssemblyEntitiesRoundTrip)
{
    auto* part = new VE_PART(new BODY(), translate_transf(QELvector(1, 2, 3)));
    auto* root = new VE_ASSEMBLY(nullptr, nullptr, translate_transf(QELvector(0, 0, 5)));
    root->appendPart(part);
    root->appendFormation(new VE_FORMATION(new VE_ASSEMBLY(nullptr, nullptr, QELtransf()), scale_transf(2.0)));
    api_add_generic_named_attribute(part, "ATTRIB_XVELM_NAME", "wheel");

    std::string text;
    ENTITY* back = roundTrip(root, &text);
    ASSERT_NE(back, nullptr);
    for (const char* id : {"ve_assembly 1", "ve_part 1", "ve_formation 1", "transform 1", "eelist 1"})
        EXPECT_NE(text.find(id), std::string::npos) << id;
    ASSERT_EQ(back->identity(0), VE_ASSEMBLY_TYPE);
    auto* r = static_cast<VE_ASSEMBLY*>(back);
    EXPECT_TRUE(sameVector(r->getTransformation().translation(), 0, 0, 5));
    ASSERT_NE(r->getPartList(), nullptr);
    ASSERT_EQ(r->getPartList()->count(), 1);
    auto* p = static_cast<VE_PART*>((*r->getPartList())[0]);
    ASSERT_EQ(p->identity(1), restore_def::find("ve_part")->type_number());
    EXPECT_TRUE(is_BODY(p->getSolid()));
    EXPECT_TRUE(sameVector(p->getTransformation().translation(), 1, 2, 3));
    ATTRIB_GEN_NAME* name = nullptr;
    EXPECT_TRUE(api_find_named_attribute(p, "ATTRIB_XVELM_NAME", name).ok() && name) << "attribute of a part";
    auto* f = static_cast<VE_FORMATION*>((*r->getFormationList())[0]);
    ASSERT_EQ(f->identity(1), restore_def::find("ve_formation")->type_number());
    EXPECT_DOUBLE_EQ(f->getTransformation().scaling(), 2.0);
    ASSERT_EQ(f->getAssembly()->identity(1), VE_ASSEMBLY_TYPE);
    EXPECT_EQ(f->getAssembly()->getPartList(), nullptr);
    EXPECT_EQ(f->getAssembly()->getFormationList(), nullptr);

    // A kernel copy of the tree keeps the part's attribute too.
    ENTITY* copy = nullptr;
    ASSERT_TRUE(api_copy_entity(root, copy).ok());
    auto* c = static_cast<VE_ASSEMBLY*>(copy);
    ASSERT_NE(c->getPartList(), nullptr);
    name = nullptr;
    EXPECT_TRUE(api_find_named_attribute((*c->getPartList())[0], "ATTRIB_XVELM_NAME", name).ok() && name);

    // Assembly trees go only through the deletion manager.
    for (VE_ASSEMBLY* tree : {r, root, c}) {
        Ve_AssemDeleteMgr manager(tree);
        EXPECT_TRUE(manager.loseAssem());
    }
}
