// SPDX-License-Identifier: MIT
// Throughput of the HTML tokenizer over a 10 MB page shaped like the pages
// feeds link to (head with meta, link and script elements, navigation,
// articles with entities, tables, comments, inline scripts and styles), next
// to libgumbo parsing the same bytes into its tree in the same run.
#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <string>

#include "toolkit/kt_html_names.h"
#include "toolkit/kt_html_parser.h"
#include "toolkit/kt_html_tokenizer.h"
#include "toolkit/kt_html_writer_plugin.h"
#include "toolkit/kt_unicode_codecs.h"

namespace {

constexpr size_t kPageSize = 10 * 1024 * 1024;

std::string Head() {
  return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">\n"
         "<html lang=\"en\"><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
         "<title>Tidal notes &mdash; episode archive</title>\n"
         "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"Episodes\" href=\"/feed.xml\">\n"
         "<link rel=\"stylesheet\" href=\"/css/site.css?v=3\" media=\"screen\">\n"
         "<style type=\"text/css\">body { font: 14px/1.4 sans-serif; } .nav a { color: #06c; }</style>\n"
         "<script type=\"text/javascript\">var page = {id: 42, tags: ['a', 'b']};\n"
         "function show(n) { if (n < 3 && n / 2 > 0) { return '<b>' + n + '</b>'; } return /x+/g; }\n"
         "</script></head>\n<body class=\"archive\"><div id=\"nav\" class=\"nav\"><ul>"
         "<li><a href=\"/\">Home</a></li><li><a href=\"/about.html\" title=\"About us\">About</a></li></ul></div>\n";
}

std::string Article(int i) {
  const std::string n = std::to_string(i);
  return "<div class=\"post\" id=\"post-" + n + "\">\n<h2><a href=\"/episodes/" + n +
         ".html\" rel=\"bookmark\">Episode " + n + ": tides &amp; currents</a></h2>\n"
         "<p class=\"meta\">Posted on <span class=\"date\">2026-12-0" + std::to_string(i % 9 + 1) +
         "</span> by <a href=\"/authors/ann\">Ann</a> &middot; <a href=\"#comments\">3 comments</a></p>\n"
         "<!-- post body -->\n<p>The <em>spring tide</em> rose &#8220;higher than ever&#8221; this week; "
         "we measured it at <strong>4.2&nbsp;m</strong> near the pier. Listen to the "
         "<a href=\"https://media.example.org/ep" + n + ".mp3\" type=\"audio/mpeg\">audio</a> or read on.</p>\n"
         "<img src=\"/img/ep" + n + ".jpg\" alt=\"Harbour at dusk\" width=\"320\" height=\"200\"/>\n"
         "<table class=\"data\"><tr><th>Time</th><th>Height</th></tr><tr><td>06:12</td><td>3.9 m</td></tr>"
         "<tr><td>18:40</td><td>4.2 m</td></tr></table>\n"
         "<script>document.write('<span>' + " + n + " + '</span>');</script>\n</div>\n";
}

const std::string& Page() {
  static const std::string page = [] {
    std::string text = Head();
    for (int i = 0; text.size() < kPageSize; ++i) text += Article(i);
    text += "</body></html>\n";
    return text;
  }();
  return page;
}

void BM_KtHtmlTokenizerReadsEveryPiece(benchmark::State& state) {
  kt::RegisterHtmlTagNames();
  kt::RegisterHtmlAttribNames();
  const std::string& page = Page();
  size_t pieces = 0;
  for (auto _ : state) {
    kt::TKtHtmlTokenizer tokenizer;
    tokenizer.SetReadMethods({nullptr, kt::Read_UTF_8, nullptr});
    tokenizer.SourceBufferEx(page.data(), static_cast<uint32_t>(page.size()));
    pieces = 0;
    while (tokenizer.ReadNextPiece()) ++pieces;
    benchmark::DoNotOptimize(pieces);
  }
  state.counters["pieces"] = static_cast<double>(pieces);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_KtHtmlTokenizerReadsEveryPiece)->Unit(benchmark::kMillisecond);

// The link walker's pipe: six start tags shown to the caller, every other
// tag and all text written back out by a writer plugin.
void BM_KtHtmlParserRewritesThePage(benchmark::State& state) {
  kt::RegisterHtmlTagNames();
  kt::RegisterHtmlAttribNames();
  const std::string& page = Page();
  for (auto _ : state) {
    kt::TKtHtmlParser parser;
    kt::TKtHtmlWriterPlugin writer;
    writer.SetFilterText(kt::TKtFilter::fiShow);
    writer.FilterHtmlTags().SetStartAndEndTags(kt::TKtFilter::fiShowHidden);
    parser.AddPluginLast(&writer);
    kt::TKtTagFilters filters;
    parser.SetHtmlTagFilters(&filters);
    filters.SetTagFilters({42, 86, 1, 58, 67, 56}, kt::TKtFilter::fiShow);
    parser.SetReadMethods({nullptr, kt::Read_UTF_8, nullptr});
    parser.SourceBufferEx(page.data(), static_cast<uint32_t>(page.size()));
    while (parser.ReadNextPiece()) writer.WriteHtmlTag();
    writer.Writer().Flush();
    benchmark::DoNotOptimize(writer.Writer().BufPos);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_KtHtmlParserRewritesThePage)->Unit(benchmark::kMillisecond);

void BM_GumboParsesTheSamePage(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_GumboParsesTheSamePage)->Unit(benchmark::kMillisecond);

}  // namespace
