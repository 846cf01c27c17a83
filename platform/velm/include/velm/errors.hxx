// Errors of the kernel: outcomes, reference-counted error records, the kernel
// exception, exception frames, interrupts and message modules.
#pragma once

#include <string>

#include "velm/memory.hxx"

class ENTITY_LIST;

// Reference-counted error record. Made with one reference owned by nobody:
// the first holder adds its reference; remove() deletes at zero.
class error_info : public VELM_OBJECT {
 public:
  explicit error_info(int error_number, const char* text = nullptr);
  error_info(const error_info&) = delete;
  error_info& operator=(const error_info&) = delete;

  void add();
  void remove();
  int references() const { return refs_; }
  int error_number() const { return number_; }
  const char* text() const { return text_.c_str(); }
  ENTITY_LIST& entities();

 private:
  ~error_info();
  int number_;
  int refs_ = 0;
  std::string text_;
  ENTITY_LIST* entities_ = nullptr;
};

// Result of an API call; error number 0 is success. Holds one reference to its record.
class outcome {
 public:
  outcome(int error_number = 0, error_info* info = nullptr);
  outcome(const outcome& other);
  outcome& operator=(const outcome& other);
  ~outcome();

  bool ok() const { return number_ == 0; }
  int error_number() const { return number_; }
  error_info* get_error_info() const { return info_; }

 private:
  int number_;
  error_info* info_;
};

// Thrown by inner kernel routines. Deliberately not a std::exception, so that
// generic catch blocks of other layers never swallow a kernel error.
class velm_exception {
 public:
  explicit velm_exception(int error_number, error_info* info = nullptr);
  velm_exception(const velm_exception& other);
  velm_exception& operator=(const velm_exception& other);
  ~velm_exception();
  int error_number() const { return number_; }
  error_info* get_error_info() const { return info_; }

 private:
  int number_;
  error_info* info_;
};

// Process-wide last error record of a failing API call (holds a reference).
void set_global_error_info(error_info* info);
error_info* get_global_error_info();

// Process-wide error mark; brackets set it to 1 while a catching frame is active.
int& get_error_mark();

// Label of the current API frame; the text of later error records.
void VELMExceptionCheck(const char* label);
const char* velm_exception_label();

// Exception frame: begin() saves the error mark and the global error record,
// the destructor puts them back.
class exception_save {
 public:
  exception_save() = default;
  exception_save(const exception_save&) = delete;
  exception_save& operator=(const exception_save&) = delete;
  ~exception_save();
  void begin();

 private:
  bool begun_ = false;
  int mark_ = 0;
  error_info* info_ = nullptr;
};

// Interrupts: requested from outside, raised by the next sys_error.
bool velm_interrupted();
void velm_request_interrupt();
void velm_clear_interrupt();

// Throws velm_exception. A pending interrupt is cleared, and an error number
// of 0 then becomes the "interrupted" code of qelvelm_api_errmod.
[[noreturn]] void sys_error(int error_number, error_info* info = nullptr);

struct message_list {
  const char* name;
  const char* text;
};

// A numbered family of messages. Codes are base + index, the base being the
// next free multiple of 1000 from 1000, given at construction.
class message_module {
 public:
  message_module(const char* module_name, const message_list* entries);
  message_module(const message_module&) = delete;
  message_module& operator=(const message_module&) = delete;
  ~message_module();

  int message_code(int index) const;  // -1 outside 0 .. count-1
  const char* name() const { return name_; }
  int count() const { return count_; }
  int base() const { return base_; }

  // Text / name of an error number of any registered module; null when unknown.
  static const char* find_message(int error_number);
  static const char* find_message_name(int error_number);

 private:
  const char* name_;
  const message_list* entries_;
  int count_ = 0;
  int base_ = 0;
};

extern message_module qelvelm_api_errmod;      // 0 "API failed", 1 "interrupted", ...
extern message_module qelbase_mmgr_errmod;     // 8 "out of memory"
extern message_module qelvelm_insanity_errmod; // entity check findings
extern message_module qelvelm_splsur_errmod;   // 10 "offset surface degenerate"

// Indices of qelvelm_api_errmod.
enum velm_api_error {
  VELM_API_FAILED = 0,
  VELM_INTERRUPTED = 1,
  VELM_BAD_ARGUMENT = 2,
  VELM_NULL_ENTITY = 3,
  VELM_WRONG_TYPE = 4,
  VELM_BAD_FACE_LOOPS = 5,
  VELM_NO_CONVERGENCE = 6,
  VELM_NOT_IMPLEMENTED = 7,
  VELM_SAVE_FILE_DAMAGED = 8,
  VELM_SAVE_UNKNOWN_CLASS = 9,
  VELM_SAVE_BINARY = 10,
  VELM_SAVE_IO = 11,
  VELM_NOT_LIVE = 12
};

// Throws the qelvelm_api_errmod error of that index.
[[noreturn]] void velm_api_error_throw(velm_api_error index);
