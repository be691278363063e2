// The scope current on each thread, the same on every system; what a flush does is in
// Durability_posix.cpp and Durability_win.cpp.
#include "Durability.h"

#include "base/Errors.h"

namespace pelfry {

namespace {

thread_local DurabilityScope* current = nullptr;

} // namespace

DurabilityScope::DurabilityScope() : outer_(current) {
    current = this;
}

DurabilityScope::~DurabilityScope() {
    current = outer_;
    Flush();
}

DurabilityScope* DurabilityScope::Current() {
    return current;
}

void DurabilityScope::Commit() {
    Flush();
    if (error_ == 0) return;
    const int error = error_;
    error_ = 0;
    throw FileWriteError(errorPath_, error);
}

} // namespace pelfry
