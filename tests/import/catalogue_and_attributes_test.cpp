// Catalogue lookups, the alias attribute importer and the layer helpers.
#include "import_test_support.hxx"

#include "import/alias_attribute_importer.hxx"
#include "import/layer_importer.hxx"
#include "qelx/qelx_document_feature.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"

#include <malloc.h>

#include <array>
#include <limits>
#include <utility>

using namespace importtest;
using qelx_test::TestModel;

namespace {

// A catalogue whose pairs count their Connect calls and make no kernel entity.
int g_connects = 0;
class CountingCatalogue : public QELXCatalogue {
public:
    class CountingPair : public Pair {
    public:
        using Pair::Pair;
        void Connect() override { ++g_connects; }
    };
    PairHandle NewPair(const KeyHandle& key) override
    {
        return PairHandle(new CountingPair(key, QELXItemHandle(new VelmValue(nullptr))));
    }
};

KeyHandle keyFor(std::uint64_t word) { return KeyHandle(new QELXIdentifierKey(QELXIdentifier(word, "T", nullptr, "t"))); }

class PlainKey : public Key {
public:
    bool IsEqual(const Key* other) const override { return other == this; }
};

std::vector<std::string> aliasesOf(const ENTITY* e)
{
    std::vector<std::string> out;
    for (ATTRIB* a = e->attrib(); a; a = a->next())
        if (const auto* s = dynamic_cast<const ATTRIB_GEN_STRING*>(a); s && std::string(s->name()) == "ATTRIB_XVELM_ALIAS")
            out.push_back(s->value());
    return out;
}

std::vector<ENTITY*> membersOf(QELGROUP* group)
{
    ENTITY_LIST list;
    api_ct_return_ents(group, list);
    std::vector<ENTITY*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(list[i]);
    return out;
}

} // namespace

class ImportCatalogue : public ImportTest {};

TEST_F(ImportCatalogue, OneEntryPerIdentifierFoundAgainAcrossGrowth)
{
    g_connects = 0;
    CountingCatalogue catalogue;
    const QELXItemHandle first = catalogue.FindOrCreateItem(keyFor(42));
    // An equal identifier built apart is the same entry; Connect ran once.
    EXPECT_EQ(catalogue.FindOrCreateItem(keyFor(42)).get(), first.get());
    EXPECT_EQ(g_connects, 1);
    EXPECT_EQ(catalogue.Count(), 1);
    // Twelve entries fit 17 slots; the 13th doubles the table first.
    for (std::uint64_t w = 100; w < 111; ++w)
        catalogue.FindOrCreateItem(keyFor(w));
    EXPECT_EQ(catalogue.Count(), 12);
    EXPECT_EQ(catalogue.Capacity(), 17);
    catalogue.FindOrCreateItem(keyFor(111));
    EXPECT_EQ(catalogue.Capacity(), 34);
    EXPECT_EQ(g_connects, 13);
    QELXItemHandle found;
    EXPECT_TRUE(catalogue.Find(keyFor(42), found));
    EXPECT_EQ(found.get(), first.get());
    for (std::uint64_t w = 100; w <= 111; ++w)
        EXPECT_TRUE(catalogue.Find(keyFor(w), found)) << w;
    EXPECT_FALSE(catalogue.Find(keyFor(7), found));
    EXPECT_EQ(g_connects, 13);
    PlainKey plain;
    EXPECT_EQ(plain.GetHashCode(), 0xFFFFFFFFu);
    // Two words differing in their high half hash apart.
    EXPECT_NE(QELXIdentifierKey(QELXIdentifier(1, "", nullptr, "")).GetHashCode(),
              QELXIdentifierKey(QELXIdentifier((1ULL << 32) | 1, "", nullptr, "")).GetHashCode());
}

