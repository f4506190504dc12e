#pragma once
// The application object: the default error handler at the dispatch boundary.
//
// Whatever escapes a window, timer, menu or hand-off handler is caught where the main
// thread dispatches it and passed to HandleException, which shows its message (through
// the installed shower: a message box in the program, a capture in tests) and lets the
// program carry on. EAbort is silent.

#include <exception>
#include <functional>
#include <string>

namespace Application {

// Shows one error message. The default writes it to standard error.
using TMessageShower = std::function<void(const std::wstring& message)>;
void SetMessageShower(TMessageShower shower);

// Handles the exception `error` (must not be null): shows its message unless it is EAbort.
void HandleException(std::exception_ptr error) noexcept;

// Runs `call`, handing anything it throws to HandleException.
void Guarded(const std::function<void()>& call) noexcept;

}  // namespace Application
