// Save files: the writer and reader of the kernel's text format.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "entity_internal.hxx"
#include "velm/api.hxx"
#include "velm/save.hxx"

namespace {
const char* const magic = "VELM-TEXT";
// Files larger than this are refused rather than read into memory.
constexpr std::size_t max_file_size = std::size_t(1) << 30;

void copy_text(char* field, std::size_t capacity, const char* text) {
  std::size_t n = text ? std::strlen(text) : 0;
  if (n >= capacity) n = capacity - 1;
  if (n) std::memcpy(field, text, n);
  field[n] = '\0';
}

[[noreturn]] void damaged() { velm_api_error_throw(VELM_SAVE_FILE_DAMAGED); }
}  // namespace

FileInfo::FileInfo() = default;
void FileInfo::set_product_id(const char* id) { copy_text(product_id_, sizeof product_id_, id); }
void FileInfo::set_date(const char* date) { copy_text(date_, sizeof date_, date); }
void FileInfo::set_sending_system(const char* name) {
  copy_text(sending_system_, sizeof sending_system_, name);
}

namespace {
FileInfo file_info_storage;
}
FileInfo* save_info = nullptr;

outcome api_set_file_info(unsigned mask, const FileInfo& info) {
  return velm_api("api_set_file_info", [&] {
    if (!save_info) save_info = &file_info_storage;
    if (mask & FileInfo_product_id) save_info->set_product_id(info.product_id());
    if (mask & FileInfo_units) save_info->set_units(info.units());
    if (mask & FileInfo_sending_system) save_info->set_sending_system(info.sending_system());
  });
}

outcome api_get_file_info(FileInfo& info) {
  return velm_api("api_get_file_info", [&] { info = save_info ? *save_info : FileInfo(); });
}

