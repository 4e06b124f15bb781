// SPDX-License-Identifier: MIT
// Throughput of relative-URI resolution (many links, and one 4 MB reference)
// and of the folded search, the latter beside std::u16string_view::find with
// a pre-folded needle on the same text.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "toolkit/kt_uri.h"
#include "toolkit/kt_utils.h"

namespace {

constexpr std::u16string_view kBase = u"http://feeds.example.org/shows/tidal/episodes/index.html?page=2";
constexpr int kReferenceCount = 100000;
constexpr size_t kTextLength = 1 << 20;

// Links as feeds and pages carry them: file names, parent paths, rooted and
// network paths, absolute URLs, queries and fragments.
std::vector<kt::WideString> MakeReferences() {
  const std::u16string_view shapes[] = {
      u"episode-%.mp3", u"../art/cover-%.jpg", u"./notes/%.html", u"/feeds/%/rss.xml",
      u"//cdn.example.net/media/%.m4a", u"https://other.example.com/a/b/../%?x=1#t",
      u"?page=%", u"#item-%", u"%/../../up/./file.txt", u"mailto:host-%@example.org"};
  std::vector<kt::WideString> references;
  references.reserve(kReferenceCount);
  for (int i = 0; i < kReferenceCount; ++i) {
    kt::WideString reference(shapes[i % std::size(shapes)]);
    const std::string number = std::to_string(i);
    reference.replace(reference.find(u'%'), 1, kt::WideString(number.begin(), number.end()));
    references.push_back(std::move(reference));
  }
  return references;
}

void BM_ResolveRelativeUri(benchmark::State& state) {
  const std::vector<kt::WideString> references = MakeReferences();
  kt::WideString result;
  for (auto _ : state) {
    for (const kt::WideString& reference : references) {
      benchmark::DoNotOptimize(kt::ResolveRelativeUri(kBase, reference, result));
    }
  }
  state.SetItemsProcessed(state.iterations() * kReferenceCount);
}
BENCHMARK(BM_ResolveRelativeUri)->Unit(benchmark::kMillisecond);

// One hostile reference of 4 MB: every segment steps back, so a resolver that
// edits the path in place for each one takes time quadratic in its length.
void BM_ResolveLongReference(benchmark::State& state) {
  constexpr std::u16string_view kStep = u"./../y/";
  kt::WideString reference;
  while (reference.size() * sizeof(char16_t) < (size_t(4) << 20)) reference.append(kStep);
  kt::WideString result;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kt::ResolveRelativeUri(kBase, reference, result));
  }
  state.SetBytesProcessed(state.iterations() * int64_t(reference.size() * sizeof(char16_t)));
}
BENCHMARK(BM_ResolveLongReference)->Unit(benchmark::kMillisecond);

// Mixed-case markup with many "<" so the search often compares past the first
// character; the one match, folded, stands at the end.
kt::WideString MakeText() {
  const std::u16string_view chunk =
      u"<Item><Title>Tidal Notes \u0395\u03A0\u0399\u03A3\u039F\u0394\u0399\u039F</Title>"
      u"<Link>http://Feeds.Example.org/Shows</Link><Enclosure url=\"x.mp3\"/></Item>\n";
  kt::WideString text;
  text.reserve(kTextLength);
  while (text.size() + chunk.size() < kTextLength - 16) text.append(chunk);
  text.append(u"</enclosures>");
  text.resize(kTextLength, u' ');
  return text;
}

constexpr std::u16string_view kNeedle = u"</ENCLOSURES>";
constexpr std::u16string_view kFoldedNeedle = u"</enclosures>";

void BM_StrPosIW(benchmark::State& state) {
  const kt::WideString text = MakeText();
  if (kt::StrPosIW(kNeedle, text) != int(std::u16string_view(text).find(kFoldedNeedle) + 1)) {
    state.SkipWithError("the two searches disagree");
  }
  for (auto _ : state) benchmark::DoNotOptimize(kt::StrPosIW(kNeedle, text));
  state.SetBytesProcessed(state.iterations() * int64_t(kTextLength * sizeof(char16_t)));
}
BENCHMARK(BM_StrPosIW)->Unit(benchmark::kMicrosecond);

void BM_U16StringViewFindPreFolded(benchmark::State& state) {
  const kt::WideString text = MakeText();
  const std::u16string_view view(text);
  for (auto _ : state) benchmark::DoNotOptimize(view.find(kFoldedNeedle));
  state.SetBytesProcessed(state.iterations() * int64_t(kTextLength * sizeof(char16_t)));
}
BENCHMARK(BM_U16StringViewFindPreFolded)->Unit(benchmark::kMicrosecond);

}  // namespace
