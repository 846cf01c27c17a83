#include "qelx/qelx_object_table.hxx"

#include <mutex>
#include <unordered_map>

namespace {

struct Table {
    std::mutex lock;
    std::unordered_map<std::uint64_t, QELXReferenceCount*> entries;
};

// Never destroyed: objects held by other libraries' statics may leave it
// during exit, after a destroyed table would be gone.
Table& table()
{
    static Table* t = new Table;
    return *t;
}

} // namespace

QELXReferenceCount* QELXObjectTable::find(std::uint64_t word)
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto it = t.entries.find(word);
    return it == t.entries.end() ? nullptr : it->second;
}

void QELXObjectTable::enter(std::uint64_t word, QELXReferenceCount* object)
{
    if (word == 0 || !object)
        return;
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.entries[word] = object;
}

void QELXObjectTable::leave(std::uint64_t word, const QELXReferenceCount* object)
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const auto it = t.entries.find(word);
    if (it != t.entries.end() && it->second == object)
        t.entries.erase(it);
}

int QELXObjectTable::size()
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    return static_cast<int>(t.entries.size());
}
