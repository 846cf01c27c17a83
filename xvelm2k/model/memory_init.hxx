#pragma once
// Every object file of the connector keeps the kernel's memory manager in use
// for as long as its own statics live, so kernel objects made or freed by them
// at load or exit find it running. Include this in every connector source.
#include "velm/memory.hxx"

namespace {

class VelmMemoryUser {
public:
    VelmMemoryUser() { initialize_mmgr_system(); }
    ~VelmMemoryUser() { terminate_mmgr_system(); }
    VelmMemoryUser(const VelmMemoryUser&) = delete;
    VelmMemoryUser& operator=(const VelmMemoryUser&) = delete;
};

[[maybe_unused]] const VelmMemoryUser velmMemoryUser;

} // namespace
