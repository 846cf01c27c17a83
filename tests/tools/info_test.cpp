// `xvelm info` on the shipped example and on files it must refuse.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "../../tools/xvelm/info.hxx"
#include "persist/persistent_class.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_part.hxx"
#include "support/model_builders.hxx"
#include "support/save_file_words.hxx"

namespace {
const std::string example = std::string(XVELM_EXAMPLES_DIR) + "/two_bodies.vlt";

// The example's model: a named box with a coloured top face on layer 3 (its
// layer number and the layer's group, as an import makes them), and a named
// three-edge wire.
ENTITY_LIST build_example() {
  BODY* box = testkit::make_box(10.0, 20.0, 30.0);
  api_add_generic_named_attribute(box, "ATTRIB_XVELM_NAME", "box");
  FACE* top = box->lump()->shell()->face()->next();
  new ATTRIB_RGB(top, 1.0, 0.0, 0.0);
  api_add_generic_named_attribute(top, "ATTRIB_XVELM_LAYER", 3);
  auto* layer = new QELGROUP;
  api_add_generic_named_attribute(layer, "ATTRIB_XVELM_NAME", "layer 3");
  api_add_generic_named_attribute(layer, "QELATTRIB_GROUP_TYPE", 0);  // a layer
  api_add_generic_named_attribute(layer, "QELATTRIB_ID", 3);
  api_ct_add_to_group(top, layer);
  BODY* wire = testkit::make_wire_body(3, false);
  api_add_generic_named_attribute(wire, "ATTRIB_XVELM_NAME", "wire");
  api_add_generic_named_attribute(wire->wire()->coedge()->edge(), "length", 10.0);
  ENTITY_LIST list;
  list.add(box);
  list.add(wire);
  list.add(layer);
  return list;
}

void save(const ENTITY_LIST& list, const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "w");
  ASSERT_NE(fp, nullptr);
  EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
  std::fclose(fp);
}

// Output of xvelm::info without its first line (which names the file).
std::string run_info(const std::string& path, int& status) {
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
  std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
  status = xvelm::info(path.c_str(), out.get(), err.get());
  auto read = [](FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  };
  std::string text = read(out.get());
  return text.substr(std::min(text.size(), text.find('\n') + 1));
}
}  // namespace

