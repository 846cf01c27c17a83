// Open CASCADE's data exchange registers its settings and controllers once per
// process in static tables that it never frees; their entries outlive the
// tables' own destruction at exit. They are allocated through Open CASCADE's
// memory manager, whose frames are all a leak report can show, so leaks of
// memory Open CASCADE allocates are not reported in this program (the
// formats' own tests and the kernel's tests still see theirs).
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:Standard_MMgrRaw::Allocate\nleak:Standard_MMgrRaw::Reallocate\nleak:libTKXSBase.so\n"
           "leak:libTKSTEP.so\n";
}
#endif
