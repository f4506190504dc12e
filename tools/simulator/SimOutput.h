#pragma once
// The simulator's printed results: one line each, UTF-8, "\n" ending, flushed at once so
// that a reader of the pipe sees every line as it happens. Lines come from the main thread
// and from the stand-in window's thread; each is written whole.

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

class TSimOutput {
public:
    explicit TSimOutput(std::FILE* stream) : FStream(stream) {}

    void Line(const std::wstring& text);
    // Lines that are already bytes (the report dumps).
    void LineBytes(const std::string& text);

    // No key-down lines while set (the benchmark's thousands of presses).
    void SetQuietKeys(bool quiet) { FQuietKeys = quiet; }
    bool QuietKeys() const { return FQuietKeys; }

private:
    std::mutex FLock;
    std::FILE* FStream;
    std::atomic<bool> FQuietKeys{false};
};
