// Every COM object of the pack counts itself here; DllCanUnloadNow and the test hook read it.
// The test filters, built on the same base, count theirs the same way.
#pragma once

#include <windows.h>

namespace korvane::filters {

enum class ObjectKind { Filter, Pin, Enumerator, Allocator, Sample, ClassFactory, Count };

void CountObject(ObjectKind kind, LONG delta);
LONG LiveObjects(ObjectKind kind);
LONG AllLiveObjects();

// Server locks taken through IClassFactory::LockServer.
void LockServer(bool lock);
LONG ServerLocks();

// Base for counted objects: the constructor and destructor do the bookkeeping, so a class
// cannot forget either half.
template <ObjectKind Kind>
class Counted {
protected:
    Counted() { CountObject(Kind, +1); }
    Counted(const Counted&) { CountObject(Kind, +1); }
    ~Counted() { CountObject(Kind, -1); }
};

}  // namespace korvane::filters
