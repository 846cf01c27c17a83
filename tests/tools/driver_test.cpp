// The driver as a user runs it: the program this build made, its exit codes
// and the one line it gives for each kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "../../tools/xvelm/info.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_part.hxx"
#include "support/model_builders.hxx"

namespace {

// CTest runs each test as a process of its own, several at once: files are per process.
const std::string dir = ::testing::TempDir() + "xvelm_driver_" + std::to_string(::getpid()) + "_";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct run {
  int status;
  std::string out, err;
};

run driver(const std::string& operands) {
  const std::string out = dir + "out.txt", err = dir + "err.txt";
  const int raw = std::system((std::string("'") + XVELM_DRIVER + "' " + operands + " >'" + out + "' 2>'" + err + "'").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
}

// Entities of the connector's classes and names no terminal should get raw:
// a wire body carrying a husk attribute and a name with control bytes, a group
// holding a box and an assembly placing another. The box and the placed box
// are not top-level: info must delete what the group and the assembly hold.
std::string connector_file() {
  const std::string path = dir + "connector.vlt";
  BODY* wire = testkit::make_wire_body();
  new ATTRIB_DOVA_IGES_LABEL(wire);
  EXPECT_TRUE(api_add_generic_named_attribute(wire, "bell\a", "esc\x1b[31m red").ok());
  BODY* box = testkit::make_box();
  auto* group = new QELGROUP;
  EXPECT_TRUE(api_ct_add_to_group(box, group).ok());
  auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
  assembly->appendPart(new VE_PART(testkit::make_box(), QELtransf()));
  ENTITY_LIST list;
  list.add(wire);
  list.add(group);
  list.add(assembly);
  FILE* fp = std::fopen(path.c_str(), "w");
  EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
  std::fclose(fp);
  EXPECT_TRUE(api_del_entity(wire).ok());
  EXPECT_TRUE(api_del_entity(box).ok());
  Ve_AssemDeleteMgr tree(assembly);
  tree.loseAssem();
  if (velm_is_live_entity(group)) {
    EXPECT_TRUE(api_ct_lose_group(group).ok());
  }
  return path;
}

std::string written(const std::string& name, const std::string& text) {
  std::ofstream(dir + name, std::ios::binary) << text;
  return dir + name;
}

}  // namespace

TEST(Driver, ConnectorClassesRestoreAndInfoDeletesWhatTopLevelEntitiesHold) {
  const long live = velm_live_entity_count();
  const std::string path = connector_file();
  std::FILE* sink = std::tmpfile();
  EXPECT_EQ(xvelm::info(path.c_str(), sink, sink), 0);
  std::fclose(sink);
  EXPECT_EQ(velm_live_entity_count(), live);

  const run r = driver("info '" + path + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* shown : {"group with 1 members", "ve_assembly", "body 0: attrib_dova_iges_label",
                            "\"bell\\x07\" = esc\\x1b[31m red"})
    EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;
}

TEST(Driver, EveryBadCallGivesOneClearLineAndItsExitCode) {
  const std::string example = std::string(XVELM_EXAMPLES_DIR) + "/two_bodies.vlt";
  const std::string text = read_file(example);
  const std::string empty = written("empty.vlt", "");
  const std::string binary = written("binary.vlt", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10));
  const std::string twice = written("twice.vlt", text + text);
  std::string bad_link = text;
  bad_link.replace(bad_link.find(" $", bad_link.find("\n-3 ")), 3, " $x");
  const std::string damaged = written("damaged.vlt", bad_link);
  const struct {
    std::string operands;
    int status;
    const char* said;  // on stdout for status 0, else on stderr
  } cases[] = {
      {"--help", 0, "info FILE"},
      {"--help", 0, "exit status: 0 done; 1 the work failed"},
      {"", 2, "usage: xvelm COMMAND"},
      {"frobnicate x", 2, "xvelm: unknown command \"frobnicate\" (try xvelm --help)"},
      {"info", 2, "xvelm info: expects FILE"},
      {"info /nonexistent/none.vlt", 1, "cannot open /nonexistent/none.vlt: No such file or directory"},
      {"info '" + ::testing::TempDir() + "'", 1, "is a directory"},
      {"info '" + empty + "'", 1, "empty.vlt is empty"},
      {"info '" + binary + "'", 1, "binary.vlt: save file damaged: header: not a kernel text save file"},
      {"info '" + twice + "'", 1, "twice.vlt: save file damaged: after the last record"},
      {"info '" + damaged + "'", 1, "damaged.vlt: save file damaged: record 3 (string), field 10: linked record is not a whole number"},
      {"info '" + example + "'", 0, "lumps 1, shells 1, faces 6"},
      // Open CASCADE's data exchange keeps tables it never frees: the
      // sanitizer build's leak check at exit passes over them.
      {"convert '" + std::string(XVELM_EXAMPLES_DIR) + "/bracket.step' '" + dir + "bracket.brep'", 0,
       "1 body, 11 faces"},
  };
  for (const auto& c : cases) {
    const run r = driver(c.operands);
    EXPECT_EQ(r.status, c.status) << c.operands << "\n" << r.err;
    const std::string& said = c.status == 0 ? r.out : r.err;
    EXPECT_NE(said.find(c.said), std::string::npos) << c.operands << "\n" << said;
    if (c.status == 1) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
}

TEST(Driver, RoundTripReportsWhatDiffersAndFailsWhenAnythingDoes) {
  const std::string shapes = std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt";
  const std::string plain = std::string(XVELM_EXAMPLES_DIR) + "/two_bodies.vlt";
  const struct {
    std::string operands;
    int status;
    const char* said;
    bool onOut;
  } cases[] = {
      {"roundtrip '" + shapes + "'", 0, "6 bodies out, 6 back", true},
      {"roundtrip '" + shapes + "'", 0, "no differences", true},
      // Plain topology on planes and lines comes back, layer and all.
      {"roundtrip '" + plain + "'", 0, "no differences", true},
      {"roundtrip /nonexistent/none.vlt", 1, "cannot open /nonexistent/none.vlt", false},
      {"roundtrip", 2, "xvelm roundtrip: expects IN.vlt", false},
  };
  for (const auto& c : cases) {
    const run r = driver(c.operands);
    EXPECT_EQ(r.status, c.status) << c.operands << "\n" << r.err;
    const std::string& said = c.onOut ? r.out : r.err;
    EXPECT_NE(said.find(c.said), std::string::npos) << c.operands << "\n" << said;
  }
}

// The data exchange (STEP, IGES and BREP through Open CASCADE: dozens of
// libraries, some 20 MB resident) is mapped only by a conversion that names
// such a file; the loader's log of the files it maps tells.
TEST(Driver, OnlyAConversionOfAStepIgesOrBrepFileMapsTheDataExchange) {
  const std::string shapes = std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt";
  const struct {
    std::string operands;
    bool maps;
  } cases[] = {
      {"info '" + shapes + "'", false},
      {"export '" + shapes + "' '" + dir + "mapped.json'", false},
      {"convert '" + shapes + "' '" + dir + "mapped2.json'", false},
      {"convert '" + shapes + "' '" + dir + "mapped.igs'", true},
  };
  for (const auto& c : cases) {
    const std::string log = dir + "loader.txt";
    const std::string command =
        std::string("LD_DEBUG=files '") + XVELM_DRIVER + "' " + c.operands + " >/dev/null 2>'" + log + "'";
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << c.operands;
    const std::string mapped = read_file(log);
    EXPECT_NE(mapped.find("file=libvelm.so"), std::string::npos) << c.operands << ": no loader log";
    EXPECT_EQ(mapped.find("libqelx_formats.so") != std::string::npos, c.maps) << c.operands;
    EXPECT_EQ(mapped.find("file=libTKXSBase.so") != std::string::npos, c.maps) << c.operands;
  }
}
