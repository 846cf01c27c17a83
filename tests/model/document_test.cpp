// The connector document: copies, kernel settings, deletion of its content,
// assemblies, and the layer and filter screening.
#include <gtest/gtest.h>

#include <array>

#include "model/kernel_functions.hxx"
#include "model_test_support.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist/ve_assembly.hxx"
#include "persist/ve_formation.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/groups.hxx"
#include "velm/options.hxx"
#include "velm/save.hxx"
#include "velm/surface_build.hxx"

namespace {

class Document : public CachesCleared {
protected:
    void SetUp() override
    {
        CachesCleared::SetUp();
        qelx_test::resetFramework();
        m_objects = velm_live_object_count();
    }
    void TearDown() override
    {
        CachesCleared::TearDown();
        EXPECT_EQ(velm_live_object_count(), m_objects) << "kernel objects leaked";
    }
    long m_objects = 0;
};

QELGROUP* group(int type, int number = -1, const char* label = nullptr)
{
    auto* g = new QELGROUP;
    Ve_AttribTransfer::setGroupType(g, type);
    if (number != -1)
        Ve_AttribTransfer::setID(g, number);
    if (label)
        Ve_AttribTransfer::setLabel(g, QELXString(label));
    return g;
}

QELGROUP* layer(int number) { return group(Ve_GroupLayer, number); }

void lose(std::initializer_list<ENTITY*> entities)
{
    for (ENTITY* e : entities)
        api_del_entity(e);
}

int members(QELGROUP* g)
{
    ENTITY_LIST list;
    api_ct_return_ents(g, list);
    return list.iteration_count();
}

} // namespace

TEST_F(Document, CopyOwnsItsLabelsAndLeavesTheConversionAlone)
{
    QELGROUP* filter = group(Ve_GroupLayerFilter, -1, "front");
    const Owned box{testkit::make_box()};
    option_header* newPCurve = find_option(QELXOptionName::new_pcurve);
    ASSERT_NE(newPCurve, nullptr);
    newPCurve->set(1);
    {
        Ve_DocumentTag original;
        Ve_DocumentTag assigned; // a new document empties the caches: made before they are filled
        original.AddLayerFilters(QELXDynamicArray<QELGROUP*>(1, filter));
        Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box.body));
        newPCurve->set(0);
        {
            const Ve_DocumentTag copy(original);
            assigned = original;
            EXPECT_EQ(copy.GetNumberOfLayerFilters(), 1);
            EXPECT_EQ(assigned.GetNumberOfLayerFilters(), 1);
        }
        assigned = Ve_DocumentTag(original);
        // Neither the copies' labels nor their ends touched what the original owns.
        EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
        EXPECT_EQ(newPCurve->count(), 0);
    }
    EXPECT_EQ(newPCurve->count(), 1) << "the original puts the setting back";
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
    lose({filter});
}

TEST_F(Document, UnitsArePutBackOnlyWhenTheyWereKnown)
{
    for (double units : {0.0, 25.4}) {
        FileInfo info;
        info.set_units(units);
        ASSERT_TRUE(api_set_file_info(2, info).ok());
        { const Ve_DocumentTag document; save_info->set_units(1.0); }
        EXPECT_DOUBLE_EQ(save_info->units(), units == 0.0 ? 1.0 : units);
    }
}

TEST_F(Document, EmptyDeletesEverythingOnceAndSkipsRemovedSlots)
{
    // A body placed by an assembly that is also a solid, a sub-assembly that
    // is also listed, and a slot nulled by RemoveBody.
    BODY* placed = testkit::make_box();
    BODY* loose = testkit::make_sheet();
    BODY* removed = testkit::make_box();
    Ve_DocumentTag document;
    QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> bodies;
    bodies.Add(QELXDynamicArray<Ve_BodyTag*>(1, as<Ve_BodyTag>(placed)));
    Ve_AssemblyTag* sub = document.createAssembly(QELXMorph3D(), {}, bodies, {}, {});
    ASSERT_NE(sub, nullptr);
    Ve_AssemblyTag* top = document.createAssembly(QELXMorph3D(), {}, {}, {}, QELXDynamicArray<Ve_AssemblyTag*>(1, sub));
    ASSERT_NE(top, nullptr);
    for (BODY* b : {placed, loose, removed})
        document.AddBody(b);
    document.RemoveBody(as<Ve_BodyTag>(removed), false);
    document.appendAssembly(sub);
    document.appendAssembly(top);
    document.AddAssembly(nullptr);

    qelx_test::AssertRecorder asserts;
    document.empty();
    EXPECT_EQ(asserts.count(), 0);
    EXPECT_EQ(document.GetNumberOfEntities(), 0);
    lose({removed});
}

