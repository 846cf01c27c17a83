#include "qelx_velm/ve_option_doc.hxx"

#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

class VeOptionDoc : public ::testing::Test {
protected:
    void SetUp() override { qelx_test::resetFramework(); }
    void TearDown() override { qelx_test::resetFramework(); }
};

TEST_F(VeOptionDoc, SwitchCountsOnlyWhenPresentAndOn)
{
    EXPECT_EQ(Ve_OptionDoc::CheckBody, nullptr);
    EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::CheckBody));
    EXPECT_FALSE(Ve_OptionDoc::isOff(Ve_OptionDoc::CheckBody)) << "absent is not off";

    Gk_OptionDoc::setOption("/XVelm/CheckBody", QELXValue(false));
    ASSERT_NE(Ve_OptionDoc::CheckBody, nullptr);
    EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::CheckBody));
    EXPECT_TRUE(Ve_OptionDoc::isOff(Ve_OptionDoc::CheckBody));

    Ve_OptionDoc::CheckBody->set(true);
    EXPECT_TRUE(Ve_OptionDoc::isOn(Ve_OptionDoc::CheckBody));

    Gk_OptionDoc::removeOption("/XVelm/CheckBody");
    EXPECT_EQ(Ve_OptionDoc::CheckBody, nullptr);
}

TEST_F(VeOptionDoc, SwitchesBindToTheirOwnTexts)
{
    qelx_test::OptionScope options;
    options.set("/XVelm/PID", QELXValue(6));
    options.on("/XVelm/EnableWideCharAttribs");
    options.on("/XVelm/HealBodyPostProcess|XStep");
    options.on("/XVelm/CheckAndFixReverseBody");
    options.on("/XVelm/TransferAttributePID"); // the member name is not a key

    ASSERT_NE(Ve_OptionDoc::TransferAttributePID, nullptr);
    EXPECT_EQ(Ve_OptionDoc::TransferAttributePID->count() & 4, 4);
    EXPECT_TRUE(Ve_OptionDoc::isOn(Ve_OptionDoc::EnableWideCharAttribute));
    EXPECT_TRUE(Ve_OptionDoc::isOn(Ve_OptionDoc::HealBodyPostProcessStep));
    EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::HealBodyPostProcessIges));
    EXPECT_TRUE(Ve_OptionDoc::isOn(Ve_OptionDoc::_checkAndFixReverseBody));
    EXPECT_EQ(Ve_OptionDoc::TransferAttributePName, nullptr);
}

TEST_F(VeOptionDoc, WritableSwitchesArePresentAtLoadAndAfterReset)
{
    for (Gk_Option* sw : {Ve_OptionDoc::ConvertSpline, Ve_OptionDoc::SplineAsRational,
                          Ve_OptionDoc::EnableSurfaceSimplification, Ve_OptionDoc::EnableCurveSimplification,
                          Ve_OptionDoc::TranslateAllStates, Ve_OptionDoc::HealBodyPostProcessInventor}) {
        ASSERT_NE(sw, nullptr);
        EXPECT_FALSE(sw->on());
    }
    Ve_OptionDoc::ConvertSpline->set(true);
    qelx_test::resetFramework();
    ASSERT_NE(Ve_OptionDoc::ConvertSpline, nullptr) << "re-bound to the fresh entry";
    EXPECT_FALSE(Ve_OptionDoc::ConvertSpline->on());
}

TEST_F(VeOptionDoc, ValueWritesThroughAnOptionAreSeenByLaterReaders)
{
    Gk_OptionDoc::setOption("/XVelm/SmallEdgeTol", QELXValue(0.0));
    Ve_OptionDoc::SmallEdgeTol->SetValue(0.05);
    EXPECT_DOUBLE_EQ(Gk_OptionDoc::fetchOption("/XVelm/SmallEdgeTol")->value(), 0.05);
    EXPECT_EQ(Ve_OptionDoc::DoSplineResurface, nullptr);
    Gk_OptionDoc::setOption("/XVelm/DoSplineResurface", QELXValue(2));
    EXPECT_EQ(Ve_OptionDoc::DoSplineResurface->count(), 2);
}

// Where the registry key differs from the member's name, the key turns on
// that member's switch and no other.
TEST_F(VeOptionDoc, KeysUnlikeTheMemberNameBindTheirSwitch)
{
    const struct {
        const char* key;
        Gk_Option* const& sw;
    } renamed[] = {{"/XVelm/PName", Ve_OptionDoc::TransferAttributePName},
                   {"/XVelm/Import_ExtendIfPCrvOutsideSrf", Ve_OptionDoc::ExtendIfPCrvOutsideSrf},
                   {"/XVelm/TranslateAssemblyFeatures", Ve_OptionDoc::_translateAssemblyFeatures}};
    for (const auto& r : renamed) {
        qelx_test::OptionScope options;
        options.on(r.key);
        EXPECT_TRUE(Ve_OptionDoc::isOn(r.sw)) << r.key;
        for (const auto& other : renamed)
            EXPECT_TRUE(&other == &r || !Ve_OptionDoc::isOn(other.sw)) << r.key << " turned on " << other.key;
    }
    EXPECT_EQ(Ve_OptionDoc::keyOf("NoSuchSwitch"), "");
}
