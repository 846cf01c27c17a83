// Outcomes, error records, the kernel exception, interrupts and message modules.
#include <cstring>
#include <vector>

#include "velm/errors.hxx"
#include "velm/lists.hxx"

// ---------------------------------------------------------------------------
error_info::error_info(int error_number, const char* text)
    : number_(error_number), text_(text ? text : velm_exception_label()) {}

error_info::~error_info() { delete entities_; }

void error_info::add() { ++refs_; }

void error_info::remove() {
  if (--refs_ <= 0) delete this;
}

ENTITY_LIST& error_info::entities() {
  if (!entities_) entities_ = velm_require(new ENTITY_LIST);
  return *entities_;
}

namespace {
// Holds one reference while pointing at a record.
void hold(error_info*& slot, error_info* info) {
  if (slot == info) return;
  if (info) info->add();
  if (slot) slot->remove();
  slot = info;
}
}  // namespace

outcome::outcome(int error_number, error_info* info) : number_(error_number), info_(nullptr) {
  hold(info_, info);
}
outcome::outcome(const outcome& other) : number_(other.number_), info_(nullptr) {
  hold(info_, other.info_);
}
outcome& outcome::operator=(const outcome& other) {
  number_ = other.number_;
  hold(info_, other.info_);
  return *this;
}
outcome::~outcome() { hold(info_, nullptr); }

velm_exception::velm_exception(int error_number, error_info* info)
    : number_(error_number), info_(nullptr) {
  hold(info_, info);
}
velm_exception::velm_exception(const velm_exception& other)
    : number_(other.number_), info_(nullptr) {
  hold(info_, other.info_);
}
velm_exception& velm_exception::operator=(const velm_exception& other) {
  number_ = other.number_;
  hold(info_, other.info_);
  return *this;
}
velm_exception::~velm_exception() { hold(info_, nullptr); }

// ---------------------------------------------------------------------------
namespace {
error_info* global_info = nullptr;
int error_mark = 0;
const char* exception_label = "";
bool interrupt_pending = false;
}  // namespace

void set_global_error_info(error_info* info) { hold(global_info, info); }
error_info* get_global_error_info() { return global_info; }
int& get_error_mark() { return error_mark; }
void VELMExceptionCheck(const char* label) { exception_label = label ? label : ""; }
const char* velm_exception_label() { return exception_label; }

void exception_save::begin() {
  if (begun_) return;
  begun_ = true;
  mark_ = error_mark;
  hold(info_, global_info);
}

exception_save::~exception_save() {
  if (!begun_) return;
  error_mark = mark_;
  set_global_error_info(info_);
  hold(info_, nullptr);
}

bool velm_interrupted() { return interrupt_pending; }
void velm_request_interrupt() { interrupt_pending = true; }
void velm_clear_interrupt() { interrupt_pending = false; }

void sys_error(int error_number, error_info* info) {
  if (interrupt_pending) {
    interrupt_pending = false;
    if (error_number == 0) error_number = qelvelm_api_errmod.message_code(VELM_INTERRUPTED);
  }
  throw velm_exception(error_number, info);
}

void velm_api_error_throw(velm_api_error index) { sys_error(qelvelm_api_errmod.message_code(index)); }

// ---------------------------------------------------------------------------
namespace {
std::vector<const message_module*>& modules() {
  static std::vector<const message_module*> m;
  return m;
}

const message_module* module_of(int error_number) {
  for (const message_module* m : modules())
    if (error_number >= m->base() && error_number < m->base() + m->count()) return m;
  return nullptr;
}
}  // namespace

message_module::message_module(const char* module_name, const message_list* entries)
    : name_(module_name), entries_(entries) {
  while (entries_ && (entries_[count_].name || entries_[count_].text)) ++count_;
  // Next free multiple of 1000 from 1000; a freed slot is taken again.
  for (base_ = 1000;; base_ += 1000) {
    bool taken = false;
    for (const message_module* m : modules()) taken = taken || m->base() == base_;
    if (!taken) break;
  }
  modules().push_back(this);
}

message_module::~message_module() {
  auto& m = modules();
  for (auto it = m.begin(); it != m.end(); ++it)
    if (*it == this) {
      m.erase(it);
      break;
    }
}

int message_module::message_code(int index) const {
  return index >= 0 && index < count_ ? base_ + index : -1;
}

const char* message_module::find_message(int error_number) {
  const message_module* m = module_of(error_number);
  return m ? m->entries_[error_number - m->base()].text : nullptr;
}

