// Failure sweeps over one repair step: the nth kernel call of the step fails,
// for every n until the step runs through, each time on a freshly built model.
#pragma once

#include <functional>
#include <string>
#include <vector>

class BODY;
class ENTITY;

namespace testkit {

// The runs a failure sweep makes: `ci` in an ordinary test run, or as many as
// XVELM_SWEEP_RUNS asks (a whole sweep, run by hand).
long sweep_runs(long ci);
// True when XVELM_SWEEP_RUNS asks for whole sweeps.
bool whole_sweep_asked();
// Whether the run at `position` (from 0) in a sweep's list of runs is this
// process's: XVELM_SWEEP_SHARD=k/n splits a whole sweep into n processes,
// the kth taking every nth run from its kth, so that a long one can run in
// parallel. Every run when it is not set.
bool in_sweep_shard(long position);
// The calls or allocations (numbered from 1) a sweep over `count` of them
// fails: every nth (n chosen so that about `runs` are made), the last three
// (where documents are deleted), and with call names (velm_test_failable_calls)
// the first call of each name, so that every kind of call fails once at
// least. Every one of them when `runs` is at least `count`.
std::vector<long> sampled_failures(long count, long runs, const std::vector<std::string>& names = {});
// `runs` distinct calls or allocations of `count` (numbered from 1), drawn
// at random from a seed made of `salt` and XVELM_SWEEP_SEED (1 when not set),
// so that an ordinary test run samples a long sweep and repeats its draw;
// ascending. All of them when `runs` is at least `count`.
std::vector<long> seeded_failures(long count, long runs, const std::string& salt);
// The seed seeded_failures adds to its salt.
unsigned long sweep_seed();
// Prints what a sweep covered: `failed` of the first `reached` calls or
// allocations failed in turn.
void report_sweep(const char* what, long failed, long reached);

// The body's save text without the dated line and with entity numbers
// blanked, so that two saves of equal models read the same.
std::string body_text(const ENTITY* body);

// For n = 1, 2, ...: builds a model, makes the nth kernel call of `step`
// fail and checks that the model is then either exactly as built or exactly
// as an undisturbed run of the step leaves it (save texts compared), passes
// the structural check, and that deleting it leaves no kernel object alive.
// Stops at the first n the step no longer reaches; gives the number of runs
// in which a failure was injected.
long sweep_kernel_calls(const std::function<BODY*()>& build, const std::function<void(BODY*)>& step);

// The calls (numbered from 1 as velm_test_fail_call counts them) that a sweep
// over a run working on one body after another needs to fail: the run's
// failable calls (velm_test_failable_calls) cut at `ends`, the call counts
// at which each body's work ended; a stretch whose calls repeat those of the
// stretch before it, name for name, is left out, its failures being the same.
std::vector<long> calls_worth_failing(const std::vector<std::string>& calls, const std::vector<long>& ends);

}  // namespace testkit
