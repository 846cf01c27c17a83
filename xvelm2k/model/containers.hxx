#pragma once
// The connector's collections: a growable array kept in the framework's array
// storage, and two open-addressing tables (map and set) with linear probing.
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "qelx/qelx_array.hxx"
#include "qelx/qelx_string.hxx"
#include "velm/math.hxx"

// Growable array of values. The storage belongs to the framework's array
// functions, which only move bytes; this template constructs, copies and
// destroys the elements. Pointer elements are not owned.
template <class T>
class QELXDynamicArray {
    static constexpr bool kTrivial = std::is_trivially_copyable_v<T>;

public:
    static constexpr int kInitialCapacity = 10;

    QELXDynamicArray() : m_header(qelxArrayAllocate(kInitialCapacity, sizeof(T))) {}
    QELXDynamicArray(int n, const T& value) : m_header(qelxArrayAllocate(n, sizeof(T)))
    {
        if constexpr (kTrivial) {
            // The storage was made for n: fill it in place.
            for (int i = 0; i < n; ++i)
                ::new (data() + i) T(value);
            m_header->count = n < 0 ? 0 : n;
        } else {
            for (int i = 0; i < n; ++i)
                Add(value);
        }
    }
    QELXDynamicArray(const QELXDynamicArray& other) : m_header(copyOf(other)) {}
    QELXDynamicArray(QELXDynamicArray&& other) noexcept : m_header(std::exchange(other.m_header, nullptr)) {}
    QELXDynamicArray& operator=(const QELXDynamicArray& other)
    {
        if (this != &other) {
            // Copy first: a failed copy leaves this array as it was.
            QELXArrayHeader* copy = copyOf(other);
            release();
            m_header = copy;
        }
        return *this;
    }
    QELXDynamicArray& operator=(QELXDynamicArray&& other) noexcept
    {
        if (this != &other) {
            release();
            m_header = std::exchange(other.m_header, nullptr);
        }
        return *this;
    }
    ~QELXDynamicArray() { release(); }

    int Count() const { return qelxArrayCount(m_header); }
    // No bounds check: callers keep 0 <= i < Count().
    T& operator[](int i) { return data()[i]; }
    const T& operator[](int i) const { return data()[i]; }
    T* begin() { return data(); }
    T* end() { return data() + Count(); }
    const T* begin() const { return data(); }
    const T* end() const { return data() + Count(); }

    void Add(const T& value)
    {
        // An append with room to spare is a store; a table of a million
        // entries would otherwise pay a library call per entry.
        if constexpr (kTrivial) {
            if (m_header && m_header->count < m_header->capacity) {
                ::new (data() + m_header->count) T(value);
                ++m_header->count;
                return;
            }
        }
        InsertAt(Count(), value);
    }

    void InsertAt(int index, const T& value)
    {
        ensure();
        if constexpr (kTrivial) {
            qelxArrayInsertAt(m_header, index, &value);
        } else if (contains(&value)) {
            // The slot move may relocate the value itself.
            const T copy(value);
            insertConstructed(index, copy);
        } else {
            insertConstructed(index, value);
        }
    }

    void RemoveAt(int index)
    {
        if (index < 0 || index >= Count())
            return;
        if (destroysElements())
            data()[index].~T();
        qelxArrayRemoveAt(m_header, index);
    }

    void Clear()
    {
        destroyElements();
        qelxArrayClear(m_header);
    }

    void Append(const QELXDynamicArray& other)
    {
        if (&other == this) {
            const QELXDynamicArray copy(other);
            Append(copy);
            return;
        }
        for (int i = 0, n = other.Count(); i < n; ++i)
            Add(other[i]);
    }

    int Find(const T& value) const
    {
        for (int i = 0, n = Count(); i < n; ++i)
            if (data()[i] == value)
                return i;
        return -1;
    }

    bool AddUnique(const T& value)
    {
        if (Find(value) >= 0)
            return false;
        Add(value);
        return true;
    }

    // Sorted arrays hold numbers or pointers in ascending order; pointers
    // compare as unsigned addresses.
    bool FindSorted(const T& value, int& index) const
    {
        int low = 0;
        int high = Count() - 1;
        while (low <= high) {
            const int mid = (low + high) / 2;
            if (sortsBefore(data()[mid], value)) {
                low = mid + 1;
            } else if (sortsBefore(value, data()[mid])) {
                high = mid - 1;
            } else {
                index = mid;
                return true;
            }
        }
        index = low;
        return false;
    }

