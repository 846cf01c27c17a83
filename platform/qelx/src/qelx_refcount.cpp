#include "qelx/qelx_refcount.hxx"

#include "qelx/qelx_errors.hxx"

#include <functional>

int QELXReferenceCount::RaiseReference() { return ++m_count; }

int QELXReferenceCount::LowerReference()
{
    if (m_count <= 0) {
        // An unshared object was never given to a handle; deleting it here
        // would free what someone else owns.
        Gk_ErrMgr::doAssert("qelx_refcount", __LINE__);
        return 0;
    }
    if (--m_count == 0) {
        delete this;
        return 0;
    }
    return m_count;
}

QELXReferenceHandle::QELXReferenceHandle(QELXReferenceCount* object) : m_object(object)
{
    if (m_object)
        m_object->RaiseReference();
}

QELXReferenceHandle::QELXReferenceHandle(const QELXReferenceHandle& other) : QELXReferenceHandle(other.m_object) {}

QELXReferenceHandle& QELXReferenceHandle::operator=(const QELXReferenceHandle& other)
{
    reset(other.m_object);
    return *this;
}

QELXReferenceHandle::~QELXReferenceHandle()
{
    if (m_object)
        m_object->LowerReference();
}

void QELXReferenceHandle::reset(QELXReferenceCount* object)
{
    // Raise the new one first: it may be the only thing keeping the old one.
    if (object)
        object->RaiseReference();
    QELXReferenceCount* old = m_object;
    m_object = object;
    if (old)
        old->LowerReference();
}

bool QELXReferenceHandle::operator<(const QELXReferenceHandle& other) const
{
    return std::less<const QELXReferenceCount*>()(m_object, other.m_object);
}
