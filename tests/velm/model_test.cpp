// The structural checker: passes sound models, names what is broken.
#include <gtest/gtest.h>

#include "support/model_builders.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/testkit.hxx"

using namespace testkit;

TEST(CheckModel, PassesOnEveryBuilder) {
  for (BODY* b : {make_box(), make_sheet(3, 2), make_wire_body(3, false), make_wire_body(5, true),
                  make_vertex_body(), make_two_lump_body()}) {
    EXPECT_EQ(model_problems(b), "");
    EXPECT_TRUE(api_del_entity(b).ok());
  }
}

TEST(CheckModel, CatchesBrokenPartnerRing) {
  BODY* box = make_box();
  COEDGE* c = box->lump()->shell()->face()->loop()->start();
  COEDGE* partner = c->partner();
  partner->set_partner(nullptr);
  std::string report = model_problems(box);
  EXPECT_NE(report.find("partner ring"), std::string::npos) << report;
  partner->set_partner(c);
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(CheckModel, CatchesUseCountsAndForeignVertexReferences) {
  BODY* box = make_box();
  FACE* f = box->lump()->shell()->face();
  f->geometry()->add();
  EXPECT_NE(model_problems(box).find("use count 2 but 1 holders"), std::string::npos);
  f->geometry()->remove();

  COEDGE* c = f->loop()->start();
  VERTEX* v = c->start();
  EDGE* far = c->next()->next()->edge();  // the opposite side of the square
  v->add_edge(far);
  EXPECT_NE(model_problems(box).find("does not end at it"), std::string::npos);
  v->delete_edge(far);

  // A vertex whose only reference is dropped no longer reaches its edges.
  EDGE* kept = v->edge(0);
  v->delete_edge(kept);
  EXPECT_NE(model_problems(box).find("not reachable"), std::string::npos);
  v->add_edge(kept);

  c->next()->set_previous(c->next()->next());
  EXPECT_NE(model_problems(box).find("previous"), std::string::npos);
  c->next()->set_previous(c);
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
}

// Holders are counted over a whole sheet; each miscounted geometry is named
// once, in the order the walk first meets it.
TEST(CheckModel, UseCountsOverASheetNamedInTheOrderMet) {
  BODY* sheet = make_sheet(6, 5);
  EXPECT_EQ(model_problems(sheet), "");
  FACE* first = sheet->lump()->shell()->face();
  FACE* last = first;
  while (last->next()) last = last->next();
  ASSERT_NE(first->geometry(), last->geometry());
  last->geometry()->add();
  last->geometry()->add();
  first->geometry()->add();
  const std::string report = model_problems(sheet);
  const auto once = report.find("use count 2 but 1 holders"), twice = report.find("use count 3 but 1 holders");
  ASSERT_NE(once, std::string::npos) << report;
  ASSERT_NE(twice, std::string::npos) << report;
  EXPECT_LT(once, twice) << report;
  EXPECT_EQ(report.find("use count", twice + 1), std::string::npos) << report;
  first->geometry()->remove();
  last->geometry()->remove();
  last->geometry()->remove();
  EXPECT_EQ(model_problems(sheet), "");
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

// A face needs loops unless its surface has no boundary at all.
TEST(ModelCheck, LooplessFaceIsSoundOnlyOnABoundlessSurface) {
  FACE* ball = new FACE(nullptr, nullptr, make_surface(sphere(QELposition(), 2.0)), FORWARD);
  EXPECT_TRUE(velm_test_check_model(ball, nullptr));
  FACE* flat = new FACE(nullptr, nullptr, make_surface(plane(QELposition(), QELunit_vector(0, 0, 1))), FORWARD);
  std::string report;
  EXPECT_FALSE(velm_test_check_model(flat, &report));
  EXPECT_NE(report.find("no loop"), std::string::npos);
  ball->lose();
  flat->lose();
}

// The entity check tells each structural finding in the structural check's
// own words, on the entity at fault, led by the place of a loop or coedge in
// its face: a coedge cut out of every place of every loop of a sheet (the
// loop then lists fewer coedges than claim it) is said of the coedge before
// it, whose end no longer meets the next one's start.
TEST(CheckEntity, StructuralFindingsAreSaidInTheirOwnWordsOnTheEntityAtFault) {
  const int faces = 6;
  for (int f = 0; f < faces; ++f)
    for (int k = 1; k < 4; ++k) {
      BODY* sheet = make_sheet(3, 2);
      FACE* face = sheet->lump()->shell()->face();
      for (int i = 0; i < f; ++i) face = face->next();
      COEDGE* cut = face->loop()->start();
      for (int i = 0; i < k; ++i) cut = cut->next();
      COEDGE* before = cut->previous();
      before->set_next(cut->next());
      cut->next()->set_previous(before);
      insanity_list* findings = nullptr;
      ASSERT_TRUE(api_check_entity(sheet, findings).ok());
      ASSERT_NE(findings, nullptr);
      const insanity_data* first = findings->count() > 0 ? findings->data(0) : nullptr;
      ASSERT_NE(first, nullptr) << "face " << f << ", coedge " << k;
      EXPECT_EQ(first->get_insane_id(), qelvelm_insanity_errmod.message_code(insanity_bad_owner));
      EXPECT_EQ(first->get_ent(), before) << "face " << f << ", coedge " << k;
      EXPECT_EQ(std::string(first->get_message()),
                "loop 0, coedge " + std::to_string(k - 1) + ": end vertex is not the next coedge's start vertex");
      delete findings;
      // Put back, so that the body's deletion walks a sound ring.
      before->set_next(cut);
      cut->next()->set_previous(cut);
      EXPECT_EQ(model_problems(sheet), "");
      EXPECT_TRUE(api_del_entity(sheet).ok());
    }
}