// Set XVELM_WRITE_EXAMPLES=1 to write the example afresh with the kernel's own save.
TEST(InfoExample, ShippedFileDescribesTheExampleModel) {
  long live = velm_live_entity_count();
  ENTITY_LIST model = build_example();
  if (const char* w = std::getenv("XVELM_WRITE_EXAMPLES"); w && *w == '1') save(model, example);
  std::string fresh = ::testing::TempDir() + "xvelm_info_fresh_" + std::to_string(::getpid()) + ".vlt";
  save(model, fresh);
  ASSERT_TRUE(api_del_entity_list(model).ok());

  int status = -1;
  std::string shipped = run_info(example, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(shipped, run_info(fresh, status));
  EXPECT_NE(shipped.find("lumps 1, shells 1, faces 6, loops 6, coedges 24, edges 12, vertices 8, wires 0"),
            std::string::npos)
      << shipped;
  EXPECT_NE(shipped.find("lumps 0, shells 0, faces 0, loops 0, coedges 3, edges 3, vertices 4, wires 1"),
            std::string::npos);
  EXPECT_NE(shipped.find("body 0: string \"ATTRIB_XVELM_NAME\" = box"), std::string::npos) << shipped;
  EXPECT_NE(shipped.find("face 1: rgb 1 0 0\n"), std::string::npos);
  EXPECT_NE(shipped.find("face 1: integer \"ATTRIB_XVELM_LAYER\" = 3"), std::string::npos);
  EXPECT_NE(shipped.find("edge 0: real \"length\" = 10"), std::string::npos);
  EXPECT_NE(shipped.find("group with 1 members"), std::string::npos);
  EXPECT_EQ(velm_live_entity_count(), live);  // info deletes what it restored
  std::remove(fresh.c_str());
}

namespace {

// Two boxes placed by one assembly: deleting the assembly deletes them body by body.
std::string assembly_file() {
  registerPersistentClasses();
  auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
  assembly->appendPart(new VE_PART(testkit::make_box(1, 2, 3), QELtransf()));
  assembly->appendPart(new VE_PART(testkit::make_box(4, 5, 6), QELtransf()));
  ENTITY_LIST list;
  list.add(assembly);
  FILE* fp = std::tmpfile();
  EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
  std::rewind(fp);
  std::string text;
  for (int c; (c = std::fgetc(fp)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(fp);
  Ve_AssemDeleteMgr tree(assembly);
  tree.loseAssem();
  return text;
}

}  // namespace

// Damage that makes two bodies share an entity, or that leaves an assembly's
// deletion to meet a freed one, is refused before anything is deleted body
// by body; whatever is accepted is deleted without a read after free.
TEST(InfoDamagedAssemblies, SharingAcrossBodiesIsRefusedAndNothingIsReadAfterItIsFreed) {
  using testkit::SaveFileWords;
  const std::string text = assembly_file();
  const SaveFileWords original = SaveFileWords::parse(text);
  const struct {
    const char* name;
    void (*damage)(SaveFileWords&);
    const char* said;  // "" when the file may be accepted
  } cases[] = {
      {"an edge ending at the other body's vertex",
       [](SaveFileWords& f) {
         enum { edge_start = 1 };
         const int second_body = f.find("body", f.find("body"));
         int last = -1;
         for (int r = f.find("edge"); r >= 0; r = f.find("edge", r))
           if (SaveFileWords::target(f.records[r][f.links(r)[edge_start]]) < r) last = r;
         ASSERT_GT(last, second_body);
         // The first body's vertex at the second body's edge.
         f.records[last][f.links(last)[edge_start]] = SaveFileWords::link_to(f.find("vertex"));
       },
       "belongs to two bodies"},
      {"a duplicated assembly record",
       [](SaveFileWords& f) {
         const int copy = f.duplicate_record(f.find("ve_assembly"));
         f.header[3] = "2";
         std::swap(f.records[1], f.records[copy]);
       },
       ""},
      {"a deleted loop record", [](SaveFileWords& f) { f.erase_record(f.find("loop")); }, ""},
  };
  const long live = velm_live_entity_count();
  for (const auto& c : cases) {
    SaveFileWords f = original;
    c.damage(f);
    const std::string path = ::testing::TempDir() + "xvelm_info_shared_" + std::to_string(::getpid()) + ".vlt";
    std::ofstream(path, std::ios::binary) << f.text();
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
    const int status = xvelm::info(path.c_str(), out.get(), err.get());
    std::rewind(err.get());
    std::string said;
    for (int ch; (ch = std::fgetc(err.get())) != EOF;) said.push_back(static_cast<char>(ch));
    if (*c.said) {
      EXPECT_EQ(status, 1) << c.name;
      EXPECT_NE(said.find(c.said), std::string::npos) << c.name << ": " << said;
    }
    EXPECT_EQ(velm_live_entity_count(), live) << c.name;
    std::remove(path.c_str());
  }
}

// Whatever the kernel's save writes of a shipped example, its restore reads
// back, and saves again to the same records: the save refuses what the
// restore would refuse, so a model that restored saves and restores again.
TEST(InfoExample, EveryShippedSaveFileSavesAndRestoresAgain) {
  registerPersistentClasses();
  const long live = velm_live_entity_count();
  for (const char* name : {"two_bodies.vlt", "shapes.vlt"}) {
    SCOPED_TRACE(name);
    const std::string path = std::string(XVELM_EXAMPLES_DIR) + "/" + name;
    std::string first;
    {
      xvelm::restored_model model;
      ASSERT_TRUE(xvelm::restore_file(path.c_str(), model.top, model.every, stderr));
      std::unique_ptr<FILE, int (*)(FILE*)> saved(std::tmpfile(), &std::fclose);
      ASSERT_TRUE(api_save_entity_list(saved.get(), 1, model.top).ok()) << velm_last_save_refusal();
      std::rewind(saved.get());
      for (int c; (c = std::fgetc(saved.get())) != EOF;) first.push_back(static_cast<char>(c));
    }
    const std::string again = ::testing::TempDir() + "xvelm_again_" + std::to_string(::getpid()) + ".vlt";
    std::ofstream(again, std::ios::binary) << first;
    {
      xvelm::restored_model model;
      EXPECT_TRUE(xvelm::restore_file(again.c_str(), model.top, model.every, stderr));
      std::unique_ptr<FILE, int (*)(FILE*)> saved(std::tmpfile(), &std::fclose);
      EXPECT_TRUE(api_save_entity_list(saved.get(), 1, model.top).ok()) << velm_last_save_refusal();
      std::rewind(saved.get());
      std::string second;
      for (int c; (c = std::fgetc(saved.get())) != EOF;) second.push_back(static_cast<char>(c));
      // The records alike (the header carries the date).
      const auto records = [](const std::string& text) { return text.substr(text.find('\n', text.find('\n') + 1)); };
      EXPECT_EQ(records(second), records(first));
    }
    std::remove(again.c_str());
  }
  EXPECT_EQ(velm_live_entity_count(), live);
}
