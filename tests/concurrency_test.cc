// Many threads shrinking at once: calls share nothing, so every envelope made
// under contention must equal the one a single thread makes for the same
// request. Run under the thread sanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "document/yaml.h"
#include "lib.h"
#include "quendra.h"
#include "shrink_check.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

struct Request {
  std::string doc, options;
  quendra_counter count = nullptr;  // with budgets in tokens
  int fail_from = 0;                // the counter's first failing call
};

// Generated documents as JSON and YAML and broken ones, under options that
// reach every path of the library and each kind of error.
std::vector<Request> requests() {
  std::vector<std::string> docs = {"[1, 2", "key: [unclosed", "\xC3\x28",
                                   list("[", 40, [](std::size_t i) {
                                     return R"({"id":)" + std::to_string(i) + R"(,"name":"user )" +
                                            std::to_string(i) + R"(","role":"dev"})";
                                   })};
  Generator gen(3);
  for (int i = 0; i < 6; ++i) {
    const Value v = gen.value(0);
    docs.push_back(i % 2 ? render(v) : yaml::render(v, 2));
  }
  const char* const kOptions[] = {
      "{}",
      R"({"max_chars":0})",
      R"({"max_chars":200,"indent":0})",
      R"({"max_chars":400,"format":"yaml","budget_unit":"utf16"})",
      R"({"max_chars":300,"array_strategy":"condense","explain":true})",
      R"({"max_chars":250,"array_strategy":"condense","field_scorer":"compact","arguments":"email active"})",
      R"({"max_chars":150,"protect":["id","/links/next"],"keep_last_item":false,"max_samples":1})",
      R"({"max_chars":-1})",
  };
  // Budgets in tokens, counted by host counters on the calling threads; one
  // of them fails on its second call, in the search.
  const Request kTokens[] = {
      {"", R"({"max_chars":120,"budget_unit":"tokens"})", word_tokens, 0},
      {"", R"({"max_chars":90,"budget_unit":"tokens","format":"yaml","array_strategy":"condense"})", byte_quads, 0},
      {"", R"({"max_chars":30,"budget_unit":"tokens","indent":0})", word_tokens, 2},
  };
  std::vector<Request> out;
  for (const std::string& d : docs) {
    for (const char* o : kOptions) out.push_back({d, o});
    for (Request r : kTokens) {
      r.doc = d;
      out.push_back(r);
    }
  }
  return out;
}

// One call through the C entry point, with buffers of exactly the texts' sizes.
std::string shrink_c(const Request& r) {
  std::uint8_t* doc = quendra_alloc(r.doc.size());
  std::uint8_t* opt = quendra_alloc(r.options.size());
  std::copy(r.doc.begin(), r.doc.end(), doc);
  std::copy(r.options.begin(), r.options.end(), opt);
  std::size_t len = 0;
  Counting seen{0, r.fail_from};
  std::uint8_t* env =
      r.count ? quendra_shrink_with_counter(doc, r.doc.size(), opt, r.options.size(), r.count, &seen, &len)
              : quendra_shrink(doc, r.doc.size(), opt, r.options.size(), &len);
  std::string out(reinterpret_cast<const char*>(env), len);
  quendra_free(env, len);
  quendra_free(doc, r.doc.size());
  quendra_free(opt, r.options.size());
  return out;
}

TEST(Concurrency, EveryThreadGetsTheSingleThreadedEnvelope) {
  const std::vector<Request> reqs = requests();
  std::vector<std::string> expected;
  // The same call on this thread.
  auto shrink_here = [](const Request& r) {
    Counting seen{0, r.fail_from};
    return shrink(r.doc, r.options, {r.count, &seen});
  };
  for (const Request& r : reqs) expected.push_back(shrink_here(r));
  EXPECT_NE(std::find(expected.begin(), expected.end(), R"({"ok":false,"error":"the token counter failed"})"),
            expected.end());

  // Thread t walks the requests from its own start with its own stride, so
  // different requests overlap at every moment.
  constexpr int kThreads = 8;
  std::vector<std::vector<std::size_t>> mismatches(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::size_t i = static_cast<std::size_t>(t) * 7;
      for (int call = 0; call < 500; ++call) {
        i = (i + 2 * static_cast<std::size_t>(t) + 1) % reqs.size();
        const std::string got = call % 2 ? shrink_c(reqs[i]) : shrink_here(reqs[i]);
        if (got != expected[i]) mismatches[t].push_back(i);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(mismatches[t].empty()) << "thread " << t << ", first differing request: "
                                       << reqs[mismatches[t][0]].doc.substr(0, 80) << " with "
                                       << reqs[mismatches[t][0]].options;
  }
}

}  // namespace
}  // namespace quendra
