// The toolbox's binding to its body.
#include "repair/post_process_util.hxx"

#include "model/entity_views.hxx"
#include "model/memory_init.hxx"
#include "qelx/qelx_errors.hxx"

Ve_PostProcessUtil::Ve_PostProcessUtil(Ve_BodyTag* b) : body(b)
{
    Gk_ErrMgr::checkAbort();
    if (!body)
        Gk_ErrMgr::doAssert("ve_edgeutl", 162);
}

Ve_PostProcessUtil& Ve_PostProcessUtil::operator=(const Ve_PostProcessUtil& other)
{
    body = other.body;
    return *this;
}

BODY* Ve_PostProcessUtil::kernelBody() const
{
    return reinterpret_cast<BODY*>(body);
}
