#pragma once
// Reference-counted objects and the handles that share them. The count starts
// at 0; a handle raises it when it takes an object and lowers it when it lets
// go; the object deletes itself when the count returns to 0.
#include <cstddef>

class QELXReferenceCount {
public:
    explicit QELXReferenceCount(int initial = 0) : m_count(initial) {}
    // A copy is a new object: it starts unshared.
    QELXReferenceCount(const QELXReferenceCount&) : m_count(0) {}
    QELXReferenceCount& operator=(const QELXReferenceCount&) { return *this; }
    virtual ~QELXReferenceCount() = default;

    virtual int RaiseReference();
    // Deletes the object at 0. Lowering an unshared object (count 0, e.g. one
    // on the stack) is reported as an assertion and deletes nothing.
    virtual int LowerReference();
    virtual const char* GetName() const { return "QELXReferenceCount"; }

    int GetReferenceCount() const { return m_count; }

private:
    int m_count;
};

class QELXReferenceHandle {
public:
    QELXReferenceHandle() = default;
    explicit QELXReferenceHandle(QELXReferenceCount* object);
    QELXReferenceHandle(const QELXReferenceHandle& other);
    QELXReferenceHandle& operator=(const QELXReferenceHandle& other);
    virtual ~QELXReferenceHandle();

    virtual bool IsValid() const { return m_object != nullptr; }
    QELXReferenceCount* get() const { return m_object; }

    bool operator==(const QELXReferenceHandle& other) const { return m_object == other.m_object; }
    bool operator<(const QELXReferenceHandle& other) const;

protected:
    void reset(QELXReferenceCount* object);

private:
    QELXReferenceCount* m_object = nullptr;
};

// Typed handle; every framework and connector handle class is one of these or
// derives from one.
template <class T>
class QELXTypedHandle : public QELXReferenceHandle {
public:
    QELXTypedHandle() = default;
    QELXTypedHandle(T* object) : QELXReferenceHandle(object) {}
    QELXTypedHandle(const QELXTypedHandle&) = default;
    QELXTypedHandle& operator=(const QELXTypedHandle&) = default;
    QELXTypedHandle& operator=(T* object)
    {
        reset(object);
        return *this;
    }
    ~QELXTypedHandle() override = default;

    T* get() const { return static_cast<T*>(QELXReferenceHandle::get()); }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    operator T*() const { return get(); }

    bool operator==(const QELXTypedHandle& other) const { return get() == other.get(); }
    bool operator==(const T* object) const { return get() == object; }
    bool operator<(const QELXTypedHandle& other) const { return QELXReferenceHandle::operator<(other); }
};
