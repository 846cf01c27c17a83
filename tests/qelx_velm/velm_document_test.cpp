// The kernel document of the framework: its native list, what it deletes,
// and the identifier cast.
#include <gtest/gtest.h>

#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/sending_unit.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "velm/attrib.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

ENTITY_LIST listOf(std::initializer_list<ENTITY*> entities) {
  ENTITY_LIST list;
  for (ENTITY* e : entities) list.add(e);
  return list;
}

}  // namespace

TEST(QELXVelmDocument, NativeListIsRewoundAndKeepsEachEntityOnce) {
  const long before = velm_live_object_count();
  {
    QELXDocumentHandle handle(new QELXVelmDocument);
    auto* doc = static_cast<QELXVelmDocument*>(handle.get());
    EXPECT_STREQ(QELXDocumentUtils::GetXType(doc).c_str(), "XVelm");
    EXPECT_STREQ(doc->GetDocumentType().c_str(), "VELM");
    BODY* box = testkit::make_box();
    BODY* sheet = testkit::make_sheet();
    ENTITY_LIST add = listOf({box, sheet, box});
    ASSERT_EQ(doc->AppendNativeEntityList(add), QELI_OK);
    ASSERT_EQ(doc->AppendNativeEntityList(&add), QELI_OK);
    EXPECT_EQ(doc->AppendNativeEntityList(nullptr), QELI_INVALID_ARG);

    ENTITY_LIST* list = static_cast<ENTITY_LIST*>(doc->GetNativeData(""));
    ASSERT_EQ(list, doc->GetNativeData("ENTITY_LIST"));
    EXPECT_EQ(doc->GetNativeData("BODY_LIST"), nullptr);
    EXPECT_EQ(list->iteration_count(), 2);
    list->next();
    list->next();
    // Asked again, the list starts from its beginning.
    EXPECT_EQ(static_cast<ENTITY_LIST*>(doc->GetNativeData(""))->next(), box);

    EXPECT_EQ(doc->RemoveEntity(sheet), QELI_OK);
    EXPECT_EQ(doc->RemoveEntity(sheet), QELI_FAIL);
    api_del_entity(sheet);

    // The document owns the box and also lists one of its faces: the box
    // goes with the document, once.
    ENTITY_LIST faces;
    api_get_faces(box, faces);
    doc->AppendNativeEntityList(faces);
    EXPECT_EQ(QELXVelmDocument::SetLoadStatus(doc, QELX_LOAD_STATUS_PARTLY_UNLOADED), QELI_OK);
    EXPECT_EQ(doc->GetLoadStatus(), QELX_LOAD_STATUS_PARTLY_UNLOADED);
  }
  EXPECT_EQ(velm_live_object_count(), before);
}

TEST(QELXVelmDocument, GivingUpTheContentKeepsTheEntities) {
  BODY* box = testkit::make_box();
  {
    QELXDocumentHandle handle(new QELXVelmDocument);
    auto* doc = static_cast<QELXVelmDocument*>(handle.get());
    ENTITY_LIST add = listOf({box});
    doc->AppendNativeEntityList(add);
    doc->HoldContent(false);
  }
  EXPECT_EQ(testkit::count_faces(box), 6);

  QELXDocumentHandle plain(new QELXDocument);
  EXPECT_EQ(QELXVelmDocument::SetLoadStatus(plain, QELX_LOAD_STATUS_PARTLY_UNLOADED), QELI_INVALID_ARG);

  // The cast answers the live entity of a word, and nothing once it is gone.
  const QELXIdentifierCastHandle cast(new QELXVelmIdentifierCast);
  const QELXIdentifier id(QELXVelmEntityUtils::GetIdentifier(box), "QELXBRepTypeBody", nullptr, "Ve_BodyTag", cast);
  EXPECT_EQ(id.GetCast()->Cast(id), box);
  api_del_entity(box);
  EXPECT_EQ(id.GetCast()->Cast(id), nullptr);
}

TEST(SendingSystemUnit, ComesFromTheRunningConversionsInput) {
  QELXUnit unit = QELX_UNIT_NONE;
  EXPECT_EQ(get_sending_system_unit(unit), QELI_FAIL);
  QELXDocumentHandle input(new QELXDocument);
  QELXConverter converter;
  converter.SetInputDocument(input);
  QELXConverter::SetCurrentContext(&converter);
  EXPECT_EQ(get_sending_system_unit(unit), QELI_FAIL);  // the input has no unit
  input->SetUnit(QELX_UNIT_INCH);
  EXPECT_EQ(get_sending_system_unit(unit), QELI_OK);
  EXPECT_EQ(unit, QELX_UNIT_INCH);
  QELXConverter::SetCurrentContext(nullptr);

  double factor = -1.0;
  EXPECT_EQ(GetUnitScaleFactor(QELX_UNIT_UNSPECIFIED, factor), QELI_FAIL);
  EXPECT_EQ(factor, -1.0);
  ASSERT_EQ(GetUnitScaleFactor(QELX_UNIT_INCH, factor), QELI_OK);
  EXPECT_DOUBLE_EQ(factor, 25.4);
}

// The kernel refusing to delete what the document holds does not keep it
// alive: its bodies and their attributes all go.
TEST(QELXVelmDocument, WhatItHoldsGoesEvenWhenTheKernelRefusesToDeleteIt) {
  const long before = velm_live_object_count();
  for (const char* failing : {"", "api_del_entity_list"}) {
    SCOPED_TRACE(failing);
    {
      QELXDocumentHandle handle(new QELXVelmDocument);
      auto* doc = static_cast<QELXVelmDocument*>(handle.get());
      BODY* box = testkit::make_box();
      BODY* cylinder = testkit::make_cylinder(1.0, 2.0);
      api_add_generic_named_attribute(box, "ATTRIB_XVELM_NAME", "box");
      ENTITY_LIST add = listOf({box, cylinder});
      doc->AppendNativeEntityList(add);
      if (*failing) velm_test_fail_call(failing, 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
    }
    EXPECT_FALSE(velm_test_injection_pending());
    velm_test_reset();
    EXPECT_EQ(velm_live_object_count(), before);
  }
}
