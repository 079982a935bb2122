// What the two stand-in servers have in common: the names they build their
// automation objects from, and the switches that register their classes.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/com/dispatch_server.h"
#include "platform/win32/com/registration.h"
#include "platform/win32/com/variant_value.h"

namespace vi2zezir::standin {

using com::DefaultMethod;
using com::DispatchObject;
using com::InvokeArgs;
using com::MakeDispatch;
using com::Method;
using com::Property;
using com::PutOnlyProperty;
using com::Variant;

// "/regserver" registers the class for this user, "/unregserver" removes
// it. True when ARGUMENT was one of the two and has been carried out.
inline bool HandleRegistrationSwitch(const std::wstring& argument, const com::ClassRegistration& registration) {
    if (_wcsicmp(argument.c_str(), L"/regserver") == 0) {
        com::RegisterServerClass(registration);
        return true;
    }
    if (_wcsicmp(argument.c_str(), L"/unregserver") == 0) {
        com::UnregisterServerClass(registration);
        return true;
    }
    return false;
}

} // namespace vi2zezir::standin
