#pragma once
// The program's error kinds. Every one carries a wide message; the application's
// default handler shows it in a message box, except for EAbort, which shows nothing.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message);
    const std::wstring& Message() const noexcept { return FMessage; }
    // UTF-8 form of the message, for logs of the test tools and for std::exception users.
    const char* what() const noexcept override { return FNarrow.c_str(); }

private:
    std::wstring FMessage;
    std::string FNarrow;
};

// A HID device object cannot be built.
class EControllerError : public Exception {
public:
    using Exception::Exception;
};

// A value outside the range that an operation accepts.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

// The settings store could not be read or written.
class ERegistryError : public Exception {
public:
    using Exception::Exception;
};

// A file could not be read or written; carries the platform's error text.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// The silent abort: unwinds to the dispatch boundary, where nothing is shown.
class EAbort : public Exception {
public:
    EAbort() : Exception(L"Operation aborted") {}
    using Exception::Exception;
};
