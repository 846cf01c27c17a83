#include "qelx/qelx_options.hxx"
#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

class QelxOptionRegistry : public ::testing::Test {
protected:
    void SetUp() override { qelx_test::resetFramework(); }
    void TearDown() override { qelx_test::resetFramework(); }
};

TEST_F(QelxOptionRegistry, LookupIsExactByPath)
{
    EXPECT_EQ(Gk_OptionDoc::fetchOption("/XVelm/UseSurfaceLimits"), nullptr);
    Gk_Option* set = Gk_OptionDoc::setOption("/XVelm/UseSurfaceLimits", QELXValue(true));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(Gk_OptionDoc::fetchOption(QELXString("/XVelm/") + "UseSurfaceLimits"), set);
    EXPECT_EQ(Gk_OptionDoc::fetchOption("/XVelm/usesurfacelimits"), nullptr);
    EXPECT_EQ(Gk_OptionDoc::fetchOption("UseSurfaceLimits"), nullptr);
    EXPECT_TRUE(set->on());
}

TEST_F(QelxOptionRegistry, ReplacingAValueKeepsTheEntry)
{
    Gk_Option* first = Gk_OptionDoc::setOption("/XVelm/SmallEdgeTol", QELXValue(0.5));
    Gk_Option* second = Gk_OptionDoc::setOption("/XVelm/SmallEdgeTol", QELXValue(0.25));
    EXPECT_EQ(first, second);
    EXPECT_DOUBLE_EQ(first->value(), 0.25);
    EXPECT_TRUE(Gk_OptionDoc::removeOption("/XVelm/SmallEdgeTol"));
    EXPECT_FALSE(Gk_OptionDoc::removeOption("/XVelm/SmallEdgeTol"));
    EXPECT_EQ(Gk_OptionDoc::fetchOption("/XVelm/SmallEdgeTol"), nullptr);
}

TEST_F(QelxOptionRegistry, ResetKeepsOnlyTheWritableSwitchesPresentAndOff)
{
    Gk_OptionDoc::setOption("/XStep/Import/Explode/Class2Wires", QELXValue(true));
    Gk_OptionDoc::fetchOption("/XVelm/ConvertSpline")->set(true);
    Gk_OptionDoc::reset();
    EXPECT_EQ(Gk_OptionDoc::fetchOption(QELXOptionName::XStep_Import_Explode_Class2Wires), nullptr);
    EXPECT_EQ(Gk_OptionDoc::keys().size(), Gk_OptionDoc::writableKeys().size());
    for (const char* key : Gk_OptionDoc::writableKeys()) {
        Gk_Option* option = Gk_OptionDoc::fetchOption(key);
        ASSERT_NE(option, nullptr) << key;
        EXPECT_FALSE(option->on()) << key;
    }
}

TEST_F(QelxOptionRegistry, ChangeHooksRunOnInsertRemoveAndReset)
{
    static int calls;
    calls = 0;
    auto hook = +[] { ++calls; };
    Gk_OptionDoc::addChangeHook(hook);
    Gk_OptionDoc::setOption("/XVelm/HealBody", QELXValue(true));
    Gk_OptionDoc::setOption("/XVelm/HealBody", QELXValue(false)); // value change only
    Gk_OptionDoc::removeOption("/XVelm/HealBody");
    Gk_OptionDoc::reset();
    Gk_OptionDoc::removeChangeHook(hook);
    EXPECT_EQ(calls, 3);
}

TEST_F(QelxOptionRegistry, OptionScopeRestoresPreviousState)
{
    Gk_OptionDoc::setOption("/XVelm/KnotTol", QELXValue(1e-6));
    {
        qelx_test::OptionScope scope;
        scope.set("/XVelm/KnotTol", QELXValue(1e-3));
        scope.on("/XVelm/TransferLayer");
        scope.remove("/XVelm/ConvertSpline");
        EXPECT_DOUBLE_EQ(Gk_OptionDoc::fetchOption("/XVelm/KnotTol")->value(), 1e-3);
        EXPECT_EQ(Gk_OptionDoc::fetchOption("/XVelm/ConvertSpline"), nullptr);
    }
    EXPECT_DOUBLE_EQ(Gk_OptionDoc::fetchOption("/XVelm/KnotTol")->value(), 1e-6);
    EXPECT_EQ(Gk_OptionDoc::fetchOption("/XVelm/TransferLayer"), nullptr);
    ASSERT_NE(Gk_OptionDoc::fetchOption("/XVelm/ConvertSpline"), nullptr);
    EXPECT_FALSE(Gk_OptionDoc::fetchOption("/XVelm/ConvertSpline")->on());
}

