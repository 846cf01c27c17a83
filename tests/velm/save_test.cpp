#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <unistd.h>

#include "entity_test_node.hxx"
#include "velm/bb.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

using namespace velm_test;

namespace {

class SaveFiles : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    entities_ = velm_live_entity_count();
  }
  void TearDown() override {
    EXPECT_EQ(velm_live_entity_count(), entities_);
    KernelTest::TearDown();
  }
  // Loses everything reachable from the list (a mutated file may link it any
  // way), inside a frame so that cyclic links never meet a freed entity.
  static void lose_all(ENTITY_LIST& l) {
    ENTITY_LIST all;
    all.add(l);
    for (int i = 0; i < all.count(); ++i)
      if (ENTITY* e = all[i]) e->copy_scan(all);
    api_bb_begin(true);
    for (int i = 0; i < all.count(); ++i)
      if (ENTITY* e = all[i]; e && velm_is_live_entity(e)) e->lose();
    api_bb_end(outcome(), true, false);
  }
  // A leaf -> node -> node chain with awkward values, saved as one top-level list.
  std::string saved_model() {
    TLEAF* leaf = new TLEAF;
    TNODE* mid = new TNODE(1.0 / 3.0, -17);
    TNODE* end = new TNODE(-0.0, 2147483647);
    leaf->set_value(DBL_MIN / 8);  // subnormal
    leaf->set_name("a # b @3 x");
    leaf->set_note("note with # inside");
    mid->set_name("");
    leaf->set_link(mid);
    mid->set_link(end);
    EE_LIST* group = new EE_LIST(0);
    group->add(leaf);
    group->add(end);
    ENTITY_LIST top;
    top.add(leaf);
    top.add(group);
    memfile f;
    EXPECT_TRUE(api_save_entity_list(f.fp, 1, top).ok());
    group->lose();
    leaf->lose();
    return f.text();
  }
  static outcome restore(const std::string& text, ENTITY_LIST& out) { return restore_text(text, out); }
  long entities_ = 0;
};

template <class T>
bool same_bits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(SaveFiles, RoundTripKeepsClassesValuesLinksAndUseCounts) {
  FileInfo info;
  info.set_product_id("xvelm test");
  info.set_units(25.4);
  ASSERT_TRUE(api_set_file_info(FileInfo_product_id | FileInfo_units, info).ok());
  std::string text = saved_model();
  EXPECT_EQ(text.rfind("VELM-TEXT 2000 4 2\n", 0), 0u) << text;
  // The restore, not what was set before, gives the file information.
  FileInfo other;
  other.set_product_id("other");
  other.set_units(1.0);
  ASSERT_TRUE(api_set_file_info(FileInfo_product_id | FileInfo_units, other).ok());

  ENTITY_LIST out;
  ASSERT_TRUE(restore(text, out).ok()) << text;
  ASSERT_EQ(out.count(), 2);
  ASSERT_TRUE(is_TLEAF(out[0]));
  ASSERT_TRUE(is_EE_LIST(out[1]));
  auto* leaf = static_cast<TLEAF*>(out[0]);
  auto* group = static_cast<EE_LIST*>(out[1]);
  EXPECT_TRUE(same_bits(leaf->value(), DBL_MIN / 8));
  EXPECT_STREQ(leaf->name(), "a # b @3 x");
  EXPECT_STREQ(leaf->note(), "note with # inside");
  TNODE* mid = leaf->link();
  ASSERT_TRUE(is_TNODE(mid));
  EXPECT_FALSE(is_TLEAF(mid));
  EXPECT_TRUE(same_bits(mid->value(), 1.0 / 3.0));
  EXPECT_EQ(mid->tag(), -17);
  TNODE* end = mid->link();
  ASSERT_NE(end, nullptr);
  EXPECT_TRUE(same_bits(end->value(), -0.0));
  EXPECT_EQ(end->tag(), 2147483647);
  EXPECT_EQ(end->link(), nullptr);
  EXPECT_EQ(mid->use_count(), 1);
  EXPECT_EQ(end->use_count(), 1);
  EXPECT_EQ(group->list().iteration_count(), 2);
  EXPECT_EQ((*group)[0], leaf);
  EXPECT_EQ((*group)[1], end);

  FileInfo back;
  ASSERT_TRUE(api_get_file_info(back).ok());
  EXPECT_EQ(back.version(), 2000);
  EXPECT_STREQ(back.product_id(), "xvelm test");
  EXPECT_EQ(back.units(), 25.4);
  group->lose();
  leaf->lose();
}

