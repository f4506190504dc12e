// Linux builds run no second desktop copy: every copy is the only one.

#include "VrRunOnce.h"

struct TVrRunOnce::Impl {
    bool Held = false;
};

TVrRunOnce::TVrRunOnce() : FImpl(std::make_unique<Impl>()) {}
TVrRunOnce::~TVrRunOnce() = default;
bool TVrRunOnce::HoldsMutex() const { return FImpl->Held; }

bool TVrRunOnce::Check(const std::wstring&) {
    FImpl->Held = true;
    return true;
}
