// Bulletin board: nested roll-back frames over kernel entities, and logging.
//
// Inside an open frame every change of an entity is preceded by a before-image
// (ENTITY::backup), every creation is recorded, and an entity that is lost is
// unlinked at once but freed only when the outermost frame ends successfully.
// A frame that fails with roll-back restores the before-images, destroys what
// it created and revives what it lost. A frame that succeeds merges into its
// parent (the parent keeps an older before-image), or is dropped when there is
// no parent or logging was off; lost entities always go on to the parent, so
// nothing the model still points at is freed early.
#pragma once

#include <functional>
#include <vector>

class ENTITY;
class outcome;

void api_bb_begin(bool outer);
void api_bb_end(const outcome& result, bool rollback_on_failure, bool discard);
void update_from_bb();

// Value of the "logging" option (1 on, 0 off).
int logging_opt_on();
void set_logging(int on);

// Number of open frames (0: changes are immediate).
int bb_depth();
// Whether the innermost open frame has recorded anything so far: an entity
// changed, created or lost in it (false with no frame open).
bool bb_frame_changed();
// What the innermost open frame has recorded so far: the entities changed,
// created or lost in it (nothing with no frame open).
void bb_frame_entities(std::vector<ENTITY*>& out);

// Runs `look` with the entities of the innermost frame as they were when it
// opened (those it changed restored, those it lost alive again, those it
// created unreached), then puts them back as they are: what a step changed
// can be measured on both sides without undoing it. `look` must change
// nothing (a change meanwhile is refused as a kernel error). With no frame
// open `look` sees the model as it is.
void bb_frame_look_back(const std::function<void()>& look);

// The same frames without the call log; the kernel's own API frames use these.
void bb_open(bool outer);
void bb_close(const outcome& result, bool rollback_on_failure, bool discard);

// Hooks of the entity core.
void bb_record_creation(ENTITY* e);
void bb_record_backup(ENTITY* e);        // stores e->make_copy() once per frame
bool bb_record_loss(ENTITY* e);          // true: deferred, the frame owns e now
void bb_forget(ENTITY* e);               // e is being destroyed: drop every record of it
bool bb_created_in_current_frame(const ENTITY* e);

// A restore at the outermost frame, before the frame has recorded anything,
// keeps the one list of what it makes itself: from this call on the frame
// appends every entity created in it to `list` (its slot nulled if the
// entity is destroyed meanwhile) and records no creation and no before-image;
// the caller destroys what the list holds if it fails, before the frame
// closes. False, and nothing changes, when the frame is not such a frame.
// Called again while it holds, it switches to another list; `nullptr` ends it.
bool bb_hand_creations_to(std::vector<ENTITY*>* list);