TEST_F(Document, AssemblyWithFewerMorphsThanPartsPlacesTheRestAtTheIdentity)
{
    BODY* first = testkit::make_box();
    BODY* second = testkit::make_box();
    Ve_DocumentTag document;
    QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> bodies;
    bodies.Add(QELXDynamicArray<Ve_BodyTag*>(1, as<Ve_BodyTag>(first)));
    bodies.Add(QELXDynamicArray<Ve_BodyTag*>(1, as<Ve_BodyTag>(second)));
    const QELXMorph3D shifted(QELXAffine(), QELXPoint3D(1.0, 2.0, 3.0), 1.0);
    Ve_AssemblyTag* assembly =
        document.createAssembly(QELXMorph3D(), QELXDynamicArray<QELXMorph3D>(1, shifted), bodies, {}, {});
    ASSERT_NE(assembly, nullptr);
    ASSERT_EQ(assembly->getNumberOfPlacements(), 2);
    EXPECT_DOUBLE_EQ(assembly->getPlacement(0)->getMorph().GetTranslation()[2], 3.0);
    EXPECT_DOUBLE_EQ(assembly->getPlacement(1)->getMorph().GetTranslation()[2], 0.0);
    document.appendAssembly(assembly);
    document.empty();
}

TEST_F(Document, RepeatLayersHandEveryMemberToTheFirstAndFiltersNeedALabel)
{
    QELGROUP* first = layer(3);
    QELGROUP* repeat = layer(3);
    QELGROUP* other = layer(5);
    const Owned box{testkit::make_box()};
    const ENTITY_LIST faces = [&] {
        ENTITY_LIST l;
        api_get_faces(box.body, l);
        return l;
    }();
    for (int i = 0; i < faces.count(); ++i)
        api_ct_add_to_group(faces[i], repeat);
    QELGROUP* labelled = group(Ve_GroupLayerFilter, -1, "all");
    QELGROUP* sameLabel = group(Ve_GroupLayerFilter, -1, "all");
    QELGROUP* blank = group(Ve_GroupLayerFilter, -1, "");

    Ve_DocumentTag document;
    document.AddLayers(QELXDynamicArray<QELGROUP*>(1, first));
    QELXDynamicArray<QELGROUP*> more;
    more.Add(repeat);
    more.Add(other);
    document.AddLayers(more);
    EXPECT_EQ(document.GetNumberOfLayers(), 2);
    EXPECT_EQ(members(first), 6) << "every member moved, none skipped";
    EXPECT_EQ(members(repeat), 0);
    EXPECT_TRUE(isSameGroupEntity(first, repeat));
    EXPECT_FALSE(isSameGroupEntity(first, other));

    QELXDynamicArray<QELGROUP*> filters;
    for (QELGROUP* f : {labelled, sameLabel, blank})
        filters.Add(f);
    document.AddLayerFilters(filters);
    EXPECT_EQ(document.GetNumberOfLayerFilters(), 2);
    EXPECT_FALSE(isSameGroupEntity(blank, blank));
    lose({first, repeat, other, labelled, sameLabel, blank});
}