TEST_F(ImportCatalogue, AWalkWithoutCopiesMeetsTheEntriesOfTheCopyInItsOrder)
{
    CountingCatalogue catalogue;
    // Across two regrowths, words that land in slots out of their order.
    for (std::uint64_t w = 0; w < 40; ++w)
        catalogue.FindOrCreateItem(keyFor(1000 + 7 * w));
    ASSERT_EQ(catalogue.Capacity(), 68);
    const QELXDynamicArray<QELXCatalogue::Entry> copied = catalogue.Entries();
    std::vector<std::pair<const Key*, const QELXItem*>> walked;
    catalogue.ForEachEntry([&](const KeyHandle& key, const QELXItemHandle& item) {
        walked.emplace_back(key.get(), item.get());
    });
    ASSERT_EQ(walked.size(), 40u);
    ASSERT_EQ(copied.Count(), 40);
    bool sorted = true;
    for (int i = 0; i < copied.Count(); ++i) {
        EXPECT_EQ(walked[i].first, copied[i].key.get()) << i;
        EXPECT_EQ(walked[i].second, copied[i].item.get()) << i;
        if (i > 0)
            sorted = sorted && catalogueSource(copied[i - 1].key).GetValue() < catalogueSource(copied[i].key).GetValue();
    }
    EXPECT_FALSE(sorted) << "slot order is not the order of the words";
}

TEST_F(ImportCatalogue, KeptKeysShareTheirFormAndGiveTheWholeIdentifierBack)
{
    struct NoCast : QELXIdentifierCast {
        void* Cast(const QELXIdentifier&) const override { return nullptr; }
    };
    const QELXIdentifierCastHandle cast(new NoCast);
    QELXRepresentation* const ownerA = reinterpret_cast<QELXRepresentation*>(std::uintptr_t(0x1000));
    QELXRepresentation* const ownerB = reinterpret_cast<QELXRepresentation*>(std::uintptr_t(0x2000));
    CountingCatalogue catalogue;
    const auto add = [&](std::uint64_t word, const char* type, QELXRepresentation* owner, const char* typeName,
                         const QELXIdentifierCastHandle& by) {
        const KeyHandle key(new QELXIdentifierKey(QELXIdentifier(word, type, owner, typeName, by)));
        catalogue.FindOrCreateItem(key);
        return key;
    };
    const KeyHandle a1 = add(1, "Face", ownerA, "TestFace", cast), a2 = add(2, "Face", ownerA, "TestFace", cast);
    // A form that differs in any part is kept apart; the same word under
    // another type text is another entry.
    const KeyHandle b = add(3, "Face", ownerB, "TestFace", cast), c = add(4, "Face", ownerA, "Other", cast);
    const KeyHandle d = add(5, "Face", ownerA, "TestFace", QELXIdentifierCastHandle());
    const KeyHandle e = add(1, "Edge", ownerA, "TestEdge", cast);
    EXPECT_EQ(catalogue.Count(), 6);
    const auto form = [](const KeyHandle& k) { return static_cast<const QELXIdentifierKey*>(k.get())->GetForm(); };
    EXPECT_EQ(form(a1), form(a2));
    for (const KeyHandle* other : {&b, &c, &d, &e})
        EXPECT_NE(form(a1), form(*other));
    int entries = 0;
    catalogue.ForEachEntry([&](const KeyHandle& key, const QELXItemHandle&) {
        ++entries;
        const QELXIdentifier id = catalogueSource(key);
        const std::uint64_t word = id.GetValue();
        const bool edge = std::string(id.GetType()) == "Edge";
        EXPECT_EQ(id.GetOwner(), word == 3 ? ownerB : ownerA) << word;
        EXPECT_STREQ(id.GetTypeName(), edge ? "TestEdge" : word == 4 ? "Other" : "TestFace") << word;
        EXPECT_EQ(id.GetCast().get(), word == 5 && !edge ? nullptr : cast.get()) << word;
        EXPECT_STREQ(id.GetType(), edge ? "Edge" : "Face") << word;
    });
    EXPECT_EQ(entries, 6);
    // Found again by an identifier built apart.
    QELXItemHandle found;
    EXPECT_TRUE(catalogue.Find(KeyHandle(new QELXIdentifierKey(QELXIdentifier(2, "Face", ownerB, "X"))), found));
    EXPECT_FALSE(catalogue.Find(KeyHandle(new QELXIdentifierKey(QELXIdentifier(2, "Edge", ownerA, "TestEdge"))), found));
    // The catalogue holds one reference to each key and item it keeps, and lets
    // go of them when it forgets its entries.
    EXPECT_EQ(a1->GetReferenceCount(), 2);
    EXPECT_EQ(found->GetReferenceCount(), 2);
    catalogue.Clear();
    EXPECT_EQ(catalogue.Count(), 0);
    EXPECT_EQ(a1->GetReferenceCount(), 1);
    EXPECT_EQ(found->GetReferenceCount(), 1);
}

