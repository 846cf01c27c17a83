#include "qelx/qelx_events.hxx"
#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

class QelxEvents : public ::testing::Test {
protected:
    void SetUp() override { qelx_test::resetFramework(); }
};

TEST_F(QelxEvents, RecorderSeesFiredEventsInOrder)
{
    qelx_test::EventRecorder recorder;
    QELXStartTaskEvent::Fire("StandardRepairStart", "StandardRepair", 50);
    QELXWarningEvent::Fire("Ignoring face with invalid loop");
    QELXEndTaskEvent::Fire(QELI_OK, "StandardRepairEnd", "StandardRepair", 50, true);
    QELXStartTranslateEntityEvent::Fire("Body", "BRep", 1);

    EXPECT_EQ(recorder.sequence(),
              (std::vector<std::string>{"StartTask:StandardRepairStart", "Warning:Ignoring face with invalid loop",
                                        "EndTask:StandardRepairEnd", "StartTranslate:Body"}));
    const auto& end = recorder.records()[2];
    EXPECT_EQ(end.text, "StandardRepair");
    EXPECT_EQ(end.level, 50);
    EXPECT_TRUE(end.flag);
    EXPECT_EQ(recorder.records()[3].text, "BRep");
    EXPECT_EQ(recorder.records()[3].number, 1);
    EXPECT_TRUE(recorder.tasksNested());
}

TEST_F(QelxEvents, ConstructingAnEndTaskEventFiresNothing)
{
    qelx_test::EventRecorder recorder;
    {
        QELXEndTaskEvent unsent(QELI_OK, "End", "Task", 50, true);
        EXPECT_STREQ(unsent.GetKind(), "EndTask");
    }
    EXPECT_TRUE(recorder.records().empty());
}

TEST_F(QelxEvents, TaskNestingDetectsCrossedEnds)
{
    qelx_test::EventRecorder recorder;
    QELXStartTaskEvent::Fire("AStart", "A", 50);
    QELXStartTaskEvent::Fire("BStart", "B", 50);
    QELXEndTaskEvent::Fire(QELI_OK, "AEnd", "A", 50, true);
    QELXEndTaskEvent::Fire(QELI_OK, "BEnd", "B", 50, true);
    EXPECT_FALSE(recorder.tasksNested());
}

TEST_F(QelxEvents, StageIsPairedWithItsFinishedFiring)
{
    qelx_test::EventRecorder recorder;
    QELXStartConversionStageEvent body("Body", 3, 0.6 * 3 / 4, false);
    QELXEventBus::Fire(body);
    QELXStartConversionStageEvent point("FreePoint", 1, 0.6 / 4, false);
    QELXEventBus::GetEventBus()->Fire(point);
    point.SetFinished();
    QELXEventBus::Fire(point);
    body.SetFinished();
    QELXEventBus::Fire(body);

    const auto stages = recorder.stages();
    ASSERT_EQ(stages.size(), 2u);
    EXPECT_EQ(stages[0].name, "Body");
    EXPECT_EQ(stages[0].count, 3);
    EXPECT_DOUBLE_EQ(stages[0].weight, 0.45);
    EXPECT_TRUE(stages[0].finished);
    EXPECT_EQ(stages[1].name, "FreePoint");
    EXPECT_TRUE(stages[1].finished);
    EXPECT_EQ(recorder.count("Stage"), 4);
}

TEST_F(QelxEvents, EndTranslateCarriesSourceAndTargets)
{
    qelx_test::EventRecorder recorder;
    const QELXIdentifier source(std::uint64_t{0x10001}, "QELXBRepTypeFace", nullptr, "TestFace");
    QELXIdentifiers targets;
    targets.Add(QELXIdentifier(std::uint64_t{0xA0}, "QELXBRepTypeFace", nullptr, "FACE"));
    targets.Add(QELXIdentifier(std::uint64_t{0xB0}, "QELXBRepTypeFace", nullptr, "FACE"));
    QELXEndTranslateEntityEvent::Fire(QELI_OK, source, targets);
    QELXEndTranslateEntityEvent::Fire(QELI_OK, QELXIdentifier(std::uint64_t{7}, "EDGE", nullptr, "EDGE"),
                                      QELXIdentifier(std::uint64_t{8}, "TEDGE", nullptr, "TEDGE"));
    QELXEndTranslateEntityEvent::Fire(QELI_FAIL, source, QELXIdentifiers());

    EXPECT_EQ(recorder.targetsOf(0x10001), (std::vector<std::uint64_t>{0xA0, 0xB0}));
    EXPECT_EQ(recorder.targetsOf(7), (std::vector<std::uint64_t>{8}));
    EXPECT_EQ(recorder.records()[0].source.typeName, "TestFace");
    EXPECT_EQ(recorder.records()[2].result, 0x1000001u);
}

TEST_F(QelxEvents, ListenersMayDetachWhileAnEventIsDelivered)
{
    struct Counter : QELXEventListener {
        int seen = 0;
        void OnEvent(const QELXEvent&) override { ++seen; }
    } later;
    // Detaches itself and a listener after it: that one hears nothing more.
    struct OneShot : QELXEventListener {
        QELXEventListener* other = nullptr;
        int seen = 0;
        void OnEvent(const QELXEvent&) override
        {
            ++seen;
            QELXEventBus::GetEventBus()->RemoveListener(this);
            QELXEventBus::GetEventBus()->RemoveListener(other);
        }
    } oneShot;
    oneShot.other = &later;
    qelx_test::EventRecorder after;
    QELXEventBus::GetEventBus()->AddListener(&oneShot);
    QELXEventBus::GetEventBus()->AddListener(&later);
    QELXWarningEvent::Fire("first");
    QELXWarningEvent::Fire("second");
    EXPECT_EQ(oneShot.seen, 1);
    EXPECT_EQ(later.seen, 0);
    EXPECT_EQ(after.names("Warning"), (std::vector<std::string>{"first", "second"}));
}

TEST_F(QelxEvents, RecorderStopsListeningWhenDestroyed)
{
    qelx_test::EventRecorder outer;
    {
        qelx_test::EventRecorder inner;
        QELXProgressStatusEvent::Fire(2, 1);
        EXPECT_EQ(inner.count("ProgressStatus"), 1);
    }
    QELXConversionSummaryEvent::Fire(4, 3, "XVelm");
    EXPECT_EQ(outer.sequence().size(), 2u);
    EXPECT_EQ(outer.records()[1].total, 4);
    EXPECT_EQ(outer.records()[1].text, "XVelm");
}

TEST_F(QelxEvents, DescriptionStartsWithTheKind)
{
    QELXStringOutputStream out;
    QELXStartTaskEvent("SplineSurfaceCheck", "SplineSurfaceCheck", 50).GetFormattedDescription(&out);
    EXPECT_EQ(out.text(), "StartTask SplineSurfaceCheck SplineSurfaceCheck 50");
    EXPECT_TRUE(QELXWarningEvent("x").IsKindOf("Warning"));
    EXPECT_TRUE(QELXStartConversionTaskEvent().IsTimed());
}
