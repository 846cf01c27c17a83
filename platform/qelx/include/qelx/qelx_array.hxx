#pragma once
// Raw array storage behind the connector's QELXDynamicArray<T>.
//
// The functions know only the element size: they move slots with memmove and
// never construct, copy or destroy an element. The typed template on top does
// that (copy construction into a returned slot, destruction before clear or
// free). Growth and insertion move existing elements byte for byte, so only
// bitwise relocatable types may be stored; every framework value type is.
#include <cstddef>

struct QELXArrayHeader {
    int count;
    int capacity;
    std::size_t elemSize;
    bool noDestroy;      // set: the owner must not run element destructors
    unsigned char* data; // element i at data + i * elemSize
};

// Empty array with room for capacity elements. Throws QELXAllocException.
QELXArrayHeader* qelxArrayAllocate(int capacity, std::size_t elemSize);
// Grows by one slot (doubling the capacity when full), copies elemSize bytes
// from valueAddr (zeros for null) into it and returns the slot. valueAddr may
// lie inside the same array.
void* qelxArrayAdd(QELXArrayHeader*& header, const void* valueAddr);
int qelxArrayCount(const QELXArrayHeader* header);
// Frees storage and header and nulls the pointer; runs no destructor.
void qelxArrayFree(QELXArrayHeader*& header);
// Byte copy: right for trivially copyable elements only.
QELXArrayHeader* qelxArrayCopy(const QELXArrayHeader* header);
// Count to 0, storage kept, no destructor run.
void qelxArrayClear(QELXArrayHeader* header);
// Opens slot index (clamped to [0, count]), copies the value bytes into it
// and returns it.
void* qelxArrayInsertAt(QELXArrayHeader*& header, int index, const void* valueAddr);
// Closes slot index; nothing for an index outside [0, count).
void qelxArrayRemoveAt(QELXArrayHeader* header, int index);