TEST_F(ImportCatalogue, KeysAndValuesCostLittleAndAForgottenCatalogueLeavesTheHeapAsItWas)
{
#if defined(XVELM_SANITIZE) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizer builds give every key and value a heap block of its own";
#else
    const auto inUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return static_cast<double>(m.uordblks + m.hblkhd);
    };
    // A first catalogue may grow what lives as long as the process.
    {
        CountingCatalogue warm;
        warm.FindOrCreateItem(keyFor(1));
    }
    const double before = inUse();
    constexpr int kEntries = 20000;
    {
        CountingCatalogue catalogue;
        for (std::uint64_t w = 0; w < kEntries; ++w)
            catalogue.FindOrCreateItem(keyFor(w));
        // Lookups make keys that die at once among the kept ones.
        QELXItemHandle found;
        for (std::uint64_t w = 0; w < kEntries; w += 7)
            EXPECT_TRUE(catalogue.Find(keyFor(w), found));
        ASSERT_EQ(catalogue.Count(), kEntries);
        // Its table's slots and a key and a value each: some 93 bytes an
        // entry; a heap block of their own each made it 117.
        EXPECT_LT((inUse() - before) / kEntries, 100.0);
    }
    EXPECT_NEAR(inUse(), before, 16.0 * 1024);
#endif
}

TEST_F(ImportCatalogue, LookupsOfInvalidIdentifiersMakeNothing)
{
    Import import(TestModel::block(1, 1, 1));
    EXPECT_EQ(import.creator().GetVertex(QELXIdentifier()), nullptr);
    EXPECT_EQ(import.creator().GetEdge(QELXIdentifier(), true), nullptr);
    EXPECT_EQ(import.creator().GetCoedge(import.id(qelx_test::KindCoedge, 0), false), nullptr);
    EXPECT_EQ(import.creator().GetNumberOfVertices(), 0);
}

class AliasImporter : public ImportTest {};

TEST_F(AliasImporter, AliasesArriveOnlyWhenSwitchedOnAndFromACorvaneSource)
{
    struct AliasCase {
        const char* what;
        bool option, corvane;
        std::vector<std::string> expected;
    };
    for (const AliasCase& c : {AliasCase{"on", true, true, {"first", "third"}},
                               AliasCase{"option absent", false, true, {}},
                               AliasCase{"not corvane", true, false, {}}}) {
        SCOPED_TRACE(c.what);
        qelx_test::OptionScope options;
        if (c.option)
            options.on(QELXOptionName::XVelm_UseAttributeImporter);
        TestModel model = TestModel::block(1, 1, 1);
        model.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].aliases = {"first", "", "third"};
        Import import(model);
        import.source().attributes().corvane = c.corvane;
        import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
        ASSERT_EQ(import.bodies().size(), 1u);
        EXPECT_EQ(aliasesOf(import.bodies()[0]), c.expected);
        ATTRIB_GEN_NAME* source = nullptr;
        api_find_named_attribute(import.bodies()[0], "entity source", source);
        EXPECT_EQ(source != nullptr, c.option && c.corvane);
    }
}

TEST_F(AliasImporter, AnEntityWithoutSourceAttributeIsLeftAlone)
{
    Import import(TestModel::block(1, 1, 1));
    QELXVelmAliasAttributeImporter aliases(false);
    EXPECT_TRUE(aliases.IsDisabled());
    EXPECT_EQ(aliases.SetAttributeExporter(nullptr), QELI_FAIL);
    aliases.SetAttributeExporter(&import.source().attributes());
    VERTEX* vertex = VELM_NEW VERTEX(VELM_NEW APOINT(0, 0, 0));
    QELIResult result = QELI_FAIL;
    aliases.TransferAlias(result, vertex);
    EXPECT_EQ(result, QELI_OK);
    EXPECT_EQ(vertex->attrib(), nullptr);
    api_del_entity(vertex);
}

class LayerImport : public ImportTest {};

