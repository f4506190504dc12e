// The trace's own writer: lines reach the file in the order they were written, a file that
// cannot be written keeps them waiting until it can, a bound gives the oldest up with one
// line saying how many, and what waits is written when the writer stops.

#include "Exceptions.h"
#include "TraceWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A file that records each append's lines and refuses every append while told to.
class HeldFile : public TraceFile {
public:
    TLogTime Now() override { return {2026, 12, 10, 9, 0, 0}; }
    TLogSeparators Separators() override { return {}; }
    std::vector<std::uint8_t> ToAnsi(const std::wstring& text) override {
        std::vector<std::uint8_t> bytes;
        for (wchar_t c : text) bytes.push_back(static_cast<std::uint8_t>(c < 256 ? c : '?'));
        return bytes;
    }
    void Append(const std::wstring& path, const std::vector<std::uint8_t>& bytes) override {
        if (Refuse.load()) {
            Refusals.fetch_add(1);
            throw EInOutError(L"Cannot write to \"" + path + L"\": held by another program");
        }
        std::lock_guard<std::mutex> guard(FLock);
        std::string line;
        for (std::uint8_t b : bytes) {
            if (b == '\r') {
                // Keep the procedure and the text: "proc|text".
                const std::size_t t2 = line.find('\t', line.find('\t') + 1);
                const std::size_t t3 = line.find('\t', t2 + 1);
                FLines.push_back(line.substr(t2 + 1, t3 - t2 - 1) + "|" + line.substr(t3 + 1));
                FPaths.push_back(path);
                line.clear();
            } else {
                line += static_cast<char>(b);
            }
        }
    }
    void CreateFolder(const std::wstring&) override {}

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(FLock);
        return FLines;
    }
    std::vector<std::wstring> Paths() {
        std::lock_guard<std::mutex> guard(FLock);
        return FPaths;
    }

    std::atomic<bool> Refuse{false};
    std::atomic<int> Refusals{0};

private:
    std::mutex FLock;
    std::vector<std::string> FLines;
    std::vector<std::wstring> FPaths;
};

// What the writer tells, and a wait for the next notice.
class Notices {
public:
    TTraceWriter::TFailureNotice Sink() {
        return [this](const std::wstring& m) {
            std::lock_guard<std::mutex> guard(FLock);
            FTold.push_back(m);
            FChanged.notify_all();
        };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, 30s, [&] { return FTold.size() >= count; });
    }
    std::vector<std::wstring> Told() {
        std::lock_guard<std::mutex> guard(FLock);
        return FTold;
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::wstring> FTold;
};

TTraceEntry Entry(const std::string& text, const std::wstring& path = L"Error.log") {
    return {path, {2026, 12, 10, 9, 0, 1}, L"HIDreader", std::wstring(text.begin(), text.end())};
}

std::vector<std::string> Numbered(int from, int to) {
    std::vector<std::string> lines;
    for (int i = from; i <= to; ++i) lines.push_back("HIDreader|line " + std::to_string(i));
    return lines;
}

TEST(TraceWriter, WritesEveryLineOnceInOrderIntoItsOwnFile) {
    HeldFile file;
    TTraceWriter writer(file, {}, nullptr);
    // Two files, lines interleaved: each keeps its order, and the whole stays in order.
    for (int i = 1; i <= 600; ++i)
        writer.Add(Entry("line " + std::to_string(i), i % 3 == 0 ? L"other.log" : L"Error.log"));
    ASSERT_TRUE(writer.Flush(30s));
    EXPECT_EQ(file.Lines(), Numbered(1, 600));
    const std::vector<std::wstring> paths = file.Paths();
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(paths[i], (i + 1) % 3 == 0 ? L"other.log" : L"Error.log") << i;
}

TEST(TraceWriter, LinesFromSeveralThreadsEachKeepTheirOrder) {
    HeldFile file;
    TTraceWriter writer(file, {}, nullptr);
    auto add = [&](char who) {
        for (int i = 0; i < 500; ++i) writer.Add(Entry(std::string(1, who) + std::to_string(i)));
    };
    std::thread a(add, 'a'), b(add, 'b');
    a.join();
    b.join();
    ASSERT_TRUE(writer.Flush(30s));
    const std::vector<std::string> lines = file.Lines();
    ASSERT_EQ(lines.size(), 1000u);
    int next[2] = {0, 0};
    for (const std::string& l : lines) {
        const int who = l[10] == 'a' ? 0 : 1;
        EXPECT_EQ(l.substr(11), std::to_string(next[who]++)) << l;
    }
}

