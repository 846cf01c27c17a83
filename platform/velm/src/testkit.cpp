// Test kit: call counts and log, failure injection, interrupts, option reset.
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "velm/errors.hxx"
#include "velm/options.hxx"
#include "velm/testkit.hxx"

namespace {
struct injected_call {
  std::string name;
  long remaining;
  int error;
};

struct alloc_failure {
  bool active = false;
  bool any = false;
  std::string file;
  long remaining = 0;
};

struct kit_state {
  std::unordered_map<std::string, long> counts;
  std::vector<std::string> log;
  std::vector<std::string> failable;
  std::vector<injected_call> calls;
  alloc_failure alloc;
  std::string last_injected;
  long allocations = 0;
};

bool recording = false;

kit_state& kit() {
  static auto* state = new kit_state;  // used from allocations made during exit too
  return *state;
}
}  // namespace

void velm_test_fail_call(const char* function_name, long nth, int error_number) {
  if (!function_name || nth < 1) return;
  kit().calls.push_back({function_name, nth, error_number});
}

void velm_test_fail_next(const char* function_name, int error_number) {
  velm_test_fail_call(function_name, 1, error_number);
}

void velm_test_fail_alloc(const char* source_file, long nth) {
  alloc_failure& a = kit().alloc;
  a.active = nth >= 1;
  a.any = source_file == nullptr;
  a.file = source_file ? source_file : "";
  a.remaining = nth;
}

void velm_test_fail_alloc_after(long n) { velm_test_fail_alloc(nullptr, n); }

bool velm_test_injection_pending() { return !kit().calls.empty() || kit().alloc.active; }

const std::string& velm_test_last_injected_call() { return kit().last_injected; }

void velm_test_request_interrupt() { velm_request_interrupt(); }

long velm_test_call_count(const char* function_name) {
  if (!function_name) return 0;
  auto it = kit().counts.find(function_name);
  return it == kit().counts.end() ? 0 : it->second;
}

const std::vector<std::string>& velm_test_call_log() { return kit().log; }

const std::vector<std::string>& velm_test_failable_calls() { return kit().failable; }

long velm_test_allocation_count() { return kit().allocations; }

void velm_test_record_calls(bool on) { recording = on; }
bool velm_test_recording_calls() { return recording; }

void velm_test_reset() {
  kit_state& k = kit();
  k.counts.clear();
  k.log.clear();
  k.failable.clear();
  k.calls.clear();
  k.alloc = alloc_failure{};
  k.last_injected.clear();
  k.allocations = 0;
  recording = false;
  velm_test_record_object_sites(false);
  velm_clear_interrupt();
  set_global_error_info(nullptr);
  reset_kernel_options();
  velm_test_save_unchecked(false);
}

void velm_test_unregister_option(const char* name) { unregister_option(name); }

void velm_log_call(const char* entry) {
  if (recording && entry) kit().log.emplace_back(entry);
}

void velm_log_call(const std::string& entry) {
  if (recording) kit().log.push_back(entry);
}

void velm_count_call(const char* function_name) {
  if (recording && function_name) ++kit().counts[function_name];
}

int velm_take_injected_failure(const char* function_name) {
  if (!function_name) return 0;
  if (recording) kit().failable.emplace_back(function_name);
  auto& calls = kit().calls;
  int error = 0;
  for (auto it = calls.begin(); it != calls.end();) {
    if ((it->name == function_name || it->name == "*") && --it->remaining == 0) {
      if (!error) {
        error = it->error;
        kit().last_injected = function_name;
      }
      it = calls.erase(it);
    } else {
      ++it;
    }
  }
  return error;
}

bool velm_take_injected_alloc_failure(const char* source_file) {
  if (recording) ++kit().allocations;
  alloc_failure& a = kit().alloc;
  if (!a.active) return false;
  if (!a.any && (!source_file || !std::strstr(source_file, a.file.c_str()))) return false;
  if (--a.remaining > 0) return false;
  a.active = false;
  return true;
}
