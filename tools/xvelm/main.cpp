// xvelm: command-line driver of the connector.
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "convert_verb.hxx"
#include "export_verb.hxx"
#include "import_verb.hxx"
#include "info.hxx"
#include "qelx_formats/exchange_leak_suppressions.hxx"
#include "roundtrip_verb.hxx"
#include "streams.hxx"
#include "text.hxx"

namespace {

// Exit codes (also in the README): 0 done, 1 the work failed (an input that
// cannot be read, a damaged file), 2 the command line is wrong.
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

struct verb {
  const char* name;
  const char* operands;  // for the usage line
  int operand_count;  // negative: at least that many, the verb reads the rest
  const char* summary;
  int (*run)(char** operands);
};

int run_info(char** operands) { return xvelm::info(operands[0], stdout, stderr); }
int run_export(char** operands) { return xvelm::exportNeutral(operands[0], operands[1], stdout, stderr); }
int run_import(char** operands) { return xvelm::importNeutral(operands[0], operands[1], stdout, stderr); }
int run_roundtrip(char** operands) { return xvelm::roundtrip(operands[0], stdout, stderr); }
int run_convert(char** operands) { return xvelm::convert_command(operands, stdout, stderr); }

// One row per verb: adding a verb is adding a row.
const verb verbs[] = {
    {"info", "FILE", 1, "restore a kernel save file and print, per body, its topology counts and attributes",
     &run_info},
    {"export", "IN.vlt OUT.json", 2, "export a kernel save file through the connector into a neutral document",
     &run_export},
    {"import", "IN.json OUT.vlt", 2,
     "import a neutral document through the connector, heal it and write a kernel save file", &run_import},
    {"roundtrip", "IN.vlt", 1,
     "export a kernel save file, import it back through the full import roads and report what differs",
     &run_roundtrip},
    {"convert", "IN OUT [--heal NAME|off]", -2,
     "convert between kernel save files, neutral documents and STEP, IGES or BREP files through the kernel",
     &run_convert},
};

void usage(FILE* to) {
  std::fprintf(to, "usage: xvelm COMMAND OPERANDS...\n       xvelm --help\n\ncommands:\n");
  for (const verb& v : verbs) {
    std::string call = std::string(v.name) + " " + v.operands;
    std::fprintf(to, "  %-22s %s\n", call.c_str(), v.summary);
  }
  std::fprintf(to,
               "\nexit status: 0 done; %d the work failed (an input that cannot be read or is "
               "damaged); %d the command line is wrong\n",
               exit_failed, exit_usage);
}

}  // namespace

int main(int argc, char** argv) {
  xvelm::guard_standard_streams();
  // A verb's large buffers (the restore's tables, the walk's) are mapped on
  // their own and given back when freed, rather than left in the heap once
  // the allocator has raised its threshold past them: a large model's run
  // then peaks near what is live, not at that plus every freed buffer.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
  if (argc < 2) {
    usage(stderr);
    return exit_usage;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 || std::strcmp(name, "help") == 0) {
    usage(stdout);
    return xvelm::output_written(stdout, stderr) ? 0 : exit_failed;
  }
  for (const verb& v : verbs) {
    if (std::strcmp(name, v.name) != 0) continue;
    if (v.operand_count >= 0 ? argc - 2 != v.operand_count : argc - 2 < -v.operand_count) {
      std::fprintf(stderr, "xvelm %s: expects %s (try xvelm --help)\n", v.name, v.operands);
      return exit_usage;
    }
    return v.run(argv + 2);
  }
  std::fprintf(stderr, "xvelm: unknown command \"%s\" (try xvelm --help)\n", xvelm::printable(name).c_str());
  return exit_usage;
}
