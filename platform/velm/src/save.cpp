// Save files: the writer and reader of the kernel's text format.
#include <algorithm>
#include <charconv>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "velm/math.hxx"  // before entity_internal.hxx, which names positions
#include "entity_internal.hxx"
#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"

namespace {
const char* const magic = "VELM-TEXT";
// Files larger than this are refused rather than read into memory.
constexpr std::size_t max_file_size = std::size_t(1) << 30;
// No word the writer writes (a number, a link, a class identifier) comes near
// this; a longer one is damage, found without reading on to the end of it.
constexpr std::size_t max_word = 1024;

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
// Writer. Records go to memory first, so that the header can carry the count:
// in pieces of about a megabyte, so that a large model's text is never copied
// to grow nor held twice.
namespace {
constexpr std::size_t save_piece = std::size_t(1) << 20;
struct writer {
  std::vector<std::string> written;  // full pieces, in order
  std::string out;                   // the piece being filled
  bool drop = false;                 // a walk that wants the links, not the text
  ENTITY_LIST* list = nullptr;
  int saving = -1;  // the list index of the record being saved
  // A save to a regular file writes each full piece as it is made, so that a
  // large model's text is never held whole (nor pulls the model out of the
  // caches); the header goes first with its record count left blank, and the
  // count is written into the blank at the end.
  FILE* fp = nullptr;  // set when the file can take that
  std::string header;  // the header with its count blank
  long start = -1;     // where the header starts in the file
  bool streaming = false;
  bool failed = false;
};
// Room for any record count: an int has at most ten digits.
constexpr std::size_t count_width = 10;
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

// Numbers are formatted in place: a save writes millions of them.
template <class T>
void put_number(T value, char mark = 0) {
  char buf[48];
  char* p = buf;
  if (mark) *p++ = mark;
  std::to_chars_result r;
  if constexpr (std::is_floating_point_v<T>)
    r = std::to_chars(p, buf + sizeof buf, value, std::chars_format::general, 17);  // as %.17g
  else
    r = std::to_chars(p, buf + sizeof buf, value);
  put(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

std::string real_text(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

// A regular file opened for writing, not appending: one whose header can be
// filled in after the records (an appending stream would put the count at the
// end; a pipe or a memory stream cannot seek back, and is written whole).
bool writes_in_place(FILE* fp) {
  const int fd = ::fileno(fp);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && !(flags & O_APPEND) && std::ftell(fp) >= 0;
}

// A save that fails part way leaves nothing of itself in the file.
void take_back(FILE* fp, long start) {
  std::fflush(fp);
  if (::ftruncate(::fileno(fp), start) == 0) std::fseek(fp, start, SEEK_SET);
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
  const int index = wr.saving >= 0 && (*wr.list)[wr.saving] == e ? wr.saving : wr.list->lookup(e);
  put_number(static_cast<long>(index), '-');
}
void velm_save_record_end() {
  writer& wr = w();
  wr.out.append("#\n");
  if (wr.drop) {
    wr.out.clear();
  } else if (wr.out.size() >= save_piece && wr.fp) {
    if (!wr.streaming) {
      wr.streaming = true;
      wr.failed = std::fwrite(wr.header.data(), 1, wr.header.size(), wr.fp) != wr.header.size();
    }
    wr.failed = wr.failed || std::fwrite(wr.out.data(), 1, wr.out.size(), wr.fp) != wr.out.size();
    wr.out.clear();
  } else if (wr.out.size() >= save_piece) {
    wr.written.push_back(std::move(wr.out));
    wr.out = std::string();
    wr.out.reserve(save_piece + save_piece / 8);
  }
}

void write_id_level(const char* identifier, int level) {
  if (!identifier || !*identifier) velm_api_error_throw(VELM_SAVE_UNKNOWN_CLASS);
  put(identifier);
  put_number(level);
}
void write_int(int value) { put_number(value); }
void write_long(long value) { put_number(value); }
// The reader refuses a real that is not finite (the kernel never needs one),
// so a model holding one (a tolerance that overflowed) is not saved at all
// rather than saved into a file that cannot be read back.
void write_real(double value) {
  if (!std::isfinite(value)) velm_api_error_throw(VELM_SAVE_IO);
  put_number(value);
}
void write_literal(const char* text) { put(literal_text(text)); }
void write_ptr(const ENTITY* e, ENTITY_LIST& list) {
  put_number(static_cast<long>(e ? list.add(const_cast<ENTITY*>(e)) : -1), '$');
}
void write_logical(bool value) { put(value ? "1" : "0"); }
void write_position(const QELposition& p) {
  for (int i = 0; i < 3; ++i) write_real(p[i]);
}
void write_vector(const QELvector& v) {
  for (int i = 0; i < 3; ++i) write_real(v[i]);
}
// A model's coordinates and lengths stay within VELM_MODEL_EXTENT: the restore
// refuses one beyond it, so the save does not write it.
void write_model_position(const QELposition& p) {
  for (int i = 0; i < 3; ++i)
    if (!(std::fabs(p[i]) <= VELM_MODEL_POINT_EXTENT)) velm_api_error_throw(VELM_SAVE_IO);
  for (int i = 0; i < 3; ++i) write_real(p[i]);
}
void write_model_length(double value) {
  if (!(std::fabs(value) <= VELM_MODEL_EXTENT)) velm_api_error_throw(VELM_SAVE_IO);
  write_real(value);
}
void write_interval(const QELinterval& i) {
  write_int(static_cast<int>(i.type()));
  write_real(i.start_pt());
  write_real(i.end_pt());
}
void write_enum(int value) { write_int(value); }

namespace {
// Why the last save was refused, naming the place ("" when it named none).
std::string last_refusal;
// The test kit's switch: faces and edges written, and their edges read
// back, unjudged.
bool save_unchecked = false;

// Why a face or an edge no save file may hold would be refused by its
// restore ("" for one it would take).
std::string unsavable(const ENTITY* e) {
  const auto unnamed = [](const ENTITY*) { return std::string(); };
  if (is_FACE(e)) return velm_query::face_unsavable(static_cast<const FACE*>(e), unnamed);
  if (is_EDGE(e)) return velm_query::edge_unsavable(static_cast<const EDGE*>(e), unnamed);
  return "";
}

// The most places one refusal names; the rest are counted.
constexpr int refusal_places = 3;

// A face or an edge no save file may hold (its restore would refuse it) fails
// the save before anything is written. The refusal names each such face and
// edge (up to a few, the rest counted) of the bodies saved, the body by its
// place among the bodies saved and the face or edge by its place among the
// body's faces or edges, all from 0, as `xvelm info` numbers them; one of no
// body by its record.
void refuse_unsavable(const ENTITY* e, const ENTITY_LIST& list, int record, int top_level) {
  if (save_unchecked || (!is_FACE(e) && !is_EDGE(e))) return;
  const std::string why = unsavable(e);
  if (why.empty()) return;
  std::vector<std::string> places;
  int more = 0;
  const auto found = [&](std::string place) {
    if (static_cast<int>(places.size()) < refusal_places)
      places.push_back(std::move(place));
    else
      ++more;
  };
  // Every body saved, in order: the top-level ones, then any reached
  // through links up to the faulty one's (a face or edge saved without its
  // body is named by its record).
  const BODY* body = velm_query::owning_body(e);
  const int body_record = body ? list.lookup(body) : -1;
  if (body_record < 0)
    found("record " + std::to_string(record) + " (" + (is_FACE(e) ? "face" : "edge") + "): " + why);
  int bodies = 0;
  for (int i = 0; i < std::max(top_level, body_record + 1); ++i) {
    if (!is_BODY(list[i])) continue;
    const int number = bodies++;
    for (const int type : {FACE_TYPE, EDGE_TYPE}) {
      ENTITY_LIST alike;
      velm_topology_walk(list[i], type, alike);
      for (int k = 0; k < alike.count(); ++k)
        if (std::string said = unsavable(alike[k]); !said.empty())
          found("body " + std::to_string(number) + ", " + (type == FACE_TYPE ? "face " : "edge ") +
                std::to_string(k) + ": " + said);
    }
  }
  last_refusal.clear();
  for (const std::string& place : places) last_refusal += (last_refusal.empty() ? "" : "; ") + place;
  if (more > 0) last_refusal += " (and " + std::to_string(more) + " more)";
  auto* info = new error_info(qelvelm_api_errmod.message_code(VELM_SAVE_IO), last_refusal.c_str());
  info->entities().add(const_cast<ENTITY*>(e));
  sys_error(info->error_number(), info);
}
}  // namespace

const char* velm_last_save_refusal() { return last_refusal.c_str(); }

void velm_test_save_unchecked(bool on) { save_unchecked = on; }

bool velm_query::saves_unchecked() { return save_unchecked; }

void velm_save_reach(const ENTITY* root, ENTITY_LIST& reached) {
  if (!root) return;
  // The writer's own walk, its text dropped: whatever a save would take along,
  // through the links of any class, the connector's included.
  reached.add(const_cast<ENTITY*>(root));
  writer wr;
  wr.list = &reached;
  wr.drop = true;
  writer* saved = current_writer;
  current_writer = &wr;
  try {
    for (int i = 0; i < reached.count(); ++i) reached[i]->save(reached);
  } catch (...) {
    current_writer = saved;
    throw;
  }
  current_writer = saved;
}

outcome api_save_entity_list(FILE* fp, int text_mode, const ENTITY_LIST& entities) {
  last_refusal.clear();
  return velm_api("api_save_entity_list", [&] {
    if (!fp) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (!text_mode) velm_api_error_throw(VELM_SAVE_BINARY);
    ENTITY_LIST list;
    velm_stamped_list stamps(list);
    for (int i = 0; i < entities.count(); ++i)
      if (ENTITY* e = entities[i]) {
        if (!velm_is_live_entity(e)) velm_api_error_throw(VELM_NOT_LIVE);
        list.add(e);
      }
    int top_level = list.count();
    writer wr;
    wr.list = &list;
    char date[32] = "";
    std::time_t now = std::time(nullptr);
    if (std::tm* t = std::localtime(&now)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", t);
    const FileInfo info = save_info ? *save_info : FileInfo();
    const std::string count_before = std::string(magic) + ' ' + std::to_string(long(VELM_SAVE_VERSION)) + ' ';
    auto header_with = [&](const std::string& count) {
      std::string header = count_before;
      header += count;
      header += ' ';
      header += std::to_string(top_level);
      header += '\n';
      header += literal_text(info.product_id());
      for (const std::string& field :
           {literal_text(date), real_text(info.units()), literal_text(info.sending_system())}) {
        header += ' ';
        header += field;
      }
      header += '\n';
      return header;
    };
    if (writes_in_place(fp)) {
      wr.fp = fp;
      wr.start = std::ftell(fp);
      wr.header = header_with(std::string(count_width, ' '));
    }
    struct scope {
      writer* saved;
      explicit scope(writer* now) : saved(current_writer) { current_writer = now; }
      ~scope() { current_writer = saved; }
    } active(&wr);
    // Saving appends what each record points at, so the list grows as it is walked.
    try {
      for (int i = 0; i < list.count(); ++i) {
        velm_prefetch(list[i + static_cast<int>(velm_prefetch_ahead)]);
        velm_prefetch_link_stamps(list[i + static_cast<int>(velm_prefetch_ahead) / 2]);
        wr.saving = i;
        refuse_unsavable(list[i], list, i, top_level);
        list[i]->save(list);
      }
    } catch (...) {
      if (wr.streaming) take_back(fp, wr.start);
      throw;
    }

    if (wr.streaming) {
      const std::string count = std::to_string(list.count());
      bool ok = !wr.failed && std::fwrite(wr.out.data(), 1, wr.out.size(), fp) == wr.out.size();
      const long end = ok ? std::ftell(fp) : -1;
      ok = end >= 0 && std::fseek(fp, wr.start + static_cast<long>(count_before.size()), SEEK_SET) == 0 &&
           std::fwrite(count.data(), 1, count.size(), fp) == count.size() && std::fseek(fp, end, SEEK_SET) == 0 &&
           std::fflush(fp) == 0;
      if (!ok) {
        take_back(fp, wr.start);
        velm_api_error_throw(VELM_SAVE_IO);
      }
      return;
    }
    const std::string header = header_with(std::to_string(list.count()));
    bool written = std::fwrite(header.data(), 1, header.size(), fp) == header.size();
    for (const std::string& piece : wr.written)
      written = written && std::fwrite(piece.data(), 1, piece.size(), fp) == piece.size();
    if (!written || std::fwrite(wr.out.data(), 1, wr.out.size(), fp) != wr.out.size() || std::fflush(fp) != 0)
      velm_api_error_throw(VELM_SAVE_IO);
  });
}

bool save_entity_on_file(FILE* fp, const ENTITY* entity, int text_mode) {
  ENTITY_LIST list;
  list.add(const_cast<ENTITY*>(entity));
  return api_save_entity_list(fp, text_mode, list).ok();
}

// ---------------------------------------------------------------------------
// Reader. The file is read through a window that holds what is not yet
// parsed (a text field longer than the window widens it); every read checks
// its bounds, and any malformed field raises the damage error with where it
// was found. A word or text handed out stays valid until the next read.
namespace {
constexpr std::size_t window_chunk = std::size_t(1) << 20;

struct reader {
  FILE* fp = nullptr;
  std::string data;          // the window: data[pos ..] is not parsed yet
  std::size_t pos = 0;
  std::size_t read_total = 0;
  bool at_end = false;
  int records = 0;
  int current = -1;          // record being read or checked; -1 in the header
  int field = 0;             // words of the current record read so far
  std::string ident;         // the current record's leaf identifier
  int top_level = 0;
  // Records not read yet that a link from an earlier record has named. The
  // writer appends a record when a record before it first links to it, so
  // every record after the top-level ones is named by an earlier one, and
  // all hang off the top. One bit a record, up to the furthest link read
  // (a link never names more records than the header counts, and the count is
  // bounded by the file's length: at most a sixteenth of its size), set and
  // cleared in place rather than a node a record.
  std::vector<std::uint64_t> linked_before;
  std::vector<std::string> chain;  // the current record's identifiers, leaf first
  // Leaf identifier -> its registered class, for records whose leaf is known;
  // the last one found is asked first (records of a kind come in runs).
  std::unordered_map<std::string, const restore_def*> known;
  std::string last_known;
  const restore_def* last_def = nullptr;

  void link_ahead(std::size_t record) {
    if (record / 64 >= linked_before.size()) linked_before.resize(std::max(record / 64 + 1, 2 * linked_before.size()), 0);
    linked_before[record / 64] |= std::uint64_t(1) << (record % 64);
  }
  // Whether an earlier record linked to it (forgotten as it is asked).
  bool take_link(std::size_t record) {
    if (record / 64 >= linked_before.size()) return false;
    std::uint64_t& word = linked_before[record / 64];
    const std::uint64_t bit = std::uint64_t(1) << (record % 64);
    const bool linked = (word & bit) != 0;
    word &= ~bit;
    return linked;
  }
};
reader* current_reader = nullptr;
// Where the last refused restore found damage ("" when it found none).
std::string last_damage;

reader& r() {
  if (!current_reader) damaged();
  return *current_reader;
}

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// Makes `n` bytes past pos available, moving what is unparsed to the window's
// start and reading on; false when the file ends first.
bool available(reader& rd, std::size_t n) {
  if (rd.data.size() - rd.pos >= n) return true;
  rd.data.erase(0, rd.pos);
  rd.pos = 0;
  while (rd.data.size() < n && !rd.at_end) {
    // Chunk by chunk, so that a length the file only claims costs nothing.
    const std::size_t had = rd.data.size();
    const std::size_t want = window_chunk;
    rd.data.resize(had + want);
    const std::size_t got = rd.fp ? std::fread(rd.data.data() + had, 1, want, rd.fp) : 0;
    rd.data.resize(had + got);
    rd.read_total += got;
    if (got < want) rd.at_end = true;
    if (rd.read_total > max_file_size) velm_save_damaged("larger than the 1 GiB a save file may have");
  }
  return rd.data.size() >= n;
}

// Skips white space; false at the end of the file.
bool skip_space(reader& rd) {
  for (;;) {
    while (rd.pos < rd.data.size() && is_space(rd.data[rd.pos])) ++rd.pos;
    if (rd.pos < rd.data.size()) return true;
    if (!available(rd, 1)) return false;
  }
}

std::string_view token() {
  reader& rd = r();
  skip_space(rd);
  std::size_t n = 0;
  while ((rd.pos + n < rd.data.size() || available(rd, n + 1)) && !is_space(rd.data[rd.pos + n]))
    if (++n > max_word) {
      ++rd.field;
      velm_save_damaged(("a word longer than the " + std::to_string(max_word) + " bytes any field has").c_str());
    }
  ++rd.field;
  if (n == 0) velm_save_damaged(rd.current < 0 ? "the file ends inside the header" : "the file ends inside the record");
  const std::string_view word = std::string_view(rd.data).substr(rd.pos, n);
  rd.pos += n;
  return word;
}

long long integer_of(std::string_view t, long long low, long long high, const char* what = "integer") {
  long long v = 0;
  auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || error != std::errc() || end != t.data() + t.size()) {
    // The word as found, cut short: it is the file's own text.
    std::string why = std::string(what) + " is not a whole number: \"" + std::string(t.substr(0, 40)) + "\"";
    velm_save_damaged(why.c_str());
  }
  if (v < low || v > high) {
    std::string why = std::string(what) + " " + std::to_string(v) + " outside " + std::to_string(low) +
                      " .. " + std::to_string(high);
    velm_save_damaged(why.c_str());
  }
  return v;
}

// "@<length> <bytes>": the bytes are returned in place; length -1 is null.
bool literal(std::string_view& text) {
  std::string_view t = token();
  if (t.size() < 2 || t[0] != '@') velm_save_damaged("not a text (@<length>) where one belongs");
  long long n = integer_of(t.substr(1), -1, static_cast<long long>(max_file_size), "text length");
  if (n < 0) return false;
  reader& rd = r();
  if (!available(rd, 1 + static_cast<std::size_t>(n)) || rd.data[rd.pos] != ' ')
    velm_save_damaged("text longer than the rest of the file");
  text = std::string_view(rd.data).substr(rd.pos + 1, static_cast<std::size_t>(n));
  rd.pos += 1 + static_cast<std::size_t>(n);
  return true;
}

// Skips the fields of a record up to its '#', literals included.
void skip_to_end_of_record() {
  for (;;) {
    reader& rd = r();
    if (skip_space(rd) && rd.data[rd.pos] == '@') {
      std::string_view ignored;
      literal(ignored);
      continue;
    }
    if (token() == "#") return;
  }
}

void expect(std::string_view wanted, const char* what) {
  if (token() != wanted) velm_save_damaged(what);
}

// "record 12 (coedge), field 7: <what>", or "header: <what>".
std::string damage_place(const reader& rd) {
  if (rd.current < 0) return "header";
  if (rd.current >= rd.records) return "after the last record (" + std::to_string(rd.records) + ")";
  std::string place = "record " + std::to_string(rd.current);
  if (!rd.ident.empty()) place += " (" + rd.ident + ")";
  if (rd.field > 0) place += ", field " + std::to_string(rd.field);
  return place;
}
}  // namespace

void velm_save_damaged(const char* what) {
  if (current_reader && last_damage.empty())
    last_damage = damage_place(*current_reader) + ": " + (what ? what : "damaged");
  velm_api_error_throw(VELM_SAVE_FILE_DAMAGED);
}

const char* velm_last_restore_damage() { return last_damage.c_str(); }

void velm_restore_damaged_at(int record, const char* identifier, const char* what) {
  if (current_reader) {
    current_reader->current = record;
    current_reader->field = 0;
    current_reader->ident = identifier ? identifier : "";
  }
  velm_save_damaged(what);
}

int read_int() { return static_cast<int>(integer_of(token(), INT32_MIN, INT32_MAX)); }
long read_long() { return static_cast<long>(integer_of(token(), LONG_MIN, LONG_MAX)); }

double read_real() {
  std::string_view t = token();
  double v = 0.0;
  auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
  // Every real the kernel writes is finite; "nan" or "inf" can only be damage.
  if (error != std::errc() || end != t.data() + t.size() || !std::isfinite(v))
    velm_save_damaged("not a finite real number where one belongs");
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
  if (t.size() < 2 || t[0] != '$') velm_save_damaged("not a link ($<record>) where one belongs");
  reader& rd = r();
  long long index = integer_of(t.substr(1), -1, rd.records - 1, "linked record");
  if (index > rd.current && rd.current >= 0) rd.link_ahead(static_cast<std::size_t>(index));
  // Encoded as index + 1, so that null is index -1 and slot 0 of the array.
  return reinterpret_cast<ENTITY*>(static_cast<std::intptr_t>(index + 1));
}

bool read_logical() { return integer_of(token(), 0, 1, "flag (0 or 1)") != 0; }
int read_enum() { return read_int(); }

QELposition read_position() {
  double x = read_real(), y = read_real(), z = read_real();
  return {x, y, z};
}

// A point of the model's geometry lies within VELM_MODEL_POINT_EXTENT on
// each axis, as in every file a reader takes; lengths may reach
// VELM_MODEL_EXTENT, beyond which their squares and products (distances,
// areas, volumes, the evaluators' sums) overflow.
QELposition read_model_position() {
  QELposition p;
  for (int i = 0; i < 3; ++i) {
    p[i] = read_real();
    if (!(std::fabs(p[i]) <= VELM_MODEL_POINT_EXTENT)) {
      char number[40];
      const auto end = std::to_chars(number, number + sizeof number - 1, p[i]).ptr;
      *end = '\0';
      const std::string what = std::string("a point at ") + "xyz"[i] + " = " + number + ", beyond any model";
      velm_save_damaged(what.c_str());
    }
  }
  return p;
}

double read_model_length() {
  const double v = read_real();
  if (!(std::fabs(v) <= VELM_MODEL_EXTENT)) velm_save_damaged("a coordinate or length beyond any model");
  return v;
}

QELvector read_vector() {
  double x = read_real(), y = read_real(), z = read_real();
  return {x, y, z};
}

QELinterval read_interval() {
  auto type = static_cast<interval_type>(
      integer_of(token(), interval_unset, interval_unbounded, "interval type"));
  double low = read_real(), high = read_real();
  return QELinterval(type, low, high);
}

namespace {
// One record: "-<index>", the identifier chain down to level 1, then the
// fields read by the first registered class of the chain, leaf first.
ENTITY* restore_record(int index) {
  reader& rd = r();
  rd.field = 0;
  rd.ident.clear();
  std::string_view start = token();
  if (start.size() < 2 || start[0] != '-' || integer_of(start.substr(1), 0, INT32_MAX, "record number") != index)
    velm_save_damaged("does not start with its own number (-<record>)");
  // An orphan would stay in the model with nobody to lose it; it is refused
  // once its class is read, so that the report names what it is.
  const bool orphan = index >= rd.top_level && !rd.take_link(static_cast<std::size_t>(index));
  // Copied out of the window: reading on may move it. The strings keep their
  // buffers from record to record.
  std::vector<std::string>& chain = rd.chain;
  std::size_t ids = 0;
  for (long long expected = -1;;) {
    std::string_view id = token();
    if (ids == chain.size()) chain.emplace_back();
    chain[ids++].assign(id);
    if (ids == 1) rd.ident.assign(id);
    long long level = integer_of(token(), 1, 64, "class level");
    if (expected != -1 && level != expected) velm_save_damaged("class levels do not count down to 1");
    if (level == 1) break;
    expected = level - 1;
  }
  if (orphan) {
    rd.field = 1;
    velm_save_damaged("no record before it links to it");
  }
  std::size_t used = 0;
  const restore_def* def = nullptr;
  if (rd.last_def && chain[0] == rd.last_known) {
    def = rd.last_def;
    used = 1;
  } else {
    if (auto at = rd.known.find(chain[0]); at != rd.known.end()) {
      def = at->second;
      used = 1;
    }
    for (; used < ids && !def; ++used) def = restore_def::find(chain[used].c_str());
    if (def && used == 1) {
      rd.known.emplace(chain[0], def);
      rd.last_known = chain[0];
      rd.last_def = def;
    }
  }
  if (!def || !def->factory()) {
    last_damage = damage_place(rd) + ": no class of the identifier chain is known";
    velm_api_error_throw(VELM_SAVE_UNKNOWN_CLASS);
  }
  ENTITY* e = velm_require(def->factory()());
  if (used == 1)
    expect("#", "more fields than its class has (no '#' where the record should end)");
  else
    skip_to_end_of_record();  // a base stands in for an unknown leaf
  return e;
}

// What a restore at the outermost frame makes, kept by the restore alone
// rather than also by the bulletin board (a model of a million entities
// would be listed twice): the record array, slot 0 null and each record's
// entity in its slot, and aside any entity a class made beside its own. If
// the restore fails, all of them go before its frame closes, newest first,
// as a frame's roll-back would destroy them. A restore inside another frame
// leaves its creations to the frames.
class restore_creations {
 public:
  explicit restore_creations(std::vector<ENTITY*>& array) : array_(array), handed_(bb_hand_creations_to(&array)) {}
  restore_creations(const restore_creations&) = delete;
  restore_creations& operator=(const restore_creations&) = delete;
  ~restore_creations() {
    if (!handed_) return;
    bb_hand_creations_to(nullptr);
    if (kept_) return;
    for (auto it = aside_.rbegin(); it != aside_.rend(); ++it)
      if (*it) velm_entity_access::destroy(*it);
    for (auto it = array_.rbegin(); it != array_.rend(); ++it)
      if (*it) velm_entity_access::destroy(*it);
  }

  bool handed() const { return handed_; }

  // Restores record `index` into its slot: the frame appends what the
  // record makes, room for it made first, so that no constructor grows the
  // array.
  void restore(int index) {
    if (array_.size() == array_.capacity()) array_.reserve(2 * array_.size());
    const std::size_t slot = array_.size();
    ENTITY* own = restore_record(index);
    if (array_.size() == slot + 1 && array_[slot] == own) return;
    // More than its own entity: the others go aside, room first, so that
    // none is dropped on the way.
    aside_.reserve(aside_.size() + array_.size() - slot);
    bool found = false;
    for (std::size_t k = slot; k < array_.size(); ++k) {
      if (array_[k] == own)
        found = true;
      else if (array_[k])
        aside_.push_back(array_[k]);
    }
    array_.resize(slot);
    // Every entity a record makes is made in this frame.
    if (!found) velm_api_error_throw(VELM_API_FAILED);
    array_.push_back(own);
  }

  // The records are read: what is made from here on (while links are
  // resolved and checked) goes aside, so that the array stays where it is.
  void records_read() {
    if (handed_) bb_hand_creations_to(&aside_);
  }

  // The restore succeeded: what was set aside joins the array's end.
  void keep() {
    array_.insert(array_.end(), aside_.begin(), aside_.end());
    aside_.clear();
    kept_ = true;
  }

 private:
  std::vector<ENTITY*>& array_;
  std::vector<ENTITY*> aside_;
  bool handed_;
  bool kept_ = false;
};
}  // namespace

outcome api_restore_entity_list(FILE* fp, int text_mode, ENTITY_LIST& restored) {
  return api_restore_entity_list(fp, text_mode, restored, nullptr);
}

outcome api_restore_entity_list(FILE* fp, int text_mode, ENTITY_LIST& restored, std::vector<ENTITY*>* every) {
  last_damage.clear();
  return velm_api("api_restore_entity_list", [&] {
    if (!fp) velm_api_error_throw(VELM_BAD_ARGUMENT);
    if (!text_mode) velm_api_error_throw(VELM_SAVE_BINARY);
    reader rd;
    rd.fp = fp;
    struct scope {
      reader* saved;
      explicit scope(reader* now) : saved(current_reader) { current_reader = now; }
      ~scope() { current_reader = saved; }
    } active(&rd);
    // A file whose length is known is refused by it before anything is read;
    // any other is refused once it has given more than a file may have.
    long long length = static_cast<long long>(max_file_size);
    if (const long from = std::ftell(fp); from >= 0 && std::fseek(fp, 0, SEEK_END) == 0) {
      length = std::ftell(fp) - from;
      std::fseek(fp, from, SEEK_SET);
      if (length > static_cast<long>(max_file_size)) velm_save_damaged("larger than the 1 GiB a save file may have");
    }

    if (token() != magic) velm_save_damaged("not a kernel text save file (no VELM-TEXT at its start)");
    FileInfo info;
    info.set_version(read_int());
    // Every record takes more than four bytes: a larger count is damage. The
    // count is never used to allocate; records are held as they come.
    int count = static_cast<int>(integer_of(token(), 0, length / 4, "record count"));
    int top_level = static_cast<int>(integer_of(token(), 0, count, "top-level count"));
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
    // made here are created inside this call's frame, so a failure destroys
    // them: through the frame, or through the restore's own list.
    std::vector<ENTITY*> array(1, nullptr);
    restore_creations made(array);
    rd.top_level = top_level;
    for (int i = 0; i < count; ++i) {
      rd.current = i;
      if (made.handed())
        made.restore(i);
      else
        array.push_back(restore_record(i));
    }
    made.records_read();
    // The file ends with its last record: a second file or anything else after it is damage.
    rd.current = count;
    rd.field = 0;
    if (skip_space(rd)) velm_save_damaged("more text after the last record the header counts");
    rd.ident.clear();
    rd.known.clear();
    rd.last_def = nullptr;
    std::string().swap(rd.data);

    std::vector<std::uint64_t>().swap(rd.linked_before);
    rd.field = 0;
    velm_fix_scope fix(array.data(), array.size(), true);
    for (int i = 0; i < count; ++i) {
      rd.current = i;
      if (static_cast<std::size_t>(i) + 1 + velm_prefetch_ahead < array.size())
        velm_prefetch(array[static_cast<std::size_t>(i) + 1 + velm_prefetch_ahead]);
      try {
        array[i + 1]->fix_pointers(array.data(), scan_copy);
      } catch (const velm_exception& e) {
        if (e.error_number() != qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED)) throw;
        velm_save_damaged("a link points at an entity of the wrong class");
      }
    }
    rd.current = -1;
    velm_check_restored(array.data() + 1, count, top_level);

    if (!save_info) save_info = &file_info_storage;
    *save_info = info;
    for (int i = 0; i < top_level; ++i) restored.add(array[i + 1]);
    if (made.handed()) made.keep();
    if (every && every->empty()) {
      // Handed over rather than copied: a large model's list is not held twice.
      array.erase(array.begin());
      every->swap(array);
    } else if (every) {
      every->insert(every->end(), array.begin() + 1, array.end());
    }
  });
}
