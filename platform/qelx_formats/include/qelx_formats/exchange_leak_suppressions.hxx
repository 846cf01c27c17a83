// Open CASCADE's data exchange registers its editors, settings and STEP
// tables in statics of its own once per process and never frees them (the
// same few kilobytes whatever the file); a leak check at exit would count
// them in every program that reads or writes a STEP or IGES file. Its IGES
// parameter readers also drop the arrays they made for an entity whose
// parameters turn out damaged. Nothing of ours is allocated through these
// libraries.
//
// The table of suppressions used is not printed: a program's error stream
// carries its own messages only.
//
// Include this header in exactly one source of a program: it defines the
// suppressions the leak checker asks the program for.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libTKernel.so\nleak:libTKXSBase.so\nleak:libTKSTEP.so\nleak:libTKXDESTEP.so\n"
           "leak:libTKSTEPBase.so\nleak:libTKIGES.so\nleak:libTKXDEIGES.so\n";
}
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
