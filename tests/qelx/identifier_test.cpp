#include "qelx/qelx_identifier.hxx"

#include <gtest/gtest.h>

namespace {

struct NativeCast : QELXIdentifierCast {
    void* Cast(const QELXIdentifier& id) const override { return id.GetEntityPointer(); }
};

} // namespace

TEST(QelxIdentifier, ValidityAndEqualityUseWordAndType)
{
    EXPECT_FALSE(QELXIdentifier().IsValid());
    EXPECT_FALSE(QELXIdentifier(0, "QELXBRepTypeFace", nullptr, "Ve_FaceTag").IsValid());

    int native = 0;
    const QELXIdentifier face(&native, "QELXBRepTypeFace", nullptr, "Ve_FaceTag");
    EXPECT_TRUE(face.IsValid());
    EXPECT_EQ(face.GetEntityPointer(), &native);
    EXPECT_TRUE(face == QELXIdentifier(&native, "QELXBRepTypeFace", nullptr, "FACE"));
    EXPECT_FALSE(face == QELXIdentifier(&native, "QELXBRepTypeEdge", nullptr, "Ve_FaceTag"));

    QELXIdentifier copy = face;
    copy.SetTypeName("body");
    copy.SetEntityPointer(nullptr);
    EXPECT_FALSE(copy.IsValid());
    EXPECT_STREQ(copy.GetTypeName(), "body");
    EXPECT_STREQ(face.GetTypeName(), "Ve_FaceTag");
}

TEST(QelxIdentifier, CastIsSharedByCopies)
{
    int native = 0;
    QELXIdentifierCastHandle cast(new NativeCast);
    QELXIdentifiers ids;
    ids.Add(QELXIdentifier(&native, "ENTITY", nullptr, "ENTITY", cast));
    ids.Add(ids[0]);
    EXPECT_EQ(ids.Count(), 2);
    EXPECT_EQ(cast->GetReferenceCount(), 3);
    EXPECT_EQ(ids[1].GetCast()->Cast(ids[1]), &native);
    ids.Clear();
    EXPECT_EQ(cast->GetReferenceCount(), 1);
}
