// A small entity class registered from outside the kernel, as a connector
// class would be: a value, a tag, a name and a use-counted link to another node.
// TLEAF adds one field (with a literal) under TNODE.
#pragma once

#include <cstring>

#include "velm/lists.hxx"
#include "velm/save.hxx"

extern int TNODE_TYPE;
extern restore_def* TNODE_subclasses;
extern int TLEAF_TYPE;
extern restore_def* TLEAF_subclasses;

class TNODE : public ENTITY {
  VELM_ENTITY_DECL(TNODE, ENTITY, 1)
  TNODE() = default;
  explicit TNODE(double value, int tag = 0) : value_(value), tag_(tag) {}
  TNODE(const TNODE&) = default;
  TNODE& operator=(const TNODE&) = default;

  double value() const { return value_; }
  int tag() const { return tag_; }
  TNODE* link() const { return link_; }
  const char* name() const { return name_; }
  void set_value(double v) {
    backup();
    value_ = v;
  }
  void set_name(const char* n) {
    backup();
    std::strncpy(name_, n, sizeof name_ - 1);
  }
  // The node holds one use of its link.
  void set_link(TNODE* l) {
    backup();
    if (l) l->add();
    if (link_) link_->remove();
    link_ = l;
  }

  void lose() override {
    if (link_ && !is_lost()) link_->remove();
    ENTITY::lose();
  }
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int skip = 0) const override {
    ENTITY::copy_scan(list, reason, skip);
    if (link_) list.add(link_);
  }
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override {
    fix_common(array, reason);
    fix_field(link_, array, 1, TNODE_TYPE);
    if (link_) link_->add();
  }
  void save_common(ENTITY_LIST& list) const {
    ENTITY::save_common(list);
    write_real(value_);
    write_int(tag_);
    write_ptr(link_, list);
    write_literal(name_);
  }
  void restore_common() {
    ENTITY::restore_common();
    value_ = read_real();
    tag_ = read_int();
    store_index(link_, read_ptr());
    read_string(name_, sizeof name_);
  }
  void copy_common(ENTITY_LIST& list, const TNODE* from, pointer_map* pm = nullptr, int skip = 0,
                   SCAN_TYPE reason = scan_copy) {
    ENTITY::copy_common(list, from, pm, skip, reason);
    value_ = from->value_;
    tag_ = from->tag_;
    std::memcpy(name_, from->name_, sizeof name_);
    store_index(link_, copy_index(list, from->link_));
  }

 private:
  double value_ = 0.0;
  int tag_ = 0;
  TNODE* link_ = nullptr;
  char name_[16] = {};
};

class TLEAF : public TNODE {
  VELM_ENTITY_DECL(TLEAF, TNODE, 2)
  TLEAF() = default;
  TLEAF(const TLEAF&) = default;
  TLEAF& operator=(const TLEAF&) = default;
  const char* note() const { return note_; }
  void set_note(const char* n) {
    backup();
    std::strncpy(note_, n, sizeof note_ - 1);
  }
  void save_common(ENTITY_LIST& list) const {
    TNODE::save_common(list);
    write_literal(note_);
    write_int(7);
  }
  void restore_common() {
    TNODE::restore_common();
    read_string(note_, sizeof note_);
    read_int();
  }
  void copy_common(ENTITY_LIST& list, const TLEAF* from, pointer_map* pm = nullptr, int skip = 0,
                   SCAN_TYPE reason = scan_copy) {
    TNODE::copy_common(list, from, pm, skip, reason);
    std::memcpy(note_, from->note_, sizeof note_);
  }

 private:
  char note_[32] = {};
};

bool is_TNODE(const ENTITY* e);
bool is_TLEAF(const ENTITY* e);

// Kernel state every test starts from and must leave behind.
void reset_kernel_for_test();