    bool InsertSorted(const T& value)
    {
        int index = 0;
        if (FindSorted(value, index))
            return false;
        InsertAt(index, value);
        return true;
    }

    // Set: the destructor, Clear and RemoveAt leave the elements alone.
    void SetNoDestroy(bool noDestroy)
    {
        ensure();
        m_header->noDestroy = noDestroy;
    }

private:
    T* data() const { return m_header ? reinterpret_cast<T*>(m_header->data) : nullptr; }

    bool contains(const T* p) const
    {
        const T* first = data();
        return first && p >= first && p < first + Count();
    }

    bool destroysElements() const
    {
        return !std::is_trivially_destructible_v<T> && m_header && !m_header->noDestroy;
    }

    // A moved-from array has no storage until it is used again.
    void ensure()
    {
        if (!m_header)
            m_header = qelxArrayAllocate(kInitialCapacity, sizeof(T));
    }

    void insertConstructed(int index, const T& value)
    {
        if (index < 0)
            index = 0;
        if (index > Count())
            index = Count();
        void* slot = qelxArrayInsertAt(m_header, index, nullptr);
        try {
            ::new (slot) T(value);
        } catch (...) {
            qelxArrayRemoveAt(m_header, index); // the slot holds no object
            throw;
        }
    }

    // Class elements are copied one by one; a byte copy would share their
    // buffers and references with the source.
    static QELXArrayHeader* copyOf(const QELXDynamicArray& other)
    {
        if constexpr (kTrivial) {
            if (other.m_header)
                return qelxArrayCopy(other.m_header);
            return qelxArrayAllocate(kInitialCapacity, sizeof(T));
        } else {
            QELXDynamicArray copy; // owns its copies, whatever the source's flag
            for (int i = 0, n = other.Count(); i < n; ++i)
                copy.Add(other[i]);
            return std::exchange(copy.m_header, nullptr);
        }
    }

    void destroyElements()
    {
        if (destroysElements())
            for (int i = 0, n = Count(); i < n; ++i)
                data()[i].~T();
    }

    void release()
    {
        if (!m_header)
            return;
        destroyElements();
        qelxArrayFree(m_header);
    }

    static bool sortsBefore(const T& a, const T& b)
    {
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
        else
            return a < b;
    }

    QELXArrayHeader* m_header;
};

// Default hashes of the tables: a 32-bit integer mix; 64-bit keys (pointers)
// mix both halves and then mix the pair.
namespace qelx_hash_detail {
inline std::uint32_t sar(std::uint32_t v, int n) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> n); }
inline std::uint32_t tail(std::uint32_t k)
{
    k ^= sar(k, 10);
    k *= 9u;
    k ^= sar(k, 6);
    k += ~(k << 11);
    k ^= sar(k, 16);
    return k;
}
} // namespace qelx_hash_detail

inline std::uint32_t qelxHashInt32(std::uint32_t k) { return qelx_hash_detail::tail(k + ~(k << 15)); }

inline std::uint32_t qelxHashInt64(std::uint64_t key)
{
    const std::uint32_t h1 = qelxHashInt32(static_cast<std::uint32_t>(key));
    const std::uint32_t h2 = qelxHashInt32(static_cast<std::uint32_t>(key >> 32));
    return qelx_hash_detail::tail(h1 + ~(h2 << 15));
}

// Hash and equality of a key type when a table has no functions of its own.
// Numbers and pointers are covered here; owners of other key types specialise.
template <class K, class = void>
struct QELXHashTraits {
    static std::uint32_t Hash(const K& key)
    {
        if constexpr (std::is_pointer_v<K>)
            return qelxHashInt64(reinterpret_cast<std::uintptr_t>(key));
        else if constexpr (std::is_integral_v<K> || std::is_enum_v<K>) {
            if constexpr (sizeof(K) > 4)
                return qelxHashInt64(static_cast<std::uint64_t>(key));
            else
                return qelxHashInt32(static_cast<std::uint32_t>(key));
        } else {
            static_assert(sizeof(K) == 0, "no default hash for this key type: specialise QELXHashTraits");
            return 0;
        }
    }
    static bool Equal(const K& a, const K& b) { return a == b; }
};