TEST(TraceWriter, AFileHeldForAWhileLosesNothingAndTheFailureIsToldOnce) {
    HeldFile file;
    Notices notices;
    TTraceWriter writer(file, {.MaxWaiting = 10000, .RetryAfter = 1ms}, notices.Sink());
    file.Refuse = true;
    writer.Add(Entry("line 1"));
    ASSERT_TRUE(notices.WaitFor(1));
    // Still held: the writer keeps trying, lines keep coming, nothing is told again.
    for (int i = 2; i <= 50; ++i) writer.Add(Entry("line " + std::to_string(i)));
    const int triedSoFar = file.Refusals.load();
    while (file.Refusals.load() < triedSoFar + 3) std::this_thread::yield();
    EXPECT_FALSE(writer.Flush(0ms));
    EXPECT_EQ(writer.Waiting(), 50u);

    file.Refuse = false;
    ASSERT_TRUE(writer.Flush(30s));
    EXPECT_EQ(file.Lines(), Numbered(1, 50));
    ASSERT_TRUE(notices.WaitFor(2));
    EXPECT_EQ(notices.Told(),
              (std::vector<std::wstring>{L"Cannot write to \"Error.log\": held by another program", L""}))
        << "told once when it fails, and once when lines are written again";

    // A new failure is told anew.
    file.Refuse = true;
    writer.Add(Entry("line 51"));
    ASSERT_TRUE(notices.WaitFor(3));
    file.Refuse = false;
    ASSERT_TRUE(writer.Flush(30s));
    EXPECT_EQ(file.Lines().back(), "HIDreader|line 51");
}

TEST(TraceWriter, PastTheBoundTheOldestLinesGiveWayToOneLineSayingHowMany) {
    HeldFile file;
    Notices notices;
    TTraceWriter writer(file, {.MaxWaiting = 5, .RetryAfter = 1ms}, notices.Sink());
    file.Refuse = true;
    writer.Add(Entry("line 1"));
    ASSERT_TRUE(notices.WaitFor(1));
    for (int i = 2; i <= 12; ++i) writer.Add(Entry("line " + std::to_string(i)));
    // One more refusal once every line is in: the lines the writer held meanwhile are back
    // in the queue and the bound applied to them all.
    const int refusedSoFar = file.Refusals.load();
    while (file.Refusals.load() <= refusedSoFar) std::this_thread::yield();
    file.Refuse = false;
    ASSERT_TRUE(writer.Flush(30s));

    std::vector<std::string> expected = {"WriteLog|ERROR : 7 lignes perdues (Error.log non disponible)"};
    for (const std::string& l : Numbered(8, 12)) expected.push_back(l);
    EXPECT_EQ(file.Lines(), expected);
    EXPECT_EQ(writer.Dropped(), 7u);

    // Once said, it is not said again.
    writer.Add(Entry("line 13"));
    ASSERT_TRUE(writer.Flush(30s));
    EXPECT_EQ(file.Lines().size(), expected.size() + 1);
}

TEST(TraceWriter, StoppingWritesWhatWaitsAndGivesUpOnAFileThatStaysHeld) {
    {
        HeldFile file;
        TTraceWriter writer(file, {}, nullptr);
        for (int i = 1; i <= 2000; ++i) writer.Add(Entry("line " + std::to_string(i)));
        EXPECT_EQ(writer.Stop(30s), 0u);
        EXPECT_EQ(file.Lines(), Numbered(1, 2000)) << "every line written at exit";
        writer.Add(Entry("after the end"));
        EXPECT_EQ(file.Lines().size(), 2000u);
    }
    {
        HeldFile file;
        Notices notices;
        TTraceWriter writer(file, {.MaxWaiting = 10000, .RetryAfter = 1ms}, notices.Sink());
        file.Refuse = true;
        for (int i = 1; i <= 3; ++i) writer.Add(Entry("line " + std::to_string(i)));
        ASSERT_TRUE(notices.WaitFor(1));
        // The file stays held: the writer ends when its time is up, leaving the lines.
        EXPECT_EQ(writer.Stop(20ms), 3u);
        EXPECT_TRUE(file.Lines().empty());
    }
}

}  // namespace