// A repeat layer that goes with its last member: its members are handed
// over from a copy of its list, so nothing reads the layer once it has gone.
TEST_F(Document, ARepeatLayerThatGoesWhenEmptiedHandsOverEveryMember)
{
    QELGROUP* first = layer(3);
    QELGROUP* repeat = layer(3);
    repeat->set_collection_empty_behavior(1);
    const Owned box{testkit::make_box()};
    ENTITY_LIST faces;
    api_get_faces(box.body, faces);
    for (int i = 0; i < faces.count(); ++i)
        api_ct_add_to_group(faces[i], repeat);
    Ve_DocumentTag document;
    document.AddLayers(QELXDynamicArray<QELGROUP*>(1, first));
    document.AddLayers(QELXDynamicArray<QELGROUP*>(1, repeat));
    EXPECT_EQ(document.GetNumberOfLayers(), 1);
    EXPECT_EQ(members(first), 6) << "every member moved, none skipped";
    EXPECT_FALSE(velm_is_live_entity(repeat)) << "the emptied layer went";
    lose({first});
}

TEST_F(Document, GatheringMakesBodiesOfLooseTopologyAndKeepsWhatCouldNotBeConverted)
{
    for (const bool freePoints : {false, true}) {
        SCOPED_TRACE(freePoints ? "free points translated" : "free points dropped");
        BODY* box = testkit::make_box();
        QELGROUP* first = layer(3);
        QELGROUP* repeat = layer(3);
        api_ct_add_to_group(firstFace(box), repeat);
        auto* point = new VERTEX(new APOINT(1.0, 2.0, 3.0));
        FACE* loose = nullptr;
        ASSERT_TRUE(api_face_plane(QELposition(0, 0, 50), 2.0, 2.0, nullptr, loose).ok());
        QELXConverter conversion;
        conversion.GetOptions()->AddOption(QELXString(QELXOptionName::TranslateFreePoints), freePoints);
        auto* kernelDocument = new QELXVelmDocument;
        const QELXDocumentHandle held(kernelDocument);
        kernelDocument->SetTranslationContext(&conversion);
        ENTITY_LIST native;
        for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(first), static_cast<ENTITY*>(repeat),
                          static_cast<ENTITY*>(point), static_cast<ENTITY*>(loose)})
            native.add(e);
        kernelDocument->AppendNativeEntityList(native);
        // Without free points the face's conversion is made to fail: it stays loose.
        if (!freePoints)
            velm_test_fail_call("api_mk_by_faces", 1, apiFailure());
        {
            Ve_DocumentTag document(kernelDocument);
            EXPECT_EQ(document.GetBRepEntities(), 0u);
            EXPECT_EQ(document.GetNumberOfLayers(), 1);
            EXPECT_EQ(members(first), 1) << "the repeat's members went to the first layer";
            EXPECT_EQ(document.GetNumberOfSolids(), freePoints ? 3 : 1);
            ENTITY_LIST* list = kernelDocument->GetNativeEntityList();
            EXPECT_EQ(list->contains(loose), !freePoints);
            if (freePoints) {
                const auto* sheet = static_cast<BODY*>(document.GetSolidAt(2));
                EXPECT_EQ(firstFace(sheet), loose);
                EXPECT_TRUE(list->contains(sheet));
                EXPECT_TRUE(as<Ve_BodyTag>(static_cast<BODY*>(document.GetSolidAt(1)))->isVertexBody());
            }
        }
        kernelDocument->SetTranslationContext(nullptr);
        if (!freePoints) {
            kernelDocument->RemoveEntity(loose);
            kernelDocument->RemoveEntity(point);
            lose({loose, point});
        }
        velm_test_reset();
    }
}

TEST_F(Document, TwoFrameworkOptionsReachTheKernelAndTheLaterOneWins)
{
    option_header* newPCurve = find_option(QELXOptionName::new_pcurve);
    option_header* newPCurveFit = find_option(QELXOptionName::new_pcurve_fit);
    ASSERT_TRUE(newPCurve && newPCurveFit);
    newPCurve->set(1);
    newPCurveFit->set(1);
    QELXOptions options;
    options.AddOption(QELXString("Unrelated"), true);
    options.AddOption(QELXString("UseNewPCurve"), true);
    options.AddOption(QELXString("NewPCurveFit"), QELXValue("not a flag"));
    options.AddOption(QELXString("UseNewPCurve"), false);
    EXPECT_EQ(Ve_DocumentTag::SetRequiredOptionsOfKernel(options), 0u);
    EXPECT_EQ(newPCurve->count(), 0);
    EXPECT_EQ(newPCurveFit->count(), 0) << "a value that cannot be read counts as false";
    options.Clear();
    options.AddOption(QELXString("NewPCurveFit"), true);
    Ve_DocumentTag::SetRequiredOptionsOfKernel(options);
    EXPECT_EQ(newPCurveFit->count(), 1);
    EXPECT_EQ(newPCurve->count(), 0) << "an option the set does not name is left alone";
}