// Text keys: h = h * 33 + c over the characters taken as signed bytes.
template <>
struct QELXHashTraits<Gk_String> {
    static std::uint32_t Hash(const Gk_String& key)
    {
        std::uint32_t h = 0;
        for (int i = 0; i < key.length(); ++i)
            h = h * 33u + static_cast<std::uint32_t>(static_cast<signed char>(key[i]));
        return h;
    }
    static bool Equal(const Gk_String& a, const Gk_String& b) { return a == b; }
};

// Point comparator of point-keyed tables: 0 for the same point within the
// kernel resolution, 1 otherwise.
inline int QELXComparePoints(const QELposition* a, const QELposition* b)
{
    return same_point(*a, *b) ? 0 : 1;
}

// Keys, occupied flags and probing shared by the map and the set. Free slots
// hold default keys (and values), so every slot is a live object. Each used
// slot also keeps its key's hash: a probe compares keys only where the hashes
// agree, so passing the other keys of a run never reads a key that lives
// elsewhere in memory (a handle's object), and a regrowth hashes nothing again.
template <class K>
class QELXHashTableBase {
public:
    using HashFunction = std::uint32_t (*)(const K*);
    using EqualFunction = bool (*)(const K*, const K*);
    static constexpr int kInitialCapacity = 17;
    static constexpr float kLoadFactor = 0.75f;

    int Count() const { return m_count; }
    int Capacity() const { return m_keys.Count(); }
    bool IsUsed(int slot) const { return m_used[slot]; }
    const K& KeyAt(int slot) const { return m_keys[slot]; }

    // Slot of the key, or -1.
    int FindIndex(const K& key) const
    {
        const int n = Capacity();
        const std::uint32_t h = hashOf(key);
        const int start = homeSlot(h, n);
        for (int i = 0, slot = start; i < n; ++i, slot = slot + 1 == n ? 0 : slot + 1) {
            if (!m_used[slot])
                return -1;
            if (m_hashes[slot] == h && equal(m_keys[slot], key))
                return slot;
        }
        return -1;
    }

protected:
    QELXHashTableBase(HashFunction hash, EqualFunction eq)
        : m_keys(kInitialCapacity, K()), m_used(kInitialCapacity, false), m_hashes(kInitialCapacity, 0u), m_hash(hash),
          m_equal(eq)
    {
    }

    QELXHashTableBase(const QELXHashTableBase&) = default;
    QELXHashTableBase& operator=(const QELXHashTableBase& other)
    {
        if (this != &other) {
            m_keys = other.m_keys;
            m_used = other.m_used;
            m_hashes = other.m_hashes;
            m_hash = other.m_hash;
            m_equal = other.m_equal;
            m_count = other.m_count; // the load factor stays our own
        }
        return *this;
    }
    ~QELXHashTableBase() = default;

    bool needsGrowth() const { return growsAt(m_count, Capacity(), m_loadFactor); }
    // An add to a table of count keys in capacity slots doubles it first.
    static bool growsAt(int count, int capacity, float loadFactor)
    {
        return static_cast<float>(count + 1) > static_cast<float>(capacity) * loadFactor;
    }

    std::uint32_t hashOf(const K& key) const { return m_hash ? m_hash(&key) : QELXHashTraits<K>::Hash(key); }
    static int homeSlot(std::uint32_t h, int capacity) { return static_cast<int>(h % static_cast<std::uint32_t>(capacity)); }

    bool equal(const K& a, const K& b) const { return m_equal ? m_equal(&a, &b) : QELXHashTraits<K>::Equal(a, b); }

    // Slot for a new key, or -1 when it is present. The table is never full.
    int probeForInsert(const K& key, std::uint32_t h) const
    {
        const int n = Capacity();
        for (int slot = homeSlot(h, n);; slot = slot + 1 == n ? 0 : slot + 1) {
            if (!m_used[slot])
                return slot;
            if (m_hashes[slot] == h && equal(m_keys[slot], key))
                return -1;
        }
    }

    // Takes a free slot for the key.
    void occupy(int slot, const K& key, std::uint32_t h)
    {
        m_keys[slot] = key;
        m_hashes[slot] = h;
        m_used[slot] = true;
    }

