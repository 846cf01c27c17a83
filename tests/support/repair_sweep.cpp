// Failure sweeps over repair steps.
#include "support/repair_sweep.hxx"

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/model_builders.hxx"
#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/memory.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace testkit {

bool whole_sweep_asked() { return std::getenv("XVELM_SWEEP_RUNS") != nullptr; }

bool in_sweep_shard(long position) {
  const char* shard = std::getenv("XVELM_SWEEP_SHARD");
  long k = 0, n = 1;
  if (!shard || std::sscanf(shard, "%ld/%ld", &k, &n) != 2 || n < 1) return true;
  return position % n == k;
}

long sweep_runs(long ci) {
  const char* runs = std::getenv("XVELM_SWEEP_RUNS");
  return runs ? std::max(1L, std::atol(runs)) : ci;
}

std::vector<long> sampled_failures(long count, long runs, const std::vector<std::string>& names) {
  const long every = std::max(1L, count / std::max(1L, runs));
  std::set<long> picked;
  for (long n = 1; n <= count; n += every) picked.insert(n);
  for (long n = std::max(1L, count - 2); n <= count; ++n) picked.insert(n);
  std::map<std::string, int> met;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (++met[names[i]] <= 1) picked.insert(static_cast<long>(i) + 1);
  return {picked.begin(), picked.end()};
}

unsigned long sweep_seed() {
  const char* seed = std::getenv("XVELM_SWEEP_SEED");
  return seed ? std::strtoul(seed, nullptr, 10) : 1UL;
}

std::vector<long> seeded_failures(long count, long runs, const std::string& salt) {
  std::vector<long> all;
  for (long n = 1; n <= count; ++n) all.push_back(n);
  if (runs >= count) return all;
  std::seed_seq seq(salt.begin(), salt.end());
  std::vector<std::uint32_t> words(1);
  seq.generate(words.begin(), words.end());
  std::mt19937 draw(static_cast<std::uint32_t>(words[0] ^ sweep_seed()));
  std::shuffle(all.begin(), all.end(), draw);
  all.resize(static_cast<std::size_t>(std::max(0L, runs)));
  std::sort(all.begin(), all.end());
  return all;
}

void report_sweep(const char* what, long failed, long reached) {
  std::printf("[ covered  ] %ld of %ld %s failing in turn\n", failed, reached, what);
}

std::string body_text(const ENTITY* body) {
  ENTITY_LIST list;
  list.add(const_cast<ENTITY*>(body));
  FILE* fp = std::tmpfile();
  std::string text;
  // The faulty bodies a repair starts from are written as they are, for
  // comparing, though no save file may hold them.
  velm_test_save_unchecked(true);
  const bool saved = api_save_entity_list(fp, 1, list).ok();
  velm_test_save_unchecked(false);
  if (saved) {
    std::rewind(fp);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) text.append(buf, n);
  }
  std::fclose(fp);
  std::istringstream lines(text);
  std::string plain;
  int line_no = 0;
  for (std::string line; std::getline(lines, line); ++line_no) {
    if (line_no == 1) continue;  // the date of saving
    const std::size_t attribute = line.find('$');
    const std::size_t number = attribute == std::string::npos ? attribute : line.find(' ', attribute);
    const std::size_t after = number == std::string::npos ? number : line.find(' ', number + 1);
    if (after != std::string::npos) line.replace(number + 1, after - number - 1, "#");
    plain += line + '\n';
  }
  return plain;
}

long sweep_kernel_calls(const std::function<BODY*()>& build, const std::function<void(BODY*)>& step) {
  velm_test_reset();
  BODY* clean = build();
  const std::string as_built = body_text(clean);
  step(clean);
  const std::string repaired = body_text(clean);
  api_del_entity(clean);
  long injected = 0;
  for (long n = 1;; ++n) {
    velm_test_reset();
    const long objects = velm_live_object_count();
    BODY* body = build();
    velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
    step(body);
    const bool fired = !velm_test_injection_pending();
    const std::string where = "call " + std::to_string(n) + " (" + velm_test_last_injected_call() + ")";
    velm_test_reset();
    const std::string now = body_text(body);
    EXPECT_TRUE(now == as_built || now == repaired) << where << ": the model is neither as built nor repaired";
    EXPECT_EQ(model_problems(body), "") << where;
    api_del_entity(body);
    set_global_error_info(nullptr);
    EXPECT_EQ(velm_live_object_count(), objects) << where << ": kernel objects left alive";
    if (!fired) break;
    ++injected;
  }
  return injected;
}

std::vector<long> calls_worth_failing(const std::vector<std::string>& calls, const std::vector<long>& ends)
{
    std::vector<long> cuts{0};
    for (long e : ends)
        if (e > cuts.back() && e <= static_cast<long>(calls.size()))
            cuts.push_back(e);
    cuts.push_back(static_cast<long>(calls.size()));
    std::vector<long> out;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        const long from = cuts[k], to = cuts[k + 1];
        const bool repeats = k > 0 && to - from == from - cuts[k - 1] &&
                             std::equal(calls.begin() + from, calls.begin() + to, calls.begin() + cuts[k - 1]);
        if (repeats)
            continue;
        for (long n = from + 1; n <= to; ++n)
            out.push_back(n);
    }
    return out;
}

}  // namespace testkit
