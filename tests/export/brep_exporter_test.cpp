// The B-rep exporter's options, preprocessing, links and body release.
#include "export_test_support.hxx"

#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/model_builders.hxx"
#include "velm/groups.hxx"

namespace {

QELGROUP* groupOf(int type, std::initializer_list<ENTITY*> members)
{
    auto* g = new QELGROUP;
    Ve_AttribTransfer::setGroupType(g, type);
    for (ENTITY* m : members)
        api_ct_add_to_group(m, g);
    return g;
}

} // namespace

TEST_F(ExportTest, OptionsAreLookedUpUnderTheDocumentTypeFirst)
{
    QELXBRepExporter& x = exporterOf({}, "XInventor");
    qelx_test::OptionScope options;
    options.set("/XVelm/Tolerance", QELXValue(0.25));
    x.SetOption(QELXString("OwnOnly"), QELXValue(3));
    QELXOption* option = nullptr;
    ASSERT_EQ(x.GetOption(QELXString("Tolerance"), option), 0u);
    double value = 0.0;
    option->GetValue(value);
    EXPECT_EQ(value, 0.25);
    option = nullptr;
    ASSERT_EQ(x.GetOption(QELXString("OwnOnly"), option), 0u);
    int own = 0;
    option->GetValue(own);
    EXPECT_EQ(own, 3);
}

TEST_F(ExportTest, UserOptionsSwitchTheConnectorAndInventorDocumentsHeal)
{
    QELXBRepExporter& x = exporterOf({}, "XInventor");
    document().SetDocumentType(QELXString("INVENTOR"));
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("ConvertSpline"));
    options.on(Ve_OptionDoc::keyOf("SplineAsRational"));
    options.off(Ve_OptionDoc::keyOf("HealBodyPostProcessInventor"));
    QELXOptions user;
    user.AddOption(QELXString("ConvertSpline"), false);
    x.SetUserOptions(user);
    EXPECT_EQ(x.ProcessUserOptions(user), 0u);
    EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::ConvertSpline));
    EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::SplineAsRational));
    EXPECT_TRUE(Ve_OptionDoc::isOn(Ve_OptionDoc::HealBodyPostProcessInventor));
}

TEST_F(ExportTest, PreprocessingReportsAnEmptyDocumentAndLinksGroupMembers)
{
    // A selection set, and collections nested three deep (the kernel refuses one holding itself).
    BODY* box = testkit::make_box();
    FACE* face = box->lump()->shell()->face();
    QELGROUP* selection = groupOf(Ve_GroupSelectionSet, {face});
    auto* inner = new QELCOLLECTION;
    auto* middle = new QELCOLLECTION;
    auto* outer = new QELCOLLECTION;
    inner->add_ent(box->lump()->shell());
    middle->add_ent(inner);
    outer->add_ent(middle);
    QELXBRepExporter& x = exporterOf({selection, outer});
    EXPECT_EQ(x.PreProcess(), 2u) << "no solids, assemblies, layers or filters";
    QELXIdentifiers targets;
    // A selection set is a collection too: its members are linked by both steps.
    ASSERT_EQ(document().GetRepLinker()->GetLinks(idOf(face), targets), 0u);
    ASSERT_EQ(targets.Count(), 2);
    EXPECT_STREQ(targets[0].GetTypeName(), "ENTITY");
    EXPECT_FALSE(targets[0].GetCast().IsValid());
    EXPECT_TRUE(targets[1].GetCast().IsValid());
    targets.Clear();
    ASSERT_EQ(document().GetRepLinker()->GetLinks(idOf(box->lump()->shell()), targets), 0u);
    ASSERT_EQ(targets.Count(), 1);
    ASSERT_TRUE(targets[0].GetCast().IsValid());
    EXPECT_EQ(targets[0].GetCast()->Cast(targets[0]), box->lump()->shell());
    for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(inner), static_cast<ENTITY*>(middle)})
        api_del_entity(e);
}

TEST_F(ExportTest, ReleasedBodiesLeaveTheDocumentOnlyWhenNothingElseReadsThem)
{
    struct Row {
        const char* what;
        bool inConversion;
        int optimise; // -1 absent
        std::vector<const char*> types;
        bool deleted;
    };
    const Row rows[] = {
        {"outside a conversion", false, -1, {}, false},
        {"plain conversion", true, -1, {"BRep"}, true},
        {"memory not to be saved", true, 0, {"BRep"}, false},
        {"PMI read afterwards", true, -1, {"BRep", "PMI"}, false},
        {"PMI alone", true, -1, {"PMI"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Options an exporter sets are published to the registry: each row starts afresh.
        qelx_test::resetFramework();
        BODY* box = testkit::make_box();
        QELXBRepExporter& x = exporterOf({box});
        QELXConverter conversion;
        QELXRepTypes types;
        for (const char* t : row.types)
            types.Add(QELXRepType(t));
        conversion.SetRepresentations(types);
        if (row.inConversion)
            document().SetTranslationContext(&conversion);
        if (row.optimise >= 0)
            x.SetOption(QELXString("OptimizeMemoryUsage"), QELXValue(row.optimise != 0));
        ASSERT_EQ(x.PreProcess(), 0u);
        QELXIdentifier body;
        x.GetBody(0, body);
        x.PrepareBody(body);
        QELXIdentifier face, surface;
        int index = 0;
        QELXIdentifier shell, lump, volume;
        x.GetLumpFromBody(body, 0, lump);
        x.GetShellFromVolume(lump, 0, shell);
        x.GetFaceFromShell(shell, index, face);
        x.GetFaceSurface(face, surface);
        EXPECT_EQ(x.ReleaseBody(body), 0u);
        EXPECT_EQ(velm_is_live_entity(box), !row.deleted);
        if (row.deleted) {
            EXPECT_EQ(x.ReleaseBody(body), 0x1000001u) << "the identifier names nothing now";
            EXPECT_EQ(x.PreProcess(), 2u) << "the cleared document is not gathered again";
        }
        document().SetTranslationContext(nullptr);
        m_exporter = QELXBRepExporterHandle();
        m_document = QELXDocumentHandle();
    }
}