TEST_F(LayerImport, EntitiesJoinOneGroupPerSourceLayerUnlessOnTheReferenceLayer)
{
    TestModel model = TestModel::block(1, 1, 1);
    const auto word = [](int face) { return qelx_test::wordOf(qelx_test::KindFace, face); };
    model.attributes[word(0)].layer = 7;
    model.attributes[word(1)].layer = 7;
    model.attributes[word(2)].layer = 3;
    model.attributes[word(3)].layer = 3;
    model.layers[7] = qelx_test::TestLayer{"seven", {1.5, -0.2, 0.4, 1.0}, true};
    model.layers[3] = qelx_test::TestLayer{"three", {0.1, 0.2, 0.3, 1.0}, false};
    Import import(model);
    QELXVelmLayerImporter layers;
    std::vector<FACE*> faces;
    for (int f = 0; f < 5; ++f)
        faces.push_back(import.creator().GetFace(import.id(qelx_test::KindFace, f)));
    QELXAttributeExporter* attributes = &import.source().attributes();
    EXPECT_EQ(layers.ImportEntityLayer(faces[0], import.id(qelx_test::KindFace, 0), attributes, -1), QELI_OK);
    EXPECT_EQ(layers.ImportEntityLayer(faces[1], import.id(qelx_test::KindFace, 1), attributes, -1), QELI_OK);
    // Layer 3 is the reference layer of the first, not of the second.
    EXPECT_EQ(layers.ImportEntityLayer(faces[2], import.id(qelx_test::KindFace, 2), attributes, 3), QELI_FAIL);
    EXPECT_EQ(layers.ImportEntityLayer(faces[3], import.id(qelx_test::KindFace, 3), attributes, 5), QELI_OK);
    // Layer 3 made, the first is still on its reference layer: it stays off it.
    EXPECT_EQ(layers.ImportEntityLayer(faces[2], import.id(qelx_test::KindFace, 2), attributes, 3), QELI_OK);
    // No layer answered: no group.
    EXPECT_NE(layers.ImportEntityLayer(faces[4], import.id(qelx_test::KindFace, 4), attributes, -1), QELI_OK);
    const QELXDynamicArray<QELGROUP*> groups = layers.GetLayers();
    ASSERT_EQ(groups.Count(), 2);
    QELGROUP* seven = nullptr;
    ASSERT_EQ(layers.FindLayerById(7, seven), QELI_OK);
    EXPECT_EQ(membersOf(seven), (std::vector<ENTITY*>{faces[0], faces[1]}));
    QELXString label;
    EXPECT_TRUE(Ve_AttribTransfer::getLabel(seven, label));
    EXPECT_STREQ(label.c_str(), "seven");
    bool current = false;
    EXPECT_TRUE(Ve_AttribTransfer::getCurrent(seven, current) && current);
    const auto* rgb = static_cast<const ATTRIB_RGB*>(find_attrib(seven, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE));
    ASSERT_NE(rgb, nullptr);
    EXPECT_DOUBLE_EQ(rgb->red(), 1.0);
    EXPECT_DOUBLE_EQ(rgb->green(), 0.0);
    EXPECT_DOUBLE_EQ(rgb->blue(), 0.4);
    QELGROUP* three = nullptr;
    ASSERT_EQ(layers.FindLayerById(3, three), QELI_OK);
    EXPECT_EQ(membersOf(three), (std::vector<ENTITY*>{faces[3]}));
    // Switched off in the source: not the current layer.
    current = false;
    EXPECT_FALSE(Ve_AttribTransfer::getCurrent(three, current) && current);
    // Groups without the faces are the kernel's: deleting them after the faces.
    for (FACE* f : faces)
        api_del_entity(f);
    for (QELGROUP* g : groups)
        api_del_entity(g);
}

TEST_F(LayerImport, EntitiesWithoutNumberAreSkippedByAddEntitiesToGroup)
{
    QELGROUP* group = VELM_NEW QELGROUP();
    VERTEX* numbered = VELM_NEW VERTEX(VELM_NEW APOINT(0, 0, 0));
    VERTEX* plain = VELM_NEW VERTEX(VELM_NEW APOINT(1, 0, 0));
    Ve_AttribTransfer::setID(numbered, 4);
    QELXDynamicArray<ENTITY*> entities;
    entities.Add(numbered);
    entities.Add(plain);
    EXPECT_EQ(addEntitiesToGroup(entities, group), QELI_FAIL);
    EXPECT_EQ(membersOf(group), (std::vector<ENTITY*>{numbered}));
    EXPECT_EQ(addEntitiesToGroup(QELXDynamicArray<ENTITY*>(), group), QELI_OK);
    EXPECT_EQ(addEntitiesToGroup(entities, nullptr), QELI_FAIL);
    api_del_entity(numbered);
    api_del_entity(plain);
    api_del_entity(group);
}

