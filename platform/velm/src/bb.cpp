// Bulletin board: roll-back frames, logging, and the frame of the API functions.
#include <functional>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "entity_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/api.hxx"
#include "velm/bb.hxx"
#include "velm/entity.hxx"
#include "velm/options.hxx"
#include "velm/testkit.hxx"

namespace {

// The record vectors keep order; the sets and the image map are the truth, so
// an entity destroyed meanwhile (bb_forget) or an address reused is handled once.
struct frame {
  bool outer = false;
  std::vector<ENTITY*> changed;
  velm_address_map<ENTITY*> image_of;
  std::vector<ENTITY*> created;
  velm_address_bits created_set;
  std::vector<ENTITY*> lost;
  velm_address_bits lost_set;
  // Set while a restore at the outermost frame keeps the list of what it
  // makes itself (bb_hand_creations_to): creations go there, unrecorded here.
  std::vector<ENTITY*>* creations_to = nullptr;
};

std::vector<std::unique_ptr<frame>>& frames() {
  static std::vector<std::unique_ptr<frame>> f;
  return f;
}

// Frames closed and emptied, for the next ones: every API call opens one.
std::vector<std::unique_ptr<frame>>& spare_frames() {
  static std::vector<std::unique_ptr<frame>> f;
  return f;
}

void recycle(std::unique_ptr<frame> f) {
  // A frame that held a big change gives its storage back.
  constexpr std::size_t kept = 1024;
  for (std::vector<ENTITY*>* v : {&f->changed, &f->created, &f->lost}) {
    v->clear();
    if (v->capacity() > kept) v->shrink_to_fit();
  }
  f->image_of.clear();
  f->created_set.clear();
  f->lost_set.clear();
  f->creations_to = nullptr;
  f->outer = false;
  if (spare_frames().size() < 8) spare_frames().push_back(std::move(f));
}

frame* top() { return frames().empty() ? nullptr : frames().back().get(); }

// Set while bb_frame_look_back shows the entities as they were: nothing may
// change then, since the frame's records stand for the state being shown.
bool looking_back = false;

void refuse_change_while_looking_back() {
  if (looking_back) velm_api_error_throw(VELM_BAD_ARGUMENT);
}

void free_images(frame& f) {
  f.image_of.for_each([](const void*, ENTITY* image) { delete image; });
  f.image_of.clear();
}

void roll_back(frame& f) {
  for (ENTITY* e : f.lost)
    if (f.lost_set.erase(e) && !f.created_set.contains(e)) velm_entity_access::mark_lost(e, false);
  for (ENTITY* e : f.changed) {
    ENTITY** slot = f.image_of.find(e);
    if (!slot) continue;
    ENTITY* image = *slot;
    f.image_of.erase(e);
    e->roll_back(image);
    delete image;
  }
  for (auto it = f.created.rbegin(); it != f.created.rend(); ++it)
    if (f.created_set.erase(*it)) velm_entity_access::destroy(*it);
}

// Lost entities always travel up; nothing the model may still reach is freed
// before the outermost frame commits.
void hand_lost_to(frame& f, frame& parent) {
  for (ENTITY* e : f.lost)
    if (f.lost_set.erase(e) && parent.lost_set.insert(e)) parent.lost.push_back(e);
}

void merge_into(frame& f, frame& parent) {
  for (ENTITY* e : f.created)
    if (f.created_set.erase(e) && parent.created_set.insert(e)) parent.created.push_back(e);
  for (ENTITY* e : f.changed) {
    ENTITY** slot = f.image_of.find(e);
    if (!slot) continue;
    ENTITY* image = *slot;
    f.image_of.erase(e);
    if (parent.created_set.contains(e) || parent.image_of.contains(e)) {
      delete image;  // the parent's older state wins
    } else {
      parent.image_of.insert(e, image);
      parent.changed.push_back(e);
    }
  }
  hand_lost_to(f, parent);
}

void commit_outermost(frame& f) {
  free_images(f);
  const std::size_t n = f.lost.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i + velm_prefetch_ahead < n) velm_prefetch(f.lost[i + velm_prefetch_ahead]);
    // A board committed while entities are being lost (a deletion inside a
    // velm_lose_scope) frees nothing before the scope ends: the entities
    // still to be lost may hold links to what the board lost.
    if (f.lost_set.erase(f.lost[i]) && !velm_free_with_scope(f.lost[i])) velm_entity_access::destroy(f.lost[i]);
  }
}

