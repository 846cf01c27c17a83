#pragma once
// The one kernel use an adapter holds on the entity it shows: taken when the
// holder is made or copied, given back when it goes, so that the kernel
// loses the entity with its last use.

// True for a null view, on which the use-count operations do nothing. Out of
// line, so the test survives the compiler's belief that `this` is never null.
bool isNullView(const void* view);

template <class View>
class KernelUse {
public:
    explicit KernelUse(View* view = nullptr) : m_view(view) { take(m_view); }
    KernelUse(const KernelUse& other) : m_view(other.m_view) { take(m_view); }
    // The new use is taken before the old one goes, so assigning a holder
    // over the same entity never loses it.
    KernelUse& operator=(const KernelUse& other)
    {
        take(other.m_view);
        drop(m_view);
        m_view = other.m_view;
        return *this;
    }
    ~KernelUse() { drop(m_view); }

    View* get() const { return m_view; }
    View* operator->() const { return m_view; }
    explicit operator bool() const { return m_view != nullptr; }

private:
    static void take(View* view)
    {
        if (view)
            view->raiseRef();
    }
    static void drop(View* view)
    {
        if (view)
            view->lowerRef();
    }

    View* m_view;
};