    // Rebuilds the keys and flags at capacity n; place(oldSlot, newSlot) moves
    // whatever else a derived table keeps per slot.
    template <class Place>
    void rehashKeys(int n, Place&& place)
    {
        QELXDynamicArray<K> keys(n, K());
        QELXDynamicArray<bool> used(n, false);
        QELXDynamicArray<std::uint32_t> hashes(n, 0u);
        for (int old = 0, oldN = Capacity(); old < oldN; ++old) {
            if (!m_used[old])
                continue;
            int slot = homeSlot(m_hashes[old], n);
            while (used[slot])
                slot = slot + 1 == n ? 0 : slot + 1;
            keys[slot] = m_keys[old];
            used[slot] = true;
            hashes[slot] = m_hashes[old];
            place(old, slot);
        }
        m_keys = std::move(keys);
        m_used = std::move(used);
        m_hashes = std::move(hashes);
    }

    void resetKeys()
    {
        m_keys.Clear();
        m_used.Clear();
        m_hashes.Clear();
        for (int i = 0; i < kInitialCapacity; ++i) {
            m_keys.Add(K());
            m_used.Add(false);
            m_hashes.Add(0u);
        }
        m_count = 0;
    }

    QELXDynamicArray<K> m_keys;
    QELXDynamicArray<bool> m_used;
    QELXDynamicArray<std::uint32_t> m_hashes;
    HashFunction m_hash;
    EqualFunction m_equal;
    float m_loadFactor = kLoadFactor;
    int m_count = 0;
};

// Open-addressing map with linear probing; 17 buckets, doubling before the
// load would pass 0.75.
template <class K, class V>
class QELXHashMap : public QELXHashTableBase<K> {
    using Base = QELXHashTableBase<K>;

public:
    explicit QELXHashMap(typename Base::HashFunction hash = nullptr, typename Base::EqualFunction eq = nullptr)
        : Base(hash, eq), m_values(Base::kInitialCapacity, V())
    {
    }
    QELXHashMap(const QELXHashMap&) = default;
    QELXHashMap& operator=(const QELXHashMap& other)
    {
        if (this != &other) {
            Base::operator=(other);
            m_values = other.m_values;
        }
        return *this;
    }
    ~QELXHashMap() = default;

    const V& ValueAt(int slot) const { return m_values[slot]; }
    V& ValueAt(int slot) { return m_values[slot]; }

    // False, and the stored value kept, when the key is present.
    bool Add(const K& key, const V& value)
    {
        if (this->needsGrowth())
            Rehash(2 * this->Capacity());
        if (!Insert(key, value))
            return false;
        ++this->m_count;
        return true;
    }

    bool Insert(const K& key, const V& value)
    {
        const std::uint32_t h = this->hashOf(key);
        const int slot = this->probeForInsert(key, h);
        if (slot < 0)
            return false;
        this->occupy(slot, key, h);
        m_values[slot] = value;
        return true;
    }

    bool Get(const K& key, V& value) const
    {
        const int slot = this->FindIndex(key);
        if (slot < 0)
            return false;
        value = m_values[slot];
        return true;
    }

    bool Set(const K& key, const V& value)
    {
        const int slot = this->FindIndex(key);
        if (slot < 0)
            return false;
        m_values[slot] = value;
        return true;
    }

    bool Remove(const K& key)
    {
        const int removed = this->FindIndex(key);
        if (removed < 0)
            return false;
        freeSlot(removed);
        // Re-place the rest of the probe cluster so no key is cut off from its
        // home slot by the new gap.
        const int n = this->Capacity();
        const auto next = [n](int s) { return s + 1 == n ? 0 : s + 1; };
        int start = removed;
        do
            start = start == 0 ? n - 1 : start - 1;
        while (this->m_used[start]);
        bool passedRemoved = false;
        for (int slot = next(start);; slot = next(slot)) {
            if (slot == removed) {
                passedRemoved = true;
                continue;
            }
            if (!this->m_used[slot]) {
                if (passedRemoved)
                    break;
                continue;
            }
            const K k = this->m_keys[slot];
            const V v = m_values[slot];
            freeSlot(slot);
            Add(k, v);
        }
        return true;
    }

    void Rehash(int n)
    {
        QELXDynamicArray<V> values(n, V());
        this->rehashKeys(n, [&](int oldSlot, int newSlot) { values[newSlot] = m_values[oldSlot]; });
        m_values = std::move(values);
    }

    // Back to 17 empty buckets; the values are destroyed, so handles let go.
    void Clear()
    {
        m_values.Clear();
        for (int i = 0; i < Base::kInitialCapacity; ++i)
            m_values.Add(V());
        this->resetKeys();
    }

private:
    void freeSlot(int slot)
    {
        this->m_used[slot] = false;
        this->m_keys[slot] = K();
        m_values[slot] = V();
        --this->m_count;
    }

