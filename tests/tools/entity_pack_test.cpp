// The driver's packed list of what a restore made: every address comes back,
// in order, however far apart neighbours lie; and a restored file's list
// deletes all the restore made.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../../tools/xvelm/entity_pack.hxx"
#include "../../tools/xvelm/save_file.hxx"
#include "support/model_builders.hxx"
#include "velm/save.hxx"

namespace {

std::vector<ENTITY*> addresses(const std::vector<std::uintptr_t>& values) {
  std::vector<ENTITY*> list;
  for (std::uintptr_t v : values) list.push_back(reinterpret_cast<ENTITY*>(v));
  return list;
}

std::vector<ENTITY*> unpacked(const xvelm::packed_entities& pack) {
  std::vector<ENTITY*> list;
  pack.for_each([&](ENTITY* e) { list.push_back(e); });
  return list;
}

}  // namespace

TEST(PackedEntities, EveryAddressComesBackInOrder) {
  const std::uintptr_t high = (std::uintptr_t(1) << 47) - 16;
  struct Case {
    const char* name;
    std::vector<std::uintptr_t> values;
  } cases[] = {
      {"empty", {}},
      {"one", {0x55550000a010}},
      {"neighbours", {0x55550000a010, 0x55550000a070, 0x55550000a0d0, 0x55550000a150}},
      {"backwards", {0x7f0000100000, 0x7f00000fff80, 0x55550000a010, 0x7f00000fff00}},
      {"repeated", {0x55550000a010, 0x55550000a010, 0x55550000a010}},
      {"far apart", {16, high, 32, high, high - 8, 0x1000}},
      {"every width", {0x80, 0x4000, 0x200000, 0x10000000, 0x800000000, 0x40000000000, high, 0}},
  };
  for (const Case& c : cases) {
    xvelm::packed_entities pack;
    std::vector<ENTITY*> list = addresses(c.values);
    pack.assign(std::vector<ENTITY*>(list));
    EXPECT_EQ(pack.size(), list.size()) << c.name;
    EXPECT_EQ(unpacked(pack), list) << c.name;
    EXPECT_LE(pack.bytes(), 8 * list.size()) << c.name;
  }
  // Neighbours a few dozen bytes apart take one or two bytes each.
  std::vector<std::uintptr_t> sheet;
  for (std::uintptr_t i = 0; i < 1000; ++i) sheet.push_back(0x555500000000 + 96 * i + (i % 3) * 16);
  xvelm::packed_entities pack;
  pack.assign(addresses(sheet));
  EXPECT_EQ(unpacked(pack), addresses(sheet));
  EXPECT_LE(pack.bytes(), 2 * sheet.size() + 8);
  // Assigning again replaces what was there.
  pack.assign(addresses({0x1000, 0x2000}));
  EXPECT_EQ(unpacked(pack), addresses({0x1000, 0x2000}));
}

TEST(PackedEntities, ARestoredFileIsDeletedWhole) {
  const long live_before = velm_live_entity_count();
  const std::string path = ::testing::TempDir() + "packed_entities.vlt";
  {
    ENTITY_LIST saved;
    saved.add(testkit::make_box(1.0, 2.0, 3.0));
    saved.add(testkit::make_wire_body(3, false));
    FILE* fp = std::fopen(path.c_str(), "w");
    ASSERT_TRUE(fp);
    ASSERT_TRUE(api_save_entity_list(fp, 1, saved).ok());
    std::fclose(fp);
    for (int i = 0; i < saved.count(); ++i) api_del_entity(saved[i]);
  }
  ASSERT_EQ(velm_live_entity_count(), live_before);
  {
    xvelm::restored_model model;
    ASSERT_TRUE(xvelm::restore_file(path.c_str(), model.top, model.every, stderr));
    EXPECT_EQ(model.top.iteration_count(), 2);
    EXPECT_EQ(static_cast<long>(model.every.size()), velm_live_entity_count() - live_before);
    model.every.for_each([](ENTITY* e) { EXPECT_TRUE(velm_is_live_entity(e)); });
  }
  EXPECT_EQ(velm_live_entity_count(), live_before);
  std::remove(path.c_str());
}