const char* message_module::find_message_name(int error_number) {
  const message_module* m = module_of(error_number);
  return m ? m->entries_[error_number - m->base()].name : nullptr;
}

// ---------------------------------------------------------------------------
// The kernel's own modules, in a fixed order so that their bases are fixed.
namespace {
const message_list api_messages[] = {
    {"API_FAILED", "API failed"},
    {"INTERRUPTED", "interrupted"},
    {"BAD_ARGUMENT", "bad argument"},
    {"NULL_ENTITY", "null entity"},
    {"WRONG_TYPE", "entity of wrong type"},
    {"BAD_FACE_LOOPS", "bad face loops"},
    {"NO_CONVERGENCE", "operation failed to converge"},
    {"NOT_IMPLEMENTED", "not implemented in the stand-in"},
    {"SAVE_FILE_DAMAGED", "save file damaged"},
    {"SAVE_UNKNOWN_CLASS", "unknown entity class in save file"},
    {"SAVE_BINARY", "binary save files are not supported"},
    {"SAVE_IO", "save file could not be written"},
    {"NOT_LIVE", "entity is not live"},
    {nullptr, nullptr}};

const message_list mmgr_messages[] = {
    {"MMGR_RESERVED_0", "reserved"}, {"MMGR_RESERVED_1", "reserved"},
    {"MMGR_RESERVED_2", "reserved"}, {"MMGR_RESERVED_3", "reserved"},
    {"MMGR_RESERVED_4", "reserved"}, {"MMGR_RESERVED_5", "reserved"},
    {"MMGR_RESERVED_6", "reserved"}, {"MMGR_RESERVED_7", "reserved"},
    {"OUT_OF_MEMORY", "out of memory"}, {nullptr, nullptr}};

// Insanity entries: the named ones of the entity checks, "reserved" elsewhere up to 140.
struct insanity_table {
  message_list entries[142];
  insanity_table() {
    for (int i = 0; i < 141; ++i) entries[i] = {"INSANITY_RESERVED", "reserved"};
    entries[141] = {nullptr, nullptr};
    entries[0] = {"INSANITY_NONE", "no finding"};
    entries[1] = {"NO_GEOMETRY", "entity has no geometry"};
    entries[2] = {"VERTEX_OFF_EDGE", "vertex not on edge curve"};
    entries[3] = {"EDGE_OFF_FACE", "edge not on face surface"};
    entries[4] = {"OPEN_LOOP", "open loop"};
    entries[5] = {"BAD_PARTNER_RING", "bad partner ring"};
    entries[6] = {"BAD_NEXT_RING", "bad next/previous ring"};
    entries[7] = {"BAD_OWNER", "bad owner link"};
    entries[8] = {"BAD_VERTEX_EDGES", "vertex edge list broken"};
    entries[9] = {"BAD_FACE_LOOPS", "bad face loops"};
    entries[10] = {"PCURVE_OUTSIDE_SURFACE", "pcurve outside its surface's range"};
    entries[11] = {"BAD_CURVE", "curve check failed"};
    entries[12] = {"BAD_SURFACE", "surface check failed"};
    entries[13] = {"NOT_FINITE", "point or parameter range not finite"};
    entries[24] = {"END_VERTEX_TOL", "end vertex tolerance too small"};
    entries[34] = {"COEDGE_OFF_EDGE", "coedge off its edge"};
    entries[37] = {"START_VERTEX_TOL", "start vertex tolerance too small"};
    entries[69] = {"COEDGE_END_OFF", "coedge end not at end vertex"};
    entries[98] = {"BAD_APEX_EDGE", "faulty null edge at cone apex"};
    entries[138] = {"COEDGE_START_OFF", "coedge start not at start vertex"};
  }
};
const insanity_table insanity_messages;

struct splsur_table {
  message_list entries[12];
  splsur_table() {
    for (int i = 0; i < 11; ++i) entries[i] = {"SPLSUR_RESERVED", "reserved"};
    entries[10] = {"OFFSET_DEGENERATE", "offset surface degenerate"};
    entries[11] = {nullptr, nullptr};
  }
};
const splsur_table splsur_messages;
}  // namespace

message_module qelvelm_api_errmod("qelvelm_api", api_messages);
message_module qelbase_mmgr_errmod("qelbase_mmgr", mmgr_messages);
message_module qelvelm_insanity_errmod("qelvelm_insanity", insanity_messages.entries);
message_module qelvelm_splsur_errmod("qelvelm_splsur", splsur_messages.entries);