    QELXDynamicArray<V> m_values;
};

// Open-addressing set; one pass of Next yields every element once, in slot order.
template <class T>
class QELXHashList : public QELXHashTableBase<T> {
    using Base = QELXHashTableBase<T>;

public:
    explicit QELXHashList(typename Base::HashFunction hash = nullptr, typename Base::EqualFunction eq = nullptr)
        : Base(hash, eq)
    {
    }

    // True when the element was new.
    bool Add(const T& element)
    {
        if (this->needsGrowth())
            Rehash(2 * this->Capacity());
        if (!Insert(element))
            return false;
        ++this->m_count;
        return true;
    }

    bool Insert(const T& element)
    {
        const std::uint32_t h = this->hashOf(element);
        const int slot = this->probeForInsert(element, h);
        if (slot < 0)
            return false;
        this->occupy(slot, element, h);
        return true;
    }

    bool Contains(const T& element) const { return this->FindIndex(element) >= 0; }

    bool Next(T& element)
    {
        const int n = this->Capacity();
        while (m_cursor < n && !this->m_used[m_cursor])
            ++m_cursor;
        if (m_cursor >= n)
            return false;
        element = this->m_keys[m_cursor++];
        return true;
    }

    void Rehash(int n)
    {
        this->rehashKeys(n, [](int, int) {});
    }

    void Clear() { this->resetKeys(); }

    // The members, in the order Next gives them, of a fresh set after Add of
    // each key in turn (none of them null), without building the set: a
    // table of one word a slot (null is free) grown, hashed and probed as the
    // set is, so every key lands in the same slot. Each key's home slot is
    // fetched a few keys ahead: in a table larger than the processor's caches
    // the adds then overlap their waits on memory instead of taking them one
    // after another.
    static QELXDynamicArray<T> MembersAfterAdding(const T* keys, int n);

private:
    int m_cursor = 0;
};

template <class T>
QELXDynamicArray<T> QELXHashList<T>::MembersAfterAdding(const T* keys, int n)
{
    static_assert(std::is_pointer_v<T>, "a null key marks a free slot");
    static_assert(Base::kInitialCapacity == 17, "the home slot below divides by 17");
    constexpr int kAhead = 16;
    const auto hash = [keys](int i) { return QELXHashTraits<T>::Hash(keys[i]); };
    // The capacity is 17 << doublings, and h % (17 << d) is
    // (h >> d) % 17 << d plus the low d bits of h: a multiplication where the
    // plain remainder is a division per key.
    int doublings = 0;
    int capacity = Base::kInitialCapacity;
    const auto home = [&doublings](std::uint32_t h) {
        return static_cast<int>((((h >> doublings) % 17u) << doublings) | (h & ((1u << doublings) - 1u)));
    };
    int count = 0;
    QELXDynamicArray<T> slots(capacity, T());
    const auto place = [&](T* table, const T& key, std::uint32_t h) {
        int slot = home(h);
        for (; table[slot]; slot = slot + 1 == capacity ? 0 : slot + 1)
            if (table[slot] == key)
                return;
        table[slot] = key;
        ++count;
    };
    T* table = slots.begin();
    std::uint32_t ahead[kAhead] = {};
    for (int i = 0; i < n && i < kAhead; ++i)
        ahead[i] = hash(i);
    for (int i = 0; i < n; ++i) {
        // Every add checks the growth, a repeated key's included.
        if (Base::growsAt(count, capacity, Base::kLoadFactor)) {
            QELXDynamicArray<T> grown(2 * capacity, T());
            capacity *= 2;
            ++doublings;
            count = 0;
            for (const T& key : slots)
                if (key)
                    place(grown.begin(), key, QELXHashTraits<T>::Hash(key));
            slots = std::move(grown);
            table = slots.begin();
        }
        const std::uint32_t h = ahead[i % kAhead];
        if (i + kAhead < n) {
            ahead[i % kAhead] = hash(i + kAhead);
            __builtin_prefetch(table + home(ahead[i % kAhead]));
        }
        if (i == 0 || keys[i] != keys[i - 1])
            place(table, keys[i], h);
    }
    QELXDynamicArray<T> members(count, T());
    int next = 0;
    for (const T& key : slots)
        if (key)
            members[next++] = key;
    return members;
}
