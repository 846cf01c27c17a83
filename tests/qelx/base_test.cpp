#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_refcount.hxx"
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_string.hxx"
#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

#include <cstring>

TEST(QelxResult, AndAssignKeepsFirstFailure)
{
    QELIResult r;
    EXPECT_EQ(r, 0u);
    r &= QELI_OK;
    EXPECT_EQ(r, QELI_OK);
    r &= QELI_NOTHING;
    EXPECT_EQ(r, QELI_NOTHING);
    r &= QELI_FAIL;
    EXPECT_EQ(r, QELI_NOTHING) << "the first non-zero code stays";
    QELIResult s = QELI_OK;
    s &= QELI_INVALID_ARG;
    s &= QELI_OK;
    EXPECT_EQ(s, 0x100000bu);
}

TEST(QelxString, WideAndNarrowRoundTrip)
{
    const char* utf8 = "Fl\xC3\xA4" "che \xE2\x82\xAC \xF0\x9F\x98\x80"; // a-umlaut, euro, one astral char
    QELXString narrow(utf8);
    const wchar_t* wide = narrow.getWChars();
    EXPECT_EQ(std::wstring(wide), std::wstring(L"Fl\u00E4che \u20AC \U0001F600"));
    QELXString back(wide);
    EXPECT_TRUE(back.equals(narrow));
    EXPECT_EQ(back.length(), static_cast<int>(std::strlen(utf8)));
}

TEST(QelxString, InvalidBytesBecomeReplacementCharacters)
{
    // A truncated sequence, a lone continuation byte, an overlong slash.
    EXPECT_EQ(qelxUtf8ToWide("a\xE2\x82"), std::wstring(L"a\uFFFD\uFFFD"));
    EXPECT_EQ(qelxUtf8ToWide("\x80z"), std::wstring(L"\uFFFDz"));
    EXPECT_EQ(qelxUtf8ToWide("\xC0\xAF"), std::wstring(L"\uFFFD\uFFFD"));
    const wchar_t surrogate[] = {static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(qelxWideToUtf8(surrogate), "\xEF\xBF\xBD");
}

TEST(QelxString, RawBytesArePassedThroughNarrowAccess)
{
    // Warning texts carry bytes that are not UTF-8; narrow access must not touch them.
    QELXString text("quote\x94\n");
    EXPECT_EQ(text.length(), 7);
    EXPECT_STREQ(text.c_str(), "quote\x94\n");
}

TEST(QelxString, ConcatenationComparisonAndBufferCopy)
{
    QELXString type("XVelm");
    QELXString key = "/" + type + "/" + QELXString("UseSurfaceLimits");
    EXPECT_STREQ(key.c_str(), "/XVelm/UseSurfaceLimits");
    key += key; // appending itself
    EXPECT_STREQ(key.c_str(), "/XVelm/UseSurfaceLimits/XVelm/UseSurfaceLimits");

    EXPECT_LT(QELXString("abc").compareTo("abd"), 0);
    EXPECT_GT(QELXString("abc").compareTo("ab"), 0);
    EXPECT_EQ(QELXString("abc").compareTo("abc"), 0);
    EXPECT_FALSE(QELXString("Abc").equals("abc"));
    EXPECT_TRUE(QELXString().isEmpty());
    EXPECT_TRUE(QELXString(static_cast<const char*>(nullptr)).equals(""));

    char buffer[4];
    QELXString("abcdef").getChars(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "abc");
}

TEST(QelxString, WideCacheFollowsChanges)
{
    QELXString text("a");
    EXPECT_STREQ(text.getWChars(), L"a");
    text += "b";
    EXPECT_STREQ(text.getWChars(), L"ab");
    QELXString moved(std::move(text));
    EXPECT_STREQ(moved.getWChars(), L"ab");
}

namespace {

struct Counted : QELXReferenceCount {
    explicit Counted(int& deletions) : deletions(deletions) {}
    ~Counted() override { ++deletions; }
    int& deletions;
};
using CountedHandle = QELXTypedHandle<Counted>;

} // namespace

TEST(QelxReferenceCount, LastHandleDeletesExactlyOnce)
{
    int deletions = 0;
    {
        CountedHandle a(new Counted(deletions));
        EXPECT_EQ(a->GetReferenceCount(), 1);
        CountedHandle b(a);
        CountedHandle c;
        c = b;
        EXPECT_EQ(a->GetReferenceCount(), 3);
        EXPECT_TRUE(a == c);
        b = CountedHandle();
        EXPECT_FALSE(b.IsValid());
        EXPECT_EQ(a->GetReferenceCount(), 2);
        c = c; // self-assignment keeps the object
        EXPECT_EQ(a->GetReferenceCount(), 2);
        EXPECT_EQ(deletions, 0);
    }
    EXPECT_EQ(deletions, 1);
}

TEST(QelxReferenceCount, ReassignmentReleasesTheOldObject)
{
    int first = 0, second = 0;
    CountedHandle h(new Counted(first));
    h = new Counted(second);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    h = nullptr;
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(h == nullptr);
}

TEST(QelxReferenceCount, AssigningAHandleFromItsOwnObjectsMemberKeepsItAlive)
{
    // The new object is raised before the old one is lowered.
    struct Node : QELXReferenceCount {
        QELXTypedHandle<Node> next;
    };
    QELXTypedHandle<Node> head(new Node);
    head->next = new Node;
    Node* second = head->next;
    head = head->next; // the old head held the only reference to second
    EXPECT_EQ(head.get(), second);
    EXPECT_EQ(second->GetReferenceCount(), 1);
}

TEST(QelxReferenceCount, LoweringAnUnsharedObjectIsReportedNotDeleted)
{
    qelx_test::AssertRecorder asserts;
    int deletions = 0;
    Counted onStack(deletions);
    EXPECT_EQ(onStack.LowerReference(), 0);
    EXPECT_EQ(deletions, 0);
    EXPECT_EQ(asserts.count(), 1);
    EXPECT_EQ(asserts.records()[0].source, "qelx_refcount");
}

TEST(QelxReferenceCount, CopiedObjectStartsUnshared)
{
    int deletions = 0;
    CountedHandle h(new Counted(deletions));
    Counted copy(*h);
    EXPECT_EQ(copy.GetReferenceCount(), 0);
}
