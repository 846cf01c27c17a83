// The driver's packed list of what a restore made: every address comes back,
// in order, however far apart neighbours lie; and a restored file's list
// deletes all the restore made.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/xvelm/entity_pack.hxx"
#include "../../tools/xvelm/save_file.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_part.hxx"
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
  const std::string path = ::testing::TempDir() + "packed_entities_" + std::to_string(::getpid()) + ".vlt";
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

namespace {

// The records of a save file's text: the head (up to the first record) and
// each record "-N ...", as the restore numbers them.
struct SaveRecords {
  std::string head;
  std::vector<std::string> records;
};

SaveRecords saveRecords(const std::string& text) {
  SaveRecords split;
  std::size_t at = text.find("\n-0 ");
  split.head = text.substr(0, at + 1);
  for (at += 1; at < text.size();) {
    std::size_t next = text.find("\n-", at);
    next = next == std::string::npos ? text.size() : next + 1;
    split.records.push_back(text.substr(at, next - at));
    at = next;
  }
  return split;
}

// The file with record `gone` deleted as a damaged copy loses it: the later
// records numbered down, links to it made none, the head's count one less
// (and its top-level count too when the record was one).
std::string withoutRecord(const std::string& text, std::size_t gone) {
  const SaveRecords split = saveRecords(text);
  std::istringstream head(split.head);
  std::string magic, version, count, top, rest;
  head >> magic >> version >> count >> top;
  std::getline(head, rest, '\0');
  const long tops = std::stol(top) - (gone < static_cast<std::size_t>(std::stol(top)) ? 1 : 0);
  std::string out = magic + " " + version + " " + std::to_string(std::stol(count) - 1) + " " + std::to_string(tops) + rest;
  for (std::size_t i = 0; i < split.records.size(); ++i) {
    if (i == gone) continue;
    const std::string& r = split.records[i];
    std::string body = r.substr(r.find(' '));
    std::string relinked;
    for (std::size_t at = 0; at < body.size();) {
      const std::size_t link = body.find('$', at);
      if (link == std::string::npos) {
        relinked += body.substr(at);
        break;
      }
      std::size_t end = link + 1;
      while (end < body.size() && (std::isdigit(static_cast<unsigned char>(body[end])) || body[end] == '-')) ++end;
      const long to = std::stol(body.substr(link + 1, end - link - 1));
      const long now = to == static_cast<long>(gone) ? -1 : to - (to > static_cast<long>(gone) ? 1 : 0);
      relinked += body.substr(at, link - at) + "$" + std::to_string(now);
      at = end;
    }
    out += "-" + std::to_string(i - (i > gone ? 1 : 0)) + relinked;
  }
  return out;
}

}  // namespace

// A damaged file may leave entities outside the body whose deletion frees
// what they link to: with a face's loop record gone, the loop's coedges stay
// on the edges of a box an assembly places. Deleting what the restore made
// (the assembly tree first, then the rest) must never reach an entity the
// tree's deletion freed; every loop record of the file is deleted in turn,
// and each restore that is accepted deletes whole, leaving nothing alive.
TEST(PackedEntities, ADamagedFileWithAnAssemblyIsDeletedWithoutReachingWhatItFreed) {
  const long entities = velm_live_entity_count(), objects = velm_live_object_count();
  const std::string path = ::testing::TempDir() + "packed_entities_damaged_" + std::to_string(::getpid()) + ".vlt";
  std::string text;
  {
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    assembly->appendPart(new VE_PART(testkit::make_box(), QELtransf()));
    ENTITY_LIST saved;
    saved.add(testkit::make_box(1.0, 2.0, 3.0));
    saved.add(assembly);
    FILE* fp = std::fopen(path.c_str(), "w+");
    ASSERT_TRUE(fp);
    ASSERT_TRUE(api_save_entity_list(fp, 1, saved).ok());
    std::rewind(fp);
    for (int c; (c = std::fgetc(fp)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(fp);
    api_del_entity(saved[0]);
    Ve_AssemDeleteMgr tree(assembly);
    tree.loseAssem();
  }
  ASSERT_EQ(velm_live_entity_count(), entities);
  const SaveRecords split = saveRecords(text);
  int loops = 0, accepted = 0;
  for (std::size_t i = 0; i < split.records.size(); ++i) {
    if (split.records[i].find(" loop ") == std::string::npos) continue;
    SCOPED_TRACE("loop record " + std::to_string(i));
    ++loops;
    std::ofstream(path, std::ios::binary) << withoutRecord(text, i);
    {
      xvelm::restored_model model;
      std::FILE* err = std::tmpfile();
      accepted += xvelm::restore_file(path.c_str(), model.top, model.every, err);
      std::fclose(err);
    }
    set_global_error_info(nullptr);  // a refusal's record
    EXPECT_EQ(velm_live_entity_count(), entities);
    EXPECT_EQ(velm_live_object_count(), objects);
  }
  EXPECT_EQ(loops, 12);
  std::printf("[ restored ] %d of %d files without a loop record\n", accepted, loops);
  std::remove(path.c_str());
}