std::string bb_end_entry(const outcome& result, bool rollback, bool discard) {
  return std::string("api_bb_end(") + (result.ok() ? "ok" : "failed") + "," +
         (rollback ? "rollback" : "norollback") + "," + (discard ? "discard" : "keep") + ")";
}

}  // namespace

int bb_depth() { return static_cast<int>(frames().size()); }

void bb_frame_entities(std::vector<ENTITY*>& out) {
  const frame* f = top();
  if (!f) return;
  out.insert(out.end(), f->changed.begin(), f->changed.end());
  out.insert(out.end(), f->created.begin(), f->created.end());
  out.insert(out.end(), f->lost.begin(), f->lost.end());
  if (f->creations_to) out.insert(out.end(), f->creations_to->begin(), f->creations_to->end());
}

void bb_frame_look_back(const std::function<void()>& look) {
  frame* f = top();
  if (!f || looking_back) {
    look();
    return;
  }
  // The state each changed entity has now, kept as a before-image of the
  // way back, so that putting it back is the roll-back's own assignment.
  std::vector<std::pair<ENTITY*, ENTITY*>> now;
  now.reserve(f->changed.size());
  auto forward = [&] {
    for (auto& [e, state] : now) {
      e->roll_back(state);
      delete state;
    }
    now.clear();
  };
  for (ENTITY* e : f->changed) {
    ENTITY** slot = f->image_of.find(e);
    if (!slot) continue;
    velm_expect_image(true);
    ENTITY* state = e->make_copy();
    velm_expect_image(false);
    if (!state) {
      forward();
      velm_out_of_memory();
    }
    now.emplace_back(e, state);
    e->roll_back(*slot);
  }
  std::vector<ENTITY*> revived;
  for (ENTITY* e : f->lost)
    if (f->lost_set.contains(e) && !f->created_set.contains(e)) {
      velm_entity_access::mark_lost(e, false);
      revived.push_back(e);
    }
  auto back = [&] {
    forward();
    for (ENTITY* e : revived) velm_entity_access::mark_lost(e, true);
    looking_back = false;
  };
  looking_back = true;
  try {
    look();
  } catch (...) {
    back();
    throw;
  }
  back();
}

bool bb_frame_changed() {
  const frame* f = top();
  return f && (!f->changed.empty() || !f->created.empty() || !f->lost.empty() ||
               (f->creations_to && !f->creations_to->empty()));
}

void bb_open(bool outer) {
  std::unique_ptr<frame> f;
  if (spare_frames().empty()) {
    f = std::make_unique<frame>();
  } else {
    f = std::move(spare_frames().back());
    spare_frames().pop_back();
  }
  f->outer = outer;
  frames().push_back(std::move(f));
}

void bb_close(const outcome& result, bool rollback_on_failure, bool discard) {
  if (frames().empty()) return;
  // Off the stack first, so that destruction during the work below cannot touch it.
  std::unique_ptr<frame> f = std::move(frames().back());
  frames().pop_back();
  frame* parent = top();
  if (!result.ok() && rollback_on_failure) {
    roll_back(*f);
  } else if (!parent) {
    commit_outermost(*f);
  } else if (discard) {
    free_images(*f);
    hand_lost_to(*f, *parent);
  } else {
    merge_into(*f, *parent);
  }
  recycle(std::move(f));
}

void api_bb_begin(bool outer) {
  velm_count_call("api_bb_begin");
  velm_log_call(outer ? "api_bb_begin(1)" : "api_bb_begin(0)");
  bb_open(outer);
}

void api_bb_end(const outcome& result, bool rollback_on_failure, bool discard) {
  velm_count_call("api_bb_end");
  if (velm_test_recording_calls()) velm_log_call(bb_end_entry(result, rollback_on_failure, discard));
  bb_close(result, rollback_on_failure, discard);
}