TEST_F(Document, RemovingABodyEmptiesItsOwnSlotOnlyTheFirstToo)
{
    BODY* bodies[3] = {testkit::make_box(), testkit::make_sheet(), testkit::make_box()};
    for (int removed = 0; removed < 3; ++removed) {
        SCOPED_TRACE(removed);
        Ve_DocumentTag document;
        for (BODY* b : bodies)
            document.AddBody(b);
        document.RemoveBody(as<Ve_BodyTag>(bodies[removed]), false);
        ASSERT_EQ(document.GetNumberOfSolids(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(document.GetSolidAt(i), i == removed ? nullptr : static_cast<void*>(bodies[i]));
        // A body the document no longer lists is not deleted with it.
        document.ClearBodies(false);
    }
    // Removed from the base document too when asked.
    auto* kernelDocument = new QELXVelmDocument;
    const QELXDocumentHandle held(kernelDocument);
    ENTITY_LIST native;
    for (BODY* b : bodies)
        native.add(b);
    kernelDocument->AppendNativeEntityList(native);
    {
        Ve_DocumentTag document(kernelDocument);
        document.ClearBodies(false);
        for (BODY* b : bodies)
            document.AddBody(b);
        document.RemoveBody(as<Ve_BodyTag>(bodies[0]), true);
        EXPECT_FALSE(kernelDocument->GetNativeEntityList()->contains(bodies[0]));
        EXPECT_TRUE(kernelDocument->GetNativeEntityList()->contains(bodies[1]));
        document.ClearBodies(true);
        EXPECT_EQ(kernelDocument->GetNativeEntityList()->iteration_count(), 0);
    }
    lose({bodies[0], bodies[1], bodies[2]});
}

TEST_F(Document, PartsSubAssembliesAndTheAssemblyKeepTheirOwnPlacements)
{
    BODY* part = testkit::make_box();
    Ve_DocumentTag document;
    Ve_AssemblyTag* sub = document.createAssembly(QELXMorph3D(), {}, {}, {}, {});
    ASSERT_NE(sub, nullptr);
    const auto moved = [](double x, double y, double z) {
        return QELXMorph3D(QELXAffine(), QELXPoint3D(x, y, z), 1.0);
    };
    QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> bodies;
    bodies.Add(QELXDynamicArray<Ve_BodyTag*>(1, as<Ve_BodyTag>(part)));
    Ve_AssemblyTag* top = document.createAssembly(moved(7, 0, 0), QELXDynamicArray<QELXMorph3D>(1, moved(0, 5, 0)),
                                                  bodies, QELXDynamicArray<QELXMorph3D>(1, moved(0, 0, 3)),
                                                  QELXDynamicArray<Ve_AssemblyTag*>(1, sub));
    ASSERT_NE(top, nullptr);
    ASSERT_EQ(top->getNumberOfPlacements(), 1);
    ASSERT_EQ(top->getNumberOfSubReferences(), 1);
    const QELXPoint3D assemblyAt = top->getMorph().GetTranslation();
    const QELXPoint3D partAt = top->getPlacement(0)->getMorph().GetTranslation();
    const QELXPoint3D subAt = top->getSubReference(0)->getMorph().GetTranslation();
    EXPECT_EQ((std::array{assemblyAt[0], assemblyAt[1], assemblyAt[2]}), (std::array{7.0, 0.0, 0.0}));
    EXPECT_EQ((std::array{partAt[0], partAt[1], partAt[2]}), (std::array{0.0, 5.0, 0.0}));
    EXPECT_EQ((std::array{subAt[0], subAt[1], subAt[2]}), (std::array{0.0, 0.0, 3.0}));
    // More morphs than sub-assemblies: the extra ones are not read.
    document.appendAssembly(top);
    document.appendAssembly(sub);
    document.empty();
}

TEST_F(Document, AnAssemblyPlacingItselfIsDeletedWithItsParts)
{
    for (bool listedTwice : {false, true}) {
        SCOPED_TRACE(listedTwice);
        BODY* part = testkit::make_box();
        Ve_DocumentTag document;
        QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> bodies;
        bodies.Add(QELXDynamicArray<Ve_BodyTag*>(1, as<Ve_BodyTag>(part)));
        Ve_AssemblyTag* self = document.createAssembly(QELXMorph3D(), {}, bodies, {}, {});
        ASSERT_NE(self, nullptr);
        auto* kernel = reinterpret_cast<VE_ASSEMBLY*>(self);
        kernel->appendFormation(new VE_FORMATION(kernel, QELtransf()));
        document.appendAssembly(self);
        if (listedTwice)
            document.appendAssembly(self);
        document.AddBody(part);
        qelx_test::AssertRecorder asserts;
        document.empty();
        EXPECT_EQ(asserts.count(), 0);
        EXPECT_FALSE(velm_is_live_entity(part));
    }
}

TEST_F(Document, CountsTakeEveryKindAndNullPartBodiesArePlacedNowhere)
{
    BODY* body = testkit::make_box();
    QELGROUP* filter = group(Ve_GroupLayerFilter, -1, "front");
    QELGROUP* layer3 = layer(3);
    Ve_DocumentTag document;
    document.AddBody(body);
    document.AddLayer(layer3);
    document.AddLayerFilter(filter);
    QELXDynamicArray<Ve_BodyTag*> withNull;
    withNull.Add(nullptr);
    withNull.Add(as<Ve_BodyTag>(body));
    QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> bodies;
    bodies.Add(withNull);
    Ve_AssemblyTag* assembly = document.createAssembly(QELXMorph3D(), {}, bodies, {}, {});
    ASSERT_NE(assembly, nullptr);
    EXPECT_EQ(assembly->getNumberOfPlacements(), 1);
    document.appendAssembly(assembly);
    EXPECT_EQ(document.GetNumberOfEntities(), 4);
    document.empty();
    lose({layer3, filter});
}

TEST_F(Document, EmptyingDropsTheCachedRecordsOfWhatItDeletes)
{
    BODY* loose = testkit::make_two_lump_body();
    BODY* placed = testkit::make_box();
    Ve_DocumentTag document;
    QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> bodies;
    bodies.Add(QELXDynamicArray<Ve_BodyTag*>(1, as<Ve_BodyTag>(placed)));
    document.appendAssembly(document.createAssembly(QELXMorph3D(), {}, bodies, {}, {}));
    document.AddBody(loose);
    document.AddBody(placed);
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(loose));
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(placed));
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 2);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 3);
    document.empty();
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
}

TEST_F(Document, AddedBodiesHaveTheirIgesHusksConvertedWhenAsked)
{
    for (bool asked : {false, true}) {
        SCOPED_TRACE(asked);
        qelx_test::OptionScope options;
        if (asked)
            options.on(Ve_OptionDoc::keyOf("TransferOldIgesHuskAsAttribs"));
        BODY* body = testkit::make_box();
        new ATTRIB_DOVA_IGES_DE_ENTRY(body, 9);
        Ve_DocumentTag document;
        document.AddBody(body);
        ATTRIB_GEN_NAME* id = nullptr;
        EXPECT_TRUE(api_find_named_attribute(body, "ATTRIB_XVELM_ID", id).ok());
        EXPECT_EQ(id != nullptr, asked);
        EXPECT_EQ(find_attrib(body, ATTRIB_DOVA_IGES_TYPE) == nullptr, asked);
        lose({body});
    }
}
