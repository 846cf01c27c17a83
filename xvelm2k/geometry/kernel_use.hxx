#pragma once
// The one kernel use an adapter holds on the entity it shows.

template <class View>
inline void takeKernelUse(View* view)
{
    if (view)
        view->raiseRef();
}

// The kernel loses the entity when this was its last use.
template <class View>
inline void dropKernelUse(View* view)
{
    if (view)
        view->lowerRef();
}

// Assignment between adapters: the new use is taken before the old one goes,
// so assigning an adapter to itself or to one over the same entity never
// loses the entity.
template <class View>
inline void replaceKernelUse(View*& held, View* next)
{
    takeKernelUse(next);
    dropKernelUse(held);
    held = next;
}
