// The frame every api_* function runs in, and the entry check of inner routines.
//
//   outcome api_do_something(ENTITY* e) {
//     return velm_api("api_do_something", [&] { ...; });   // body returns void or outcome
//   }
//
// velm_api logs and counts the call, honours an injected failure, opens its own
// roll-back frame, turns a velm_exception into the outcome, rolls back and sets
// the global error record on failure. It never throws.
//
// Inner routines start with velm_check_call("sg_something"), which counts the
// call and throws an injected failure.
#pragma once

#include <type_traits>
#include <utility>

#include "velm/bb.hxx"
#include "velm/errors.hxx"

// Logs the call of an API function; returns the injected error number, or 0.
int velm_api_enter(const char* name);
// Ends the API frame with `result`; on failure makes sure it carries a record
// and publishes it as the global error record. Returns the final outcome.
outcome velm_api_leave(const outcome& result);
// How many API calls have failed in this process (injected failures
// included): a caller that keeps going past a refused call inside a longer
// step compares it before and after the step to say the step fell short.
long velm_failed_api_calls();
// The outcome of a caught kernel exception.
outcome velm_outcome_of(const velm_exception& e);
outcome velm_outcome_of_unknown();
// Counts an inner routine's call and throws an injected failure.
void velm_check_call(const char* name);

template <class Body>
outcome velm_api(const char* name, Body&& body) noexcept {
  if (int injected = velm_api_enter(name)) return velm_api_leave(outcome(injected));
  bb_open(false);
  outcome result;
  try {
    if constexpr (std::is_void_v<decltype(body())>) {
      body();
    } else {
      result = body();
    }
  } catch (const velm_exception& e) {
    result = velm_outcome_of(e);
  } catch (...) {
    // No other exception may cross the API; it fails the call like any error.
    result = velm_outcome_of_unknown();
  }
  bb_close(result, true, false);
  return velm_api_leave(result);
}