namespace {

// Layer filters of a model, by index handles (index + 1).
class FilterExporter : public QELXDocumentFeatureExporter {
public:
    explicit FilterExporter(const TestModel& model) : QELXDocumentFeatureExporter(nullptr), m_model(model) {}
    QELIResult GetNumberLayerFilters(int& n) const override
    {
        n = static_cast<int>(m_model.layerFilters.size());
        return QELI_OK;
    }
    QELIResult GetIthLayerFilter(int i, void*& filter) const override
    {
        filter = reinterpret_cast<void*>(static_cast<std::uintptr_t>(i + 1));
        return QELI_OK;
    }
    QELIResult GetNumberOfLayersInLayerFilter(void*& f, int& n) const override
    {
        n = static_cast<int>(of(f).layers.size());
        return QELI_OK;
    }
    QELIResult GetIthLayerInLayerFilter(void*& f, int i, int& layer) const override
    {
        layer = of(f).layers[static_cast<std::size_t>(i)];
        return QELI_OK;
    }
    QELIResult GetLayerFilterType(void*& f, QELX_LayerFilterType& type) override
    {
        type = static_cast<QELX_LayerFilterType>(of(f).type);
        return QELI_OK;
    }
    QELIResult GetLayerFilterName(void*& f, QELXString& name) override
    {
        name = QELXString(of(f).name);
        return QELI_OK;
    }
    QELIResult GetIsLayerFilterCurrent(void*& f, bool& current) override
    {
        current = of(f).current;
        return QELI_OK;
    }

private:
    const qelx_test::TestLayerFilter& of(void* f) const
    {
        return m_model.layerFilters[reinterpret_cast<std::uintptr_t>(f) - 1];
    }
    const TestModel& m_model;
};

} // namespace

TEST_F(LayerImport, FiltersGatherTheirLayersMakingMissingOnesByNumber)
{
    TestModel model = TestModel::block(1, 1, 1);
    model.attributes[qelx_test::wordOf(qelx_test::KindFace, 0)].layer = 1;
    // A colour component that is no number is written as 0.
    model.layers[1] = qelx_test::TestLayer{"one", {std::numeric_limits<double>::quiet_NaN(), 0, 1, 1}, false};
    model.layers[2] = qelx_test::TestLayer{"two", {0, 1, 0.5, 1}, false};
    // The all-layers filter gathers every layer without naming them: the
    // layer it lists is not made its member.
    model.layerFilters = {{"all", 0, {1}, true}, {"some", 1, {1, 2}, false}, {"some", 1, {1}, false}};
    Import import(model);
    FACE* face = import.creator().GetFace(import.id(qelx_test::KindFace, 0));
    QELXVelmLayerImporter layers;
    ASSERT_EQ(layers.ImportEntityLayer(face, import.id(qelx_test::KindFace, 0), &import.source().attributes(), -1),
              QELI_OK);
    FilterExporter exporter(import.model());
    QELXVelmLayerFilterImporter filters;
    filters.ImportLayerFilters(&exporter, &import.source().attributes(), &layers);
    const QELXDynamicArray<QELGROUP*> made = filters.GetLayerFilters();
    ASSERT_EQ(made.Count(), 2); // the second "some" reuses the first
    EXPECT_TRUE(membersOf(made[0]).empty());
    bool current = false;
    EXPECT_TRUE(Ve_AttribTransfer::getCurrent(made[0], current) && current);
    EXPECT_FALSE(Ve_AttribTransfer::getCurrent(made[1], current) && current);
    QELGROUP* one = nullptr;
    QELGROUP* two = nullptr;
    ASSERT_EQ(layers.FindLayerById(1, one), QELI_OK);
    ASSERT_EQ(layers.FindLayerById(2, two), QELI_OK);
    EXPECT_EQ(membersOf(made[1]), (std::vector<ENTITY*>{one, two}));
    ASSERT_EQ(filters.GetFilterLayers().Count(), 1);
    EXPECT_EQ(filters.GetFilterLayers()[0], two);
    QELXString label;
    EXPECT_TRUE(Ve_AttribTransfer::getLabel(two, label));
    EXPECT_STREQ(label.c_str(), "two");
    // Its colour by number too, and the first layer's from its entity.
    for (auto [layer, want] : {std::pair(two, std::array<double, 3>{0.0, 1.0, 0.5}),
                               std::pair(one, std::array<double, 3>{0.0, 0.0, 1.0})}) {
        const auto* rgb = static_cast<const ATTRIB_RGB*>(find_attrib(layer, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE));
        ASSERT_NE(rgb, nullptr);
        EXPECT_DOUBLE_EQ(rgb->red(), want[0]);
        EXPECT_DOUBLE_EQ(rgb->green(), want[1]);
        EXPECT_DOUBLE_EQ(rgb->blue(), want[2]);
    }
    // Made by number and switched off: not current either.
    EXPECT_FALSE(Ve_AttribTransfer::getCurrent(two, current) && current);
    api_del_entity(face);
    for (QELGROUP* g : made)
        api_del_entity(g);
    for (QELGROUP* g : layers.GetLayers())
        api_del_entity(g);
}

