// Release notes turned into the text the notes dialog shows: documents up to 4 MiB, the
// largest the engine fetches, shaped the ways that cost most (an "&" that never finds its
// ";", line breaks piled up before paragraph tags) and as ordinary notes. The argument is
// the document's length in characters.

#include <benchmark/benchmark.h>

#include <string>

#include "UpdateDialogs.h"

namespace {

std::wstring Repeated(const std::wstring& piece, std::size_t size) {
    std::wstring text;
    text.reserve(size + piece.size());
    while (text.size() < size) text += piece;
    return text;
}

void RunHtmlToText(benchmark::State& state, const std::wstring& html) {
    for (auto _ : state) benchmark::DoNotOptimize(HtmlToText(html));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(html.size()));
}

std::size_t Size(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)); }

void BM_AmpersandsWithoutSemicolon(benchmark::State& state) { RunHtmlToText(state, Repeated(L"&", Size(state))); }
void BM_BreaksThenParagraphs(benchmark::State& state) {
    RunHtmlToText(state, Repeated(L"<br>", Size(state) / 2) + Repeated(L"<p>", Size(state) / 2));
}
void BM_OrdinaryNotes(benchmark::State& state) {
    RunHtmlToText(state, Repeated(L"<h2>Version 2.1</h2><p>Faster keys &amp; fewer bugs.</p>"
                                  L"<ul><li>One</li><li>Two &eacute;t&eacute;</li></ul>",
                                  Size(state)));
}

BENCHMARK(BM_AmpersandsWithoutSemicolon)
    ->RangeMultiplier(4)
    ->Range(64 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_BreaksThenParagraphs)
    ->RangeMultiplier(4)
    ->Range(64 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_OrdinaryNotes)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
