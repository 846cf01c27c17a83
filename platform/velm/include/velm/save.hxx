// Save files: a text format of the kernel's own.
//
//   VELM-TEXT <version> <record count> <top-level count>
//   <product id literal> <date literal> <units real> <sending system literal>
//   -<index> <identifier> <level> ... <common data> <own fields> #
//
// The identifier chain runs from the leaf down to level 1. Integers are
// decimal, reals have 17 significant digits (bit-exact round trip), literals
// are "@<length> <bytes>" ("@-1" for null), pointers "$<index>" ("$-1" null).
// The first <top-level count> records are the entities that were asked for.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "velm/entity.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"

constexpr int VELM_SAVE_VERSION = 2000;

class FileInfo {
 public:
  FileInfo();
  double units() const { return units_; }  // millimetres per file unit; negative = unknown
  void set_units(double units) { units_ = units; }
  const char* product_id() const { return product_id_; }
  void set_product_id(const char* id);
  int version() const { return version_; }
  void set_version(int version) { version_ = version; }
  const char* date() const { return date_; }
  void set_date(const char* date);
  const char* sending_system() const { return sending_system_; }
  void set_sending_system(const char* name);

 private:
  double units_ = -1.0;
  int version_ = VELM_SAVE_VERSION;
  char product_id_[256] = {};
  char date_[64] = {};
  char sending_system_[256] = {};
};

// Current file information: null at start-up, made by api_set_file_info and
// by every restore (the restored file's header).
extern FileInfo* save_info;

enum file_info_mask : unsigned {
  FileInfo_product_id = 1,
  FileInfo_units = 2,
  FileInfo_sending_system = 4
};

outcome api_set_file_info(unsigned mask, const FileInfo& info);
outcome api_get_file_info(FileInfo& info);

// Adds the root and everything a save of it would take along (whatever
// write_ptr reaches, through any class's fields) to `reached`; writes nothing.
void velm_save_reach(const ENTITY* root, ENTITY_LIST& reached);
// Saves every entity of the list and everything reachable from it through
// write_ptr. Text mode only (text_mode 0 fails).
outcome api_save_entity_list(FILE* fp, int text_mode, const ENTITY_LIST& entities);
bool save_entity_on_file(FILE* fp, const ENTITY* entity, int text_mode);
// Where and why the last save refused the model, for people, when it can say
// ("body 0, edge 3: its curve carries no equation, though it runs between
// two vertices": an edge its restore would refuse); empty otherwise.
const char* velm_last_save_refusal();
// Restores a file; the entities that were saved as the list go to `restored`
// in file order. Any damage fails the call and leaves nothing behind.
outcome api_restore_entity_list(FILE* fp, int text_mode, ENTITY_LIST& restored);
// The same, appending to `every` (when given) every entity the restore made,
// in file order: what a caller that is done with the file deletes.
outcome api_restore_entity_list(FILE* fp, int text_mode, ENTITY_LIST& restored, std::vector<ENTITY*>* every);
// Where the last restore found damage, for people: "record 12 (coedge), field 7:
// not a whole number where an integer belongs", "header: ...", "after the last
// record (40): ...". Empty when the last restore found none. The identifier is
// the file's own text: escape it before printing.
const char* velm_last_restore_damage();
// Raises the damage error of the restore running now, saying what was wrong;
// the record and field are the reader's current ones.
[[noreturn]] void velm_save_damaged(const char* what);

// Record fields (valid while an entity's save runs).
void write_id_level(const char* identifier, int level);
void write_int(int value);
void write_long(long value);
void write_real(double value);
void write_literal(const char* text);
void write_ptr(const ENTITY* e, ENTITY_LIST& list);
void write_logical(bool value);
void write_position(const QELposition& p);
void write_vector(const QELvector& v);
void write_interval(const QELinterval& i);
void write_enum(int value);

// Record fields (valid while a restore runs). Any malformed field raises the
// "save file damaged" error.
int read_int();
long read_long();
double read_real();
char* read_string(int& length);                   // new[] buffer (null for a null literal)
void read_string(char* field, std::size_t capacity);  // truncates, always terminated
ENTITY* read_ptr();                               // encoded index, resolved by read_array
bool read_logical();
QELposition read_position();
QELvector read_vector();
QELinterval read_interval();
int read_enum();