TEST_F(LayerImport, ALayerMadeByNumberWithoutPropertiesTakesThemFromItsFirstEntity)
{
    // The source knows nothing of layer 4 by number when the filter names
    // it; by the time a face on it comes, it does: the layer takes the
    // name, colour (brought into [0, 1]) and state then, once.
    TestModel model = TestModel::block(1, 1, 1);
    model.layerFilters = {{"some", 1, {4}, false}};
    Import import(model);
    QELXVelmLayerImporter layers;
    FilterExporter exporter(import.model());
    QELXVelmLayerFilterImporter filters;
    filters.ImportLayerFilters(&exporter, &import.source().attributes(), &layers);
    QELGROUP* four = nullptr;
    ASSERT_EQ(layers.FindLayerById(4, four), QELI_OK);
    QELXString label;
    EXPECT_FALSE(Ve_AttribTransfer::getLabel(four, label));
    import.model().layers[4] = qelx_test::TestLayer{"four", {-0.5, 2.0, 0.25, 1.0}, true};
    import.model().attributes[qelx_test::wordOf(qelx_test::KindFace, 0)].layer = 4;
    import.model().attributes[qelx_test::wordOf(qelx_test::KindFace, 1)].layer = 4;
    FACE* first = import.creator().GetFace(import.id(qelx_test::KindFace, 0));
    FACE* second = import.creator().GetFace(import.id(qelx_test::KindFace, 1));
    EXPECT_EQ(layers.ImportEntityLayer(first, import.id(qelx_test::KindFace, 0), &import.source().attributes(), -1),
              QELI_OK);
    ASSERT_TRUE(Ve_AttribTransfer::getLabel(four, label));
    EXPECT_STREQ(label.c_str(), "four");
    bool current = false;
    EXPECT_TRUE(Ve_AttribTransfer::getCurrent(four, current) && current);
    const auto* rgb = static_cast<const ATTRIB_RGB*>(find_attrib(four, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE));
    ASSERT_NE(rgb, nullptr);
    EXPECT_DOUBLE_EQ(rgb->red(), 0.0);
    EXPECT_DOUBLE_EQ(rgb->green(), 1.0);
    EXPECT_DOUBLE_EQ(rgb->blue(), 0.25);
    // Renamed in the source afterwards: the layer keeps what it took.
    import.model().layers[4].name = "renamed";
    EXPECT_EQ(layers.ImportEntityLayer(second, import.id(qelx_test::KindFace, 1), &import.source().attributes(), -1),
              QELI_OK);
    EXPECT_TRUE(Ve_AttribTransfer::getLabel(four, label));
    EXPECT_STREQ(label.c_str(), "four");
    EXPECT_EQ(membersOf(four), (std::vector<ENTITY*>{first, second}));
    api_del_entity(first);
    api_del_entity(second);
    for (QELGROUP* g : filters.GetLayerFilters())
        api_del_entity(g);
    for (QELGROUP* g : layers.GetLayers())
        api_del_entity(g);
}
