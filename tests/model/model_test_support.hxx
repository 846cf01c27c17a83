// Small helpers shared by the model tests.
#pragma once

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "support/model_builders.hxx"
#include "velm/testkit.hxx"

// A view is the kernel entity seen through the connector's class.
template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

// A kernel body deleted at the end of the scope.
struct Owned {
    BODY* body;
    ~Owned() { api_del_entity(body); }
    operator BODY*() const { return body; }
    BODY* operator->() const { return body; }
};
template <class View>
View* as(const Owned& o)
{
    return reinterpret_cast<View*>(o.body);
}

inline FACE* firstFace(const BODY* b) { return b->lump()->shell()->face(); }
inline int apiError(int index) { return qelvelm_api_errmod.message_code(index); }
inline int apiFailure() { return apiError(VELM_API_FAILED); }

// Entities in order, compared by address.
using Seq = std::vector<const void*>;
inline Seq seqOf(const ENTITY_LIST& l)
{
    Seq s;
    for (int i = 0; i < l.count(); ++i)
        s.push_back(l[i]);
    return s;
}
template <class T>
Seq seqOf(const QELXDynamicArray<T*>& a)
{
    return Seq(a.begin(), a.end());
}

// A view's count, indexed access and (when given) list agree with the
// expected entities; indices outside give null.
template <class V, class T>
void expectIndexed(const V* v, int (V::*count)() const, T* (V::*at)(int) const,
                   std::type_identity_t<QELXDynamicArray<T*> (V::*)() const> list, const Seq& expected)
{
    const int n = static_cast<int>(expected.size());
    ASSERT_EQ((v->*count)(), n);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(static_cast<const void*>((v->*at)(i)), expected[i]) << i;
    EXPECT_EQ((v->*at)(n), nullptr);
    EXPECT_EQ((v->*at)(-1), nullptr);
    if (list) {
        EXPECT_EQ(seqOf((v->*list)()), expected);
    }
}

// Takes the wire of a fresh one-wire body and deletes the emptied carrier.
inline WIRE* takeWire(BODY* carrier)
{
    WIRE* w = carrier->wire();
    carrier->set_wire(nullptr);
    w->set_body(nullptr);
    api_del_entity(carrier);
    return w;
}

// Hangs the wire off the body, beside its lumps.
inline WIRE* addWire(BODY* body, WIRE* w)
{
    w->set_body(body);
    body->set_wire(w);
    return w;
}

// Empties the document's caches before and after the test.
class CachesCleared : public ::testing::Test {
protected:
    void SetUp() override { Ve_DocumentTag::ClearCaches(); }
    void TearDown() override { Ve_DocumentTag::ClearCaches(); }
};