TEST_F(SaveFiles, EntityIdsTravelWithTheFile) {
  TNODE* n = new TNODE;
  int id = 0;
  ASSERT_TRUE(api_get_entity_id(n, id).ok());
  memfile f;
  ASSERT_TRUE(save_entity_on_file(f.fp, n, 1));
  n->lose();
  ENTITY_LIST out;
  ASSERT_TRUE(restore(f.text(), out).ok());
  EXPECT_EQ(out[0]->entity_id(), id);
  TNODE* fresh = new TNODE;
  int next = 0;
  ASSERT_TRUE(api_get_entity_id(fresh, next).ok());
  EXPECT_GT(next, id);
  fresh->lose();
  lose_all(out);
  // A number beyond any the kernel hands out is damage, and numbering goes on.
  std::string text = f.text();
  // The number follows the attribute link of the entity's record.
  const std::string mark = " $-1 " + std::to_string(id) + " ";
  const auto at = text.find(mark, text.find("tnode"));
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, mark.size(), " $-1 2147483647 ");
  ENTITY_LIST none;
  EXPECT_EQ(restore(text, none).error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED));
  TNODE* later = new TNODE;
  int after = 0;
  EXPECT_TRUE(api_get_entity_id(later, after).ok());
  EXPECT_GT(after, next);
  later->lose();
}

TEST_F(SaveFiles, UnknownLeafFallsBackToItsRegisteredBase) {
  // A leaf class this process does not know; its own fields (a literal
  // holding '#', an integer) are skipped.
  std::string text = saved_model();
  std::string::size_type at = text.find("tleaf 2");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 7, "tgone 2");
  ENTITY_LIST out;
  ASSERT_TRUE(restore(text, out).ok()) << text;
  ASSERT_TRUE(is_TNODE(out[0]));
  EXPECT_FALSE(is_TLEAF(out[0]));
  EXPECT_STREQ(static_cast<TNODE*>(out[0])->name(), "a # b @3 x");
  EXPECT_NE(static_cast<TNODE*>(out[0])->link(), nullptr);
  lose_all(out);
}

TEST_F(SaveFiles, RecordOfNoRegisteredClassIsRefusedCleanly) {
  std::string text = saved_model();
  std::string::size_type at = text.find("tnode 1");
  text.replace(at, 7, "tnope 1");
  text.replace(text.find("tnode 1", at + 1), 7, "tnope 1");
  ENTITY_LIST out;
  outcome o = restore(text, out);
  EXPECT_EQ(o.error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_UNKNOWN_CLASS));
  EXPECT_EQ(out.count(), 0);
}

TEST_F(SaveFiles, EveryTruncationIsRefusedWithoutLeaks) {
  std::string text = saved_model();
  int refused = 0;
  for (std::size_t n = 0; n + 1 < text.size(); ++n) {
    ENTITY_LIST out;
    outcome o = restore(text.substr(0, n), out);
    if (o.ok()) {
      lose_all(out);
      continue;
    }
    ++refused;
    EXPECT_EQ(out.count(), 0);
    EXPECT_EQ(velm_live_entity_count(), entities_);
  }
  // Only a cut in the final record's trailing blank may still read as whole.
  EXPECT_GE(refused, static_cast<int>(text.size()) - 3);
}

TEST_F(SaveFiles, DamagedFieldsAndLinksToAnotherClassAreRefused) {
  std::string text = saved_model();
  auto damaged = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    std::string::size_type at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    t.replace(at, from.size(), to);
    ENTITY_LIST out;
    outcome o = restore(t, out);
    EXPECT_EQ(o.error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED)) << to;
    lose_all(out);
  };
  damaged("VELM-TEXT 2000 4", "VELM-TEXT 2000 900000000");  // absurd record count
  damaged("$2 ", "$4 ");                                     // pointer past the last record
  damaged("$2 ", "$-2 ");
  damaged("@10 a # b @3 x", "@99999 a # b @3 x");            // literal longer than the file
  damaged("-17", "-1x7");                                    // bad integer
  damaged("#\n-1 ", "\n-1 ");                                // missing '#'
  damaged("-1 eelist 1", "-2 eelist 1");                     // records out of order
  damaged("tleaf 2 tnode 1", "tleaf 3 tnode 1");             // broken level chain
  damaged("0.33333333333333331", "nan");                     // reals the kernel never writes
  damaged("0.33333333333333331", "-inf");
  // The middle node's link pointed at the end node (record 3); a link to the
  // list is damage, not a cast.
  damaged("-17 $3 ", "-17 $1 ");
}

