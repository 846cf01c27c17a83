#include "qelx/qelx_array.hxx"

#include "qelx/qelx_errors.hxx"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

unsigned char* slot(QELXArrayHeader* h, int index)
{
    return h->data + static_cast<std::size_t>(index) * h->elemSize;
}

// Makes room for one more element. The value may lie inside the array, so its
// offset is kept across the reallocation and returned as a fresh address.
const void* reserveOne(QELXArrayHeader* h, const void* valueAddr)
{
    if (h->count < h->capacity)
        return valueAddr;
    const auto* value = static_cast<const unsigned char*>(valueAddr);
    const std::size_t bytes = static_cast<std::size_t>(h->count) * h->elemSize;
    const bool inside = value && h->data && value >= h->data && value < h->data + bytes;
    const std::size_t offset = inside ? static_cast<std::size_t>(value - h->data) : 0;

    const int capacity = h->capacity > 0 ? h->capacity * 2 : 4;
    auto* grown = static_cast<unsigned char*>(
        std::realloc(h->data, static_cast<std::size_t>(capacity) * h->elemSize));
    if (!grown)
        throw QELXAllocException();
    h->data = grown;
    h->capacity = capacity;
    return inside ? grown + offset : valueAddr;
}

void fill(void* target, const void* value, std::size_t size)
{
    if (value)
        std::memmove(target, value, size);
    else
        std::memset(target, 0, size);
}

} // namespace

QELXArrayHeader* qelxArrayAllocate(int capacity, std::size_t elemSize)
{
    if (capacity < 0)
        capacity = 0;
    auto* h = new (std::nothrow) QELXArrayHeader{0, capacity, elemSize, false, nullptr};
    if (!h)
        throw QELXAllocException();
    if (capacity > 0 && elemSize > 0) {
        h->data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(capacity) * elemSize));
        if (!h->data) {
            delete h;
            throw QELXAllocException();
        }
    }
    return h;
}

void* qelxArrayAdd(QELXArrayHeader*& header, const void* valueAddr)
{
    return qelxArrayInsertAt(header, header ? header->count : 0, valueAddr);
}

int qelxArrayCount(const QELXArrayHeader* header) { return header ? header->count : 0; }

void qelxArrayFree(QELXArrayHeader*& header)
{
    if (!header)
        return;
    std::free(header->data);
    delete header;
    header = nullptr;
}

QELXArrayHeader* qelxArrayCopy(const QELXArrayHeader* header)
{
    if (!header)
        return nullptr;
    QELXArrayHeader* copy = qelxArrayAllocate(header->capacity, header->elemSize);
    if (header->count > 0)
        std::memcpy(copy->data, header->data, static_cast<std::size_t>(header->count) * header->elemSize);
    copy->count = header->count;
    return copy;
}

void qelxArrayClear(QELXArrayHeader* header)
{
    if (header)
        header->count = 0;
}

void* qelxArrayInsertAt(QELXArrayHeader*& header, int index, const void* valueAddr)
{
    if (!header)
        return nullptr;
    QELXArrayHeader* h = header;
    if (h->elemSize == 0) {
        ++h->count;
        return nullptr;
    }
    if (index < 0)
        index = 0;
    if (index > h->count)
        index = h->count;
    const void* value = reserveOne(h, valueAddr);
    // Read the value before the shift moves it, when it lies at or past index.
    const auto* v = static_cast<const unsigned char*>(value);
    if (v && v >= slot(h, index) && v < slot(h, h->count))
        v += h->elemSize;
    std::memmove(slot(h, index + 1), slot(h, index), static_cast<std::size_t>(h->count - index) * h->elemSize);
    ++h->count;
    fill(slot(h, index), v, h->elemSize);
    return slot(h, index);
}

void qelxArrayRemoveAt(QELXArrayHeader* header, int index)
{
    if (!header || index < 0 || index >= header->count)
        return;
    std::memmove(slot(header, index), slot(header, index + 1),
                 static_cast<std::size_t>(header->count - index - 1) * header->elemSize);
    --header->count;
}