TEST(QelxOption, SwitchReadsCoerceValues)
{
    Gk_Option option("x", QELXValue(2.7));
    EXPECT_TRUE(option.on());
    EXPECT_EQ(option.count(), 2);
    option.SetValue("FALSE");
    EXPECT_FALSE(option.on());
    EXPECT_EQ(option.count(), 0);
    EXPECT_DOUBLE_EQ(option.value(), 0.0);
    option.SetValue("maybe");
    bool flag = true;
    EXPECT_FALSE(option.fetchValue(flag));
    EXPECT_TRUE(flag) << "a failed read leaves the value untouched";
    option.set(true);
    EXPECT_EQ(option.count(), 1);
    EXPECT_DOUBLE_EQ(option.value(), 1.0);
    EXPECT_EQ(option.GetValueType(), 3);
    option.set(5);
    EXPECT_EQ(option.GetValueType(), 1);
    EXPECT_TRUE(option.on());

    // Counts out of the int range saturate instead of wrapping to a negative
    // number; NaN is neither on nor a count.
    option.set(1e12);
    EXPECT_EQ(option.count(), std::numeric_limits<int>::max());
    option.set(-std::numeric_limits<double>::infinity());
    EXPECT_EQ(option.count(), std::numeric_limits<int>::min());
    option.set(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(option.count(), 0);
    EXPECT_FALSE(option.on());

    QELXOption empty;
    QELXValue value(1);
    EXPECT_EQ(empty.GetValue(value), QELI_FAIL);
    bool b = true;
    EXPECT_EQ(empty.GetValue(b), QELI_FAIL);
}

TEST(QelxOptions, LastOfANameWinsAndEnumerationKeepsOrder)
{
    QELXOptions options;
    options.AddOption(QELXOptionName::Import_Mode_Solid_Point, true);
    options.AddOption(QELXOptionName::WriteProcessor, "VELM/IGES");
    options.AddOption("WriteTolInMm", 1e-6);
    options.AddOption("UseNewPCurve", false);
    options.AddOption("UseNewPCurve", true);
    EXPECT_EQ(options.Count(), 5);

    QELXOption* found = nullptr;
    ASSERT_EQ(options.GetOption("UseNewPCurve", found), QELI_OK);
    bool flag = false;
    EXPECT_EQ(found->GetValue(flag), QELI_OK);
    EXPECT_TRUE(flag);
    QELXOption* untouched = found;
    EXPECT_EQ(options.GetOption("Missing", untouched), QELI_FAIL);
    EXPECT_EQ(untouched, found);

    std::vector<std::string> names;
    options.InitEnumeration();
    QELXOption* option = nullptr;
    while (options.GetNext(option) == QELI_OK) {
        QELXString name;
        option->GetName(name);
        names.emplace_back(name.c_str());
    }
    EXPECT_EQ(option, nullptr);
    EXPECT_EQ(names, (std::vector<std::string>{"Import_Mode_Solid_Point", "WriteProcessor", "WriteTolInMm",
                                                "UseNewPCurve", "UseNewPCurve"}));
    QELXValue text;
    options.GetOption(QELXOptionName::WriteProcessor, found);
    ASSERT_EQ(found->GetValue(text), QELI_OK);
    EXPECT_EQ(text.GetType(), QELXValue::String);
}

TEST(QelxOptionName, TextsFollowTheNamingRule)
{
    EXPECT_STREQ(QELXOptionName::new_pcurve, "new_pcurve");
    EXPECT_STREQ(QELXOptionName::new_pcurve_fit, "new_pcurve_fit");
    EXPECT_STREQ(QELXOptionName::trim_faces, "trim_faces");
    EXPECT_STREQ(QELXOptionName::XVelm_Export_Preprocess_CleanModel, "/XVelm/Export/Preprocess/CleanModel");
    EXPECT_STREQ(QELXOptionName::XVelm_TrimFace, "/XVelm/TrimFace");
    EXPECT_STREQ(QELXOptionName::HealBodyPostProcess_XStep, "HealBodyPostProcess|XStep");
    EXPECT_STREQ(QELXOptionName::IgnoreInvalidfaces, "IgnoreInvalidfaces");
}
