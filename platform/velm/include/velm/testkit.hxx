// Test kit of the kernel: failure injection, call counts and log, option and
// model checks. Only tests (and the framework's test support) call it.
#pragma once

#include <functional>
#include <string>
#include <vector>

class ENTITY_LIST;

class ENTITY;

// The nth next call (1 = the next) of that kernel function fails with the
// error: an api_* returns it as its outcome, an inner routine throws it.
// The name "*" counts the calls of every function that can fail this way.
void velm_test_fail_call(const char* function_name, long nth, int error_number);
void velm_test_fail_next(const char* function_name, int error_number);
// The nth next kernel allocation whose tracked source file contains the text
// (null: any allocation, plain or tracked) returns null.
void velm_test_fail_alloc(const char* source_file, long nth);
void velm_test_fail_alloc_after(long n);
// True while an injected call or allocation failure has not fired yet.
bool velm_test_injection_pending();
// The function the last injected call failure hit ("" when none since the reset).
const std::string& velm_test_last_injected_call();
void velm_test_request_interrupt();
// The call record (counts and log) is kept only while switched on, so that a
// program that never asks for it pays nothing per call.
void velm_test_record_calls(bool on);
bool velm_test_recording_calls();
// While on, every kernel allocation remembers where it was made, for
// velm_live_objects (a reset turns it off).
void velm_test_record_object_sites(bool on);
// Calls since the last reset while the record was on.
long velm_test_call_count(const char* function_name);
// api_* calls and the bulletin-board protocol, e.g. "api_bb_end(failed,rollback,discard)".
const std::vector<std::string>& velm_test_call_log();
// Every call a "*" failure counts, by name in call order, while the record is on:
// entry n - 1 is the call that velm_test_fail_call("*", n, ...) makes fail.
const std::vector<std::string>& velm_test_failable_calls();
// Kernel allocations (plain and tracked) made while the record is on: the
// allocation that velm_test_fail_alloc(nullptr, n) makes fail is the nth.
long velm_test_allocation_count();
// Clears counters, the log, injected failures, the interrupt and the global
// error record; options to defaults; the call record and unchecked saves off.
void velm_test_reset();
void velm_test_unregister_option(const char* name);
// Runs `body` while `list` (empty) finds its entries through the entities'
// scratch, as the kernel's walks, copies and saves do; a nested call runs its
// list through the hashed index, as a pass inside another does.
void velm_test_with_stamped_list(ENTITY_LIST& list, const std::function<void()>& body);
// While on, the save writes faces and edges its restore would refuse (an
// edge whose vertex lies off its curve, a face without surface equation)
// instead of refusing them, and the restore reads edges whose vertices lie
// off their curves as they are: for a test's text of a faulty model, and for
// a test that heals an unhealed import from its save file.
// velm_test_reset turns it off.
void velm_test_save_unchecked(bool on);
// Strict structural check of a model (rings, back-links, use counts, edge groups).
bool velm_test_check_model(const ENTITY* root, std::string* report);

// Kernel-side hooks of the kit; they do nothing while the record is off.
void velm_log_call(const char* entry);
void velm_log_call(const std::string& entry);
void velm_count_call(const char* function_name);
// The error number of an injected failure due at this call of the function, or 0.
int velm_take_injected_failure(const char* function_name);
// True when an allocation from that file must fail now.
bool velm_take_injected_alloc_failure(const char* source_file);