// ---------------------------------------------------------------------------
// Writer. Records go to memory first, so that the header can carry the count.
namespace {
struct writer {
  std::string out;
  ENTITY_LIST* list = nullptr;
};
writer* current_writer = nullptr;

writer& w() {
  if (!current_writer) velm_api_error_throw(VELM_SAVE_IO);
  return *current_writer;
}

void put(std::string_view text) {
  std::string& out = w().out;
  out.append(text);
  out.push_back(' ');
}

std::string real_text(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

std::string prefixed(char mark, long value) {
  std::string s(1, mark);
  s += std::to_string(value);
  return s;
}

std::string literal_text(const char* text) {
  if (!text) return "@-1";
  std::string s = "@";
  s += std::to_string(std::strlen(text));
  s += ' ';
  s += text;
  return s;
}
}  // namespace

void velm_save_record_begin(const ENTITY* e) {
  writer& wr = w();
  put(prefixed('-', wr.list->lookup(e)));
}
void velm_save_record_end() {
  w().out.append("#\n");
}

void write_id_level(const char* identifier, int level) {
  if (!identifier || !*identifier) velm_api_error_throw(VELM_SAVE_UNKNOWN_CLASS);
  put(identifier);
  put(std::to_string(level));
}
void write_int(int value) { put(std::to_string(value)); }
void write_long(long value) { put(std::to_string(value)); }
void write_real(double value) { put(real_text(value)); }
void write_literal(const char* text) { put(literal_text(text)); }
void write_ptr(const ENTITY* e, ENTITY_LIST& list) {
  put(prefixed('$', e ? list.add(const_cast<ENTITY*>(e)) : -1));
}
void write_logical(bool value) { put(value ? "1" : "0"); }
void write_position(const QELposition& p) {
  for (int i = 0; i < 3; ++i) write_real(p[i]);
}
void write_vector(const QELvector& v) {
  for (int i = 0; i < 3; ++i) write_real(v[i]);
}
void write_interval(const QELinterval& i) {
  write_int(static_cast<int>(i.type()));
  write_real(i.start_pt());
  write_real(i.end_pt());
}
void write_enum(int value) { write_int(value); }

outcome api_save_entity_list(FILE* fp, int text_mode, const ENTITY_LIST& entities) {
  return velm_api("api_save_entity_list", [&] {
    if (!fp) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (!text_mode) velm_api_error_throw(VELM_SAVE_BINARY);
    ENTITY_LIST list;
    for (int i = 0; i < entities.count(); ++i)
      if (ENTITY* e = entities[i]) {
        if (!velm_is_live_entity(e)) velm_api_error_throw(VELM_NOT_LIVE);
        list.add(e);
      }
    int top_level = list.count();
    writer wr;
    wr.list = &list;
    struct scope {
      writer* saved;
      explicit scope(writer* now) : saved(current_writer) { current_writer = now; }
      ~scope() { current_writer = saved; }
    } active(&wr);
    // Saving appends what each record points at, so the list grows as it is walked.
    for (int i = 0; i < list.count(); ++i) list[i]->save(list);

    char date[32] = "";
    std::time_t now = std::time(nullptr);
    if (std::tm* t = std::localtime(&now)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", t);
    const FileInfo info = save_info ? *save_info : FileInfo();
    std::string header = magic;
    for (long n : {long(VELM_SAVE_VERSION), long(list.count()), long(top_level)}) {
      header += ' ';
      header += std::to_string(n);
    }
    header += '\n';
    header += literal_text(info.product_id());
    for (const std::string& field :
         {literal_text(date), real_text(info.units()), literal_text(info.sending_system())}) {
      header += ' ';
      header += field;
    }
    header += '\n';
    if (std::fwrite(header.data(), 1, header.size(), fp) != header.size() ||
        std::fwrite(wr.out.data(), 1, wr.out.size(), fp) != wr.out.size() || std::fflush(fp) != 0)
      velm_api_error_throw(VELM_SAVE_IO);
  });
}

bool save_entity_on_file(FILE* fp, const ENTITY* entity, int text_mode) {
  ENTITY_LIST list;
  list.add(const_cast<ENTITY*>(entity));
  return api_save_entity_list(fp, text_mode, list).ok();
}

// ---------------------------------------------------------------------------
// Reader. The whole file is in memory; every read checks its bounds, and any
// malformed field raises the damage error.
namespace {
struct reader {
  std::string data;
  std::size_t pos = 0;
  int records = 0;
  int current = -1;                     // record being read
  std::vector<std::vector<int>> refs;   // record -> records it points at
};
reader* current_reader = nullptr;

reader& r() {
  if (!current_reader) damaged();
  return *current_reader;
}

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

std::string_view token() {
  reader& rd = r();
  while (rd.pos < rd.data.size() && is_space(rd.data[rd.pos])) ++rd.pos;
  std::size_t start = rd.pos;
  while (rd.pos < rd.data.size() && !is_space(rd.data[rd.pos])) ++rd.pos;
  if (start == rd.pos) damaged();  // end of file inside a record
  return std::string_view(rd.data).substr(start, rd.pos - start);
}

long long integer_of(std::string_view t, long long low, long long high) {
  std::string s(t);
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || errno || *end != '\0' || v < low || v > high) damaged();
  return v;
}

// "@<length> <bytes>": the bytes are returned in place; length -1 is null.
bool literal(std::string_view& text) {
  std::string_view t = token();
  if (t.size() < 2 || t[0] != '@') damaged();
  long long n = integer_of(t.substr(1), -1, static_cast<long long>(max_file_size));
  if (n < 0) return false;
  reader& rd = r();
  if (rd.pos >= rd.data.size() || rd.data[rd.pos] != ' ' ||
      static_cast<std::size_t>(n) > rd.data.size() - rd.pos - 1)
    damaged();
  text = std::string_view(rd.data).substr(rd.pos + 1, static_cast<std::size_t>(n));
  rd.pos += 1 + static_cast<std::size_t>(n);
  return true;
}

// Skips the fields of a record up to its '#', literals included.
void skip_to_end_of_record() {
  for (;;) {
    reader& rd = r();
    while (rd.pos < rd.data.size() && is_space(rd.data[rd.pos])) ++rd.pos;
    if (rd.pos < rd.data.size() && rd.data[rd.pos] == '@') {
      std::string_view ignored;
      literal(ignored);
      continue;
    }
    if (token() == "#") return;
  }
}

void expect(std::string_view wanted) {
  if (token() != wanted) damaged();
}
}  // namespace

int read_int() { return static_cast<int>(integer_of(token(), INT32_MIN, INT32_MAX)); }
long read_long() { return static_cast<long>(integer_of(token(), LONG_MIN, LONG_MAX)); }

double read_real() {
  std::string s(token());
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  // Every real the kernel writes is finite; "nan" or "inf" can only be damage.
  if (s.empty() || *end != '\0' || !std::isfinite(v)) damaged();
  return v;
}

char* read_string(int& length) {
  std::string_view text;
  if (!literal(text)) {
    length = -1;
    return nullptr;
  }
  char* out = new char[text.size() + 1];
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  length = static_cast<int>(text.size());
  return out;
}

void read_string(char* field, std::size_t capacity) {
  std::string_view text;
  bool present = literal(text);
  if (!field || capacity == 0) return;
  std::size_t n = present ? std::min(text.size(), capacity - 1) : 0;
  if (n) std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

ENTITY* read_ptr() {
  std::string_view t = token();
  if (t.size() < 2 || t[0] != '$') damaged();
  reader& rd = r();
  long long index = integer_of(t.substr(1), -1, rd.records - 1);
  if (index >= 0 && rd.current >= 0) rd.refs[rd.current].push_back(static_cast<int>(index));
  // Encoded as index + 1, so that null is index -1 and slot 0 of the array.
  return reinterpret_cast<ENTITY*>(static_cast<std::intptr_t>(index + 1));
}

bool read_logical() { return integer_of(token(), 0, 1) != 0; }
int read_enum() { return read_int(); }

QELposition read_position() {
  double x = read_real(), y = read_real(), z = read_real();
  return {x, y, z};
}

QELvector read_vector() {
  double x = read_real(), y = read_real(), z = read_real();
  return {x, y, z};
}

QELinterval read_interval() {
  auto type = static_cast<interval_type>(integer_of(token(), interval_unset, interval_unbounded));
  double low = read_real(), high = read_real();
  return QELinterval(type, low, high);
}

namespace {
// One record: "-<index>", the identifier chain down to level 1, then the
// fields read by the first registered class of the chain, leaf first.
ENTITY* restore_record(int index) {
  std::string_view start = token();
  if (start.size() < 2 || start[0] != '-' || integer_of(start.substr(1), 0, INT32_MAX) != index)
    damaged();
  std::vector<std::string_view> chain;
  for (long long expected = -1;;) {
    std::string_view id = token();
    long long level = integer_of(token(), 1, 64);
    if (expected != -1 && level != expected) damaged();
    chain.push_back(id);
    if (level == 1) break;
    expected = level - 1;
  }
  std::size_t used = 0;
  const restore_def* def = nullptr;
  for (; used < chain.size() && !def; ++used) def = restore_def::find(std::string(chain[used]).c_str());
  if (!def || !def->factory()) velm_api_error_throw(VELM_SAVE_UNKNOWN_CLASS);
  ENTITY* e = velm_require(def->factory()());
  if (used == 1)
    expect("#");
  else
    skip_to_end_of_record();  // a base stands in for an unknown leaf
  return e;
}
}  // namespace

outcome api_restore_entity_list(FILE* fp, int text_mode, ENTITY_LIST& restored) {
  return velm_api("api_restore_entity_list", [&] {
    if (!fp) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (!text_mode) velm_api_error_throw(VELM_SAVE_BINARY);
    reader rd;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) {
      if (rd.data.size() + n > max_file_size) damaged();
      rd.data.append(buf, n);
    }
    struct scope {
      reader* saved;
      explicit scope(reader* now) : saved(current_reader) { current_reader = now; }
      ~scope() { current_reader = saved; }
    } active(&rd);

    expect(magic);
    FileInfo info;
    info.set_version(read_int());
    // Every record takes more than four bytes: a larger count is damage, not a reason to allocate.
    int count = static_cast<int>(integer_of(token(), 0, static_cast<long long>(rd.data.size() / 4)));
    int top_level = static_cast<int>(integer_of(token(), 0, count));
    rd.records = count;
    char text[256];
    read_string(text, sizeof text);
    info.set_product_id(text);
    read_string(text, sizeof text);
    info.set_date(text);
    info.set_units(read_real());
    read_string(text, sizeof text);
    info.set_sending_system(text);

    // Slot 0 is null; record i lives in slot i + 1 (see read_ptr). Entities
    // made here are created inside this call's frame, so a failure destroys them.
    std::vector<ENTITY*> array(static_cast<std::size_t>(count) + 1, nullptr);
    rd.refs.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      rd.current = i;
      array[i + 1] = restore_record(i);
    }
    rd.current = -1;
    // Every record must hang off the top-level ones; an orphan would stay in
    // the model with nobody to lose it.
    std::vector<char> reached(static_cast<std::size_t>(count), 0);
    std::vector<int> todo;
    for (int i = 0; i < top_level; ++i) todo.push_back(i);
    while (!todo.empty()) {
      int i = todo.back();
      todo.pop_back();
      if (reached[i]) continue;
      reached[i] = 1;
      for (int j : rd.refs[i]) todo.push_back(j);
    }
    if (std::find(reached.begin(), reached.end(), 0) != reached.end()) damaged();
    velm_fix_scope fix(array.data(), array.size());
    for (int i = 0; i < count; ++i) array[i + 1]->fix_pointers(array.data(), scan_copy);

    if (!save_info) save_info = &file_info_storage;
    *save_info = info;
    for (int i = 0; i < top_level; ++i) restored.add(array[i + 1]);
  });
}