void update_from_bb() {
  velm_count_call("update_from_bb");
  velm_log_call("update_from_bb");
}

int logging_opt_on() {
  option_header* o = find_option("logging");
  return o ? (o->on() ? 1 : 0) : 1;
}

void set_logging(int on) {
  velm_count_call("set_logging");
  velm_log_call(on ? "set_logging(1)" : "set_logging(0)");
  option_header* o = find_option("logging");
  if (!o) o = register_option("logging", option_logical, 1.0);
  o->set(on);
}

// ---------------------------------------------------------------------------
void bb_record_creation(ENTITY* e) {
  frame* f = top();
  if (!f) return;
  if (f->creations_to) {
    f->creations_to->push_back(e);
    return;
  }
  if (f->created_set.insert(e)) f->created.push_back(e);
}

bool bb_hand_creations_to(std::vector<ENTITY*>* list) {
  frame* f = top();
  if (!list) {
    if (f) f->creations_to = nullptr;
    return false;
  }
  if (f && f->creations_to) {
    f->creations_to = list;  // the same restore, into another of its lists
    return true;
  }
  // Only the outermost frame, before it has recorded anything: its success
  // needs no list of what it made, and its failure nothing but that list.
  if (!f || frames().size() != 1 || !f->created.empty() || !f->changed.empty() || !f->lost.empty()) return false;
  f->creations_to = list;
  return true;
}

bool bb_created_in_current_frame(const ENTITY* e) {
  frame* f = top();
  return f && f->created_set.contains(e);
}

void bb_record_backup(ENTITY* e) {
  frame* f = top();
  // A frame whose creations a restore keeps has nothing to back up: all a
  // restore reaches (through the links of its own records) it made itself.
  if (f && !e->is_backup_image()) refuse_change_while_looking_back();
  if (!f || f->creations_to || e->is_backup_image() || f->created_set.contains(e) || f->image_of.contains(e))
    return;
  velm_expect_image(true);
  ENTITY* image = e->make_copy();
  velm_expect_image(false);
  if (!image) velm_out_of_memory();
  f->image_of.insert(e, image);
  f->changed.push_back(e);
}

bool bb_record_loss(ENTITY* e) {
  frame* f = top();
  if (!f) return false;
  refuse_change_while_looking_back();
  velm_entity_access::mark_lost(e, true);
  if (f->lost_set.insert(e)) f->lost.push_back(e);
  return true;
}

void bb_forget(ENTITY* e) {
  for (auto& f : frames()) {
    if (f->creations_to) {
      // Nearly always the newest (a construction that failed half way).
      std::vector<ENTITY*>& made = *f->creations_to;
      for (auto it = made.rbegin(); it != made.rend(); ++it)
        if (*it == e) {
          *it = nullptr;
          break;
        }
    }
    f->created_set.erase(e);
    f->lost_set.erase(e);
    if (ENTITY** image = f->image_of.find(e)) {
      delete *image;
      f->image_of.erase(e);
    }
  }
}

// ---------------------------------------------------------------------------
int velm_api_enter(const char* name) {
  velm_count_call(name);
  velm_log_call(name);
  return velm_take_injected_failure(name);
}

namespace {
long failed_api_calls = 0;
}  // namespace

long velm_failed_api_calls() { return failed_api_calls; }

outcome velm_api_leave(const outcome& result) {
  if (result.ok()) return result;
  ++failed_api_calls;
  outcome failed = result;
  if (!failed.get_error_info()) failed = outcome(result.error_number(), new error_info(result.error_number()));
  set_global_error_info(failed.get_error_info());
  return failed;
}

outcome velm_outcome_of(const velm_exception& e) {
  int number = e.error_number() ? e.error_number() : qelvelm_api_errmod.message_code(VELM_API_FAILED);
  return outcome(number, e.get_error_info());
}

outcome velm_outcome_of_unknown() { return outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)); }

void velm_check_call(const char* name) {
  velm_count_call(name);
  if (int error = velm_take_injected_failure(name)) sys_error(error);
}