TEST_F(SaveFiles, RandomMutationsNeverCrashOrLeak) {
  std::string text = saved_model();
  std::mt19937 rng(20240607);
  const char alphabet[] = "0123456789-$@# .eE+tnodel\n";
  int accepted = 0;
  for (int round = 0; round < 400; ++round) {
    std::string t = text;
    int edits = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < edits; ++k) {
      std::size_t at = rng() % t.size();
      switch (rng() % 3) {
        case 0: t[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
        case 1: t.erase(at, 1 + rng() % 4); break;
        default: t.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
      }
      if (t.empty()) t = "x";
    }
    ENTITY_LIST out;
    if (restore(t, out).ok()) {
      ++accepted;
      lose_all(out);
    } else {
      EXPECT_EQ(out.count(), 0);
    }
    ASSERT_EQ(velm_live_entity_count(), entities_) << t;
  }
  EXPECT_LT(accepted, 400);
}

TEST_F(SaveFiles, TransformEntityRoundTripsBitExact) {
  QELtransf t = rotate_transf(0.3, QELvector(1.0, 2.0, 3.0)) * translate_transf(QELvector(0.1, -2.5, 1e-7)) *
                scale_transf(1.0 / 3.0);
  TRANSFORM* saved = new TRANSFORM(t);
  memfile f;
  ASSERT_TRUE(save_entity_on_file(f.fp, saved, 1));
  saved->lose();
  ENTITY_LIST out;
  ASSERT_TRUE(restore(f.text(), out).ok());
  ASSERT_TRUE(is_TRANSFORM(out[0]));
  const QELtransf& back = static_cast<TRANSFORM*>(out[0])->transform();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(same_bits(back.translation()[i], t.translation()[i]));
    for (int j = 0; j < 3; ++j) EXPECT_TRUE(same_bits(back.affine().element(i, j), t.affine().element(i, j)));
  }
  EXPECT_TRUE(same_bits(back.scaling(), t.scaling()));
  EXPECT_EQ(back.reflect(), t.reflect());
  lose_all(out);
}

// Reals are written with 17 significant digits, as "%.17g" writes them.
TEST_F(SaveFiles, RealsAreWrittenWithSeventeenDigits) {
  const double values[] = {1.0 / 3.0, -0.0, 1e300, -2.5e-310, 0.1, 123456789012345678.0, 1.0};
  for (double value : values) {
    TNODE* n = new TNODE(value, 0);
    memfile f;
    ASSERT_TRUE(save_entity_on_file(f.fp, n, 1));
    n->lose();
    char expected[40];
    std::snprintf(expected, sizeof expected, " %.17g ", value);
    EXPECT_NE(f.text().find(expected), std::string::npos) << expected << " in " << f.text();
  }
}

TEST_F(SaveFiles, BinaryModeAndNullFileFail) {
  ENTITY_LIST l, out;
  memfile f;
  EXPECT_EQ(api_save_entity_list(f.fp, 0, l).error_number(),
            qelvelm_api_errmod.message_code(VELM_SAVE_BINARY));
  EXPECT_FALSE(api_save_entity_list(nullptr, 1, l).ok());
  EXPECT_FALSE(api_restore_entity_list(nullptr, 1, out).ok());
}

}  // namespace

// A chain of nodes whose text runs to several megabytes; the last node's value
// is `last` (a node's own value otherwise).
namespace {
ENTITY_LIST chain_of_nodes(int count, double last) {
  TNODE* head = nullptr;
  for (int i = count - 1; i >= 0; --i) {
    auto* n = new TNODE(i + 1 == count ? last : i + 0.25, i);
    n->set_link(head);
    head = n;
  }
  ENTITY_LIST top;
  top.add(head);
  return top;
}

std::string whole_file_text(FILE* fp) {
  std::fflush(fp);
  std::rewind(fp);
  std::string s;
  char buf[1 << 16];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) s.append(buf, n);
  return s;
}

// The records: what follows the two header lines (the second carries the date).
std::string records_after_header(const std::string& text) { return text.substr(text.find('\n', text.find('\n') + 1)); }
}  // namespace

