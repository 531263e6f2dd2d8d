// Many threads shrinking at once: calls share nothing, so every envelope made
// under contention must equal the one a single thread makes for the same
// request. Run under the thread sanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "lib.h"
#include "quendra.h"

namespace quendra {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 500;

struct Request {
  std::string doc;
  std::string options;
};

// A page of `n` user records with varied fields, long text and nesting.
std::string records(int n, int seed) {
  std::string out = R"({"page":)" + std::to_string(seed) + R"(,"users":[)";
  for (int i = 0; i < n; ++i) {
    if (i) out += ',';
    out += R"({"id":)" + std::to_string(seed * 100 + i) + R"(,"name":"user )" + std::to_string(i) +
           R"(","email":"u)" + std::to_string(i) + R"(@example.com","active":)" +
           (i % 3 ? "true" : "false");
    if (i % 2) out += R"(,"bio":"Likes long walks, longer sentences and the occasional word that runs on")";
    if (i % 4 == 1) out += R"(,"tags":["a","b","c","d","e","f"],"avatar_url":"https://example.com/a.png")";
    out += '}';
  }
  return out + R"(],"links":{"next":"https://example.com/next","prev":null}})";
}

std::vector<Request> requests() {
  const std::vector<std::string> docs = {
      records(3, 1),
      records(40, 2),
      records(120, 3),
      R"(["one","two","three",[1,2,[3,4,[5,6]]],{"k":"v","k":"w"},null,true,1.5e300])",
      "\"" + std::string(3000, 'x') + " tail words here\\nsecond line\\n\\nnext section\"",
      "title: Report\nitems:\n  - name: one\n    size: 1\n  - name: two\n    size: 2\n"
      "notes: |\n  line one\n  line two\nanchored: &a [1, 2, 3]\ncopy: *a\n",
      "---\na: 1\n---\nb: [x, y, z]\n",
      "[1, 2",
      "key: [unclosed",
      "\xC3\x28",
  };
  const std::vector<std::string> options = {
      "{}",
      R"({"max_chars":0})",
      R"({"max_chars":200,"indent":0})",
      R"({"max_chars":400,"format":"yaml"})",
      R"({"max_chars":300,"array_strategy":"condense","explain":true})",
      R"({"max_chars":250,"array_strategy":"condense","field_scorer":"compact","arguments":"email active"})",
      R"({"max_chars":150,"protect":["id","/links/next"],"keep_last_item":false,"max_samples":1})",
      R"({"max_chars":500,"field_scorer":"key_order","string_head_chars":40,"indent":4})",
      R"({"max_chars":18446744073709551615})",
      R"({"max_chars":-1})",
  };
  std::vector<Request> out;
  for (const std::string& d : docs) {
    for (const std::string& o : options) out.push_back({d, o});
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
  std::uint8_t* env = quendra_shrink(doc, r.doc.size(), opt, r.options.size(), &len);
  std::string out(reinterpret_cast<const char*>(env), len);
  quendra_free(env, len);
  quendra_free(doc, r.doc.size());
  quendra_free(opt, r.options.size());
  return out;
}

TEST(Concurrency, EveryThreadGetsTheSingleThreadedEnvelope) {
  const std::vector<Request> reqs = requests();
  std::vector<std::string> expected;
  for (const Request& r : reqs) expected.push_back(shrink(r.doc, r.options));

  // Thread t walks the requests from its own start with its own stride, so
  // different requests overlap at every moment.
  std::vector<std::vector<std::size_t>> mismatches(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::size_t i = static_cast<std::size_t>(t) * 7;
      for (int call = 0; call < kCallsPerThread; ++call) {
        i = (i + 2 * static_cast<std::size_t>(t) + 1) % reqs.size();
        const std::string got = call % 2 ? shrink_c(reqs[i]) : shrink(reqs[i].doc, reqs[i].options);
        if (got != expected[i]) mismatches[t].push_back(i);
      }
    });
  }
  for (std::thread& th : threads) th.join();

  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    EXPECT_TRUE(mismatches[t].empty()) << "first differing request: " << reqs[mismatches[t][0]].doc.substr(0, 80)
                                       << " with " << reqs[mismatches[t][0]].options;
  }
}

TEST(Concurrency, RequestsCoverSuccessesAndEveryFailureKind) {
  // The mix above is only a good test when it exercises the pruned path and
  // each error path, so the single-threaded answers are checked for that.
  int pruned = 0, unpruned = 0, input_errors = 0, option_errors = 0, utf8_errors = 0;
  for (const Request& r : requests()) {
    std::string env = shrink(r.doc, r.options);
    pruned += env.find(R"("pruned":true)") != std::string::npos;
    unpruned += env.find(R"("pruned":false)") != std::string::npos;
    input_errors += env.find("invalid JSON input") != std::string::npos ||
                    env.find("invalid YAML input") != std::string::npos;
    option_errors += env.find("invalid options") != std::string::npos;
    utf8_errors += env.find("not valid UTF-8") != std::string::npos;
  }
  EXPECT_GT(pruned, 20);
  EXPECT_GT(unpruned, 5);
  EXPECT_GT(input_errors, 5);
  EXPECT_GT(option_errors, 5);
  EXPECT_GT(utf8_errors, 5);
}

}  // namespace
}  // namespace quendra
