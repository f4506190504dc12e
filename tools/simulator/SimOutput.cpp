#include "SimOutput.h"

#include "TextUtils.h"

void TSimOutput::Line(const std::wstring& text) { LineBytes(WideToUtf8(text)); }

void TSimOutput::LineBytes(const std::string& text) {
    std::lock_guard<std::mutex> guard(FLock);
    std::fwrite(text.data(), 1, text.size(), FStream);
    std::fputc('\n', FStream);
    std::fflush(FStream);
}