// A model whose text runs to several megabytes is written in pieces; the file
// holds them in order: a chain of nodes comes back link for link.
TEST_F(SaveFiles, TextOfManyMegabytesComesBackInOrder) {
  constexpr int count = 60000;
  ENTITY_LIST top = chain_of_nodes(count, count - 1 + 0.25);
  memfile f;
  ASSERT_TRUE(api_save_entity_list(f.fp, 1, top).ok());
  const std::string text = f.text();
  EXPECT_GT(text.size(), std::size_t(2) << 20);
  lose_all(top);
  ENTITY_LIST back;
  ASSERT_TRUE(restore(text, back).ok());
  ASSERT_EQ(back.count(), 1);
  int seen = 0;
  for (const TNODE* n = static_cast<const TNODE*>(back[0]); n; n = n->link(), ++seen) {
    ASSERT_EQ(n->tag(), seen);
    ASSERT_EQ(n->value(), seen + 0.25);
  }
  EXPECT_EQ(seen, count);
  lose_all(back);
}

// A real the reader would refuse (not finite) fails the save instead of
// making a file that cannot be read back.
TEST_F(SaveFiles, NonFiniteRealFailsTheSave) {
  for (double value : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    TNODE* n = new TNODE(value, 0);
    memfile f;
    ENTITY_LIST l;
    l.add(n);
    EXPECT_EQ(api_save_entity_list(f.fp, 1, l).error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_IO))
        << value;
    n->lose();
  }
}

// A large save to a regular file is written as it is made, its record count
// filled in last; to a memory stream or a file opened for appending it is
// written whole. Every way gives the same records, and each file reads back.
TEST_F(SaveFiles, LargeSavesGiveTheSameRecordsToEveryKindOfFile) {
  constexpr int count = 60000;
  ENTITY_LIST top = chain_of_nodes(count, count - 1 + 0.25);
  const std::string header = "VELM-TEXT 2000 " + std::to_string(count);

  memfile regular;
  ASSERT_TRUE(api_save_entity_list(regular.fp, 1, top).ok());
  const std::string in_place = regular.text();

  char* buffer = nullptr;
  size_t size = 0;
  FILE* memory = open_memstream(&buffer, &size);
  ASSERT_TRUE(api_save_entity_list(memory, 1, top).ok());
  std::fclose(memory);
  const std::string whole(buffer, size);
  std::free(buffer);

  char path[] = "/tmp/xvelm_save_appendXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "kept\n", 5), 5);
  close(fd);
  FILE* appending = std::fopen(path, "a+");
  ASSERT_TRUE(api_save_entity_list(appending, 1, top).ok());
  const std::string appended = whole_file_text(appending);
  std::fclose(appending);
  std::remove(path);
  lose_all(top);

  EXPECT_EQ(whole.rfind(header + " 1\n", 0), 0u);
  EXPECT_EQ(appended.rfind("kept\n" + header + " 1\n", 0), 0u);
  // The count written into its blank: left-aligned in ten places.
  EXPECT_EQ(in_place.rfind(header + std::string(10 - std::to_string(count).size(), ' ') + " 1\n", 0), 0u)
      << in_place.substr(0, 40);
  // Compared whole, not printed: the texts run to megabytes.
  EXPECT_TRUE(records_after_header(in_place) == records_after_header(whole));
  EXPECT_TRUE(records_after_header(appended.substr(5)) == records_after_header(whole));
  for (const std::string& text : {in_place, whole, appended.substr(5)}) {
    ENTITY_LIST back;
    ASSERT_TRUE(restore(text, back).ok());
    int seen = 0;
    for (const TNODE* n = static_cast<const TNODE*>(back[0]); n; n = n->link()) ++seen;
    EXPECT_EQ(seen, count);
    lose_all(back);
  }
}

// A large save that fails part way (its last real is not finite) leaves the
// file as it was before the save, though pieces of it were written already.
TEST_F(SaveFiles, LargeSaveThatFailsLeavesTheFileAsItWas) {
  ENTITY_LIST top = chain_of_nodes(60000, std::nan(""));
  memfile f;
  std::fputs("kept\n", f.fp);
  EXPECT_EQ(api_save_entity_list(f.fp, 1, top).error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_IO));
  EXPECT_EQ(f.text(), "kept\n");
  lose_all(top);
}
