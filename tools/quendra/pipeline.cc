// Reading in batches, the worker pool and the ordered writer.

#include "pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quendra_cli {
namespace {

// Batches hold at most this many lines or bytes (a longer line makes a batch
// of its own); the input is read at most kReadChunk bytes at a time; at most
// kBatchesPerJob batches per thread and kMaxBytesInFlight input bytes stand
// between reading and writing, so that a stream of any length runs in memory
// bounded by these numbers and by its longest line.
constexpr std::size_t kBatchLines = 1024;
constexpr std::size_t kBatchBytes = std::size_t{64} << 10;
constexpr std::size_t kReadChunk = std::size_t{64} << 10;
constexpr std::size_t kBatchesPerJob = 4;
constexpr std::size_t kMaxBytesInFlight = std::size_t{16} << 20;

// Writes a batch that is done: its lines to the output, its messages to
// standard error (after the output so far, so that a terminal shows them in
// order).
void write_batch(Output& out, const Batch& batch) {
  out.write(batch.output);
  if (!batch.errors.empty()) {
    out.flush();
    std::fwrite(batch.errors.data(), 1, batch.errors.size(), stderr);
  }
}

// Works on the batches one after the other on this thread.
BatchCounts run_batches(LineReader& reader, Output& out, const BatchWork& work) {
  BatchCounts counts;
  Batch batch;
  while (!out.failed() && reader.next(batch)) {
    batch.output.clear();
    batch.errors.clear();
    batch.counts = {};
    work(batch);
    write_batch(out, batch);
    out.flush();
    counts.add(batch.counts);
  }
  return counts;
}

// Works on batches on several worker threads. The calling thread reads, and
// a writer thread writes the batches in input order. Between the two stand
// at most kBatchesPerJob batches per worker, and no more than
// kMaxBytesInFlight input bytes unless one batch alone is larger.
class BatchPipeline {
 public:
  BatchPipeline(const BatchWork& work, Output& out, unsigned jobs)
      : work_(work), out_(out), jobs_(jobs) {}

  BatchCounts run(LineReader& reader) {
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < jobs_; ++i) workers.emplace_back(&BatchPipeline::work, this);
    std::thread writer(&BatchPipeline::write, this);
    const std::size_t max_batches = kBatchesPerJob * jobs_;
    for (;;) {
      std::unique_ptr<Batch> batch = spare_batch();
      if (!reader.next(*batch)) break;
      std::unique_lock lock(mutex_);
      room_.wait(lock, [&] {
        return output_failed_ || (in_flight_.size() < max_batches &&
                                  (in_flight_.empty() ||
                                   bytes_in_flight_ + batch->input.size() <= kMaxBytesInFlight));
      });
      if (output_failed_) break;
      bytes_in_flight_ += batch->input.size();
      queued_.push_back(batch.get());
      in_flight_.push_back(std::move(batch));
      lock.unlock();
      work_ready_.notify_one();
    }
    {
      std::lock_guard lock(mutex_);
      input_done_ = true;
    }
    work_ready_.notify_all();
    batch_done_.notify_all();
    for (std::thread& worker : workers) worker.join();
    writer.join();
    return counts_;
  }

 private:
  void work() {
    for (;;) {
      Batch* batch;
      bool skip;
      {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [&] { return !queued_.empty() || input_done_; });
        if (queued_.empty()) return;
        batch = queued_.front();
        queued_.pop_front();
        skip = output_failed_;
      }
      if (!skip) work_(*batch);
      {
        std::lock_guard lock(mutex_);
        batch->done = true;
      }
      batch_done_.notify_one();
    }
  }

  void write() {
    for (;;) {
      std::unique_ptr<Batch> batch;
      {
        std::unique_lock lock(mutex_);
        auto ready = [&] { return in_flight_.empty() ? input_done_ : in_flight_.front()->done; };
        if (!ready()) {
          // Whoever reads the output gets everything that is ready before
          // this thread waits.
          lock.unlock();
          out_.flush();
          lock.lock();
          batch_done_.wait(lock, ready);
        }
        if (in_flight_.empty()) return;
        batch = std::move(in_flight_.front());
        in_flight_.pop_front();
        bytes_in_flight_ -= batch->input.size();
      }
      room_.notify_one();
      if (!output_failed_) {
        counts_.add(batch->counts);
        write_batch(out_, *batch);
      }
      bool failed = out_.failed();
      std::lock_guard lock(mutex_);
      if (failed && !output_failed_) {
        output_failed_ = true;
        room_.notify_all();
      }
      // A batch that held a line far longer than a batch gives its memory back.
      if (batch->input.capacity() <= 4 * kBatchBytes &&
          batch->output.capacity() <= 16 * kBatchBytes) {
        spare_.push_back(std::move(batch));
      }
    }
  }

  // A written batch to be filled again, with the buffers it has: buffers
  // allocated afresh for every batch make the kernel map and clear new pages
  // every time.
  std::unique_ptr<Batch> spare_batch() {
    std::unique_ptr<Batch> batch;
    {
      std::lock_guard lock(mutex_);
      if (!spare_.empty()) {
        batch = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (!batch) return std::make_unique<Batch>();
    batch->output.clear();
    batch->errors.clear();
    batch->counts = {};
    batch->done = false;
    return batch;
  }

  const BatchWork& work_;
  Output& out_;
  const unsigned jobs_;

  std::mutex mutex_;
  std::condition_variable work_ready_;  // a batch was queued, or the input ended
  std::condition_variable batch_done_;  // a batch was worked on, or the input ended
  std::condition_variable room_;        // a batch was written, or writing failed
  std::deque<std::unique_ptr<Batch>> in_flight_;  // read and not yet written, in input order
  std::deque<Batch*> queued_;                     // not yet taken by a worker
  std::vector<std::unique_ptr<Batch>> spare_;     // written, to be filled again
  std::size_t bytes_in_flight_ = 0;
  bool input_done_ = false;
  bool output_failed_ = false;  // set by the writer only
  BatchCounts counts_;          // the writer's, until run() returns
};

}  // namespace

bool LineReader::next(Batch& batch) {
  batch.input.clear();
  for (;;) {
    std::size_t end = start_;
    std::size_t lines = 0;
    while (lines < kBatchLines && (lines == 0 || end - start_ < kBatchBytes)) {
      std::size_t from = std::max(end, scanned_);
      const void* newline = std::memchr(buffer_.data() + from, '\n', buffer_.size() - from);
      if (newline == nullptr) {
        scanned_ = buffer_.size();
        break;
      }
      end = static_cast<std::size_t>(static_cast<const char*>(newline) - buffer_.data()) + 1;
      ++lines;
    }
    if (lines == 0 && at_end_ && error_ == 0 && start_ < buffer_.size()) {
      end = buffer_.size();
      lines = 1;
    }
    if (lines > 0) {
      batch.input.assign(buffer_, start_, end - start_);
      if (!batch.input.ends_with('\n')) batch.input += '\n';
      batch.first_line = next_line_;
      next_line_ += lines;
      start_ = end;
      scanned_ = std::max(scanned_, end);
      return true;
    }
    if (at_end_) return false;
    fill();
  }
}

void LineReader::fill() {
  buffer_.erase(0, start_);
  scanned_ -= start_;
  start_ = 0;
  std::size_t old = buffer_.size();
  buffer_.resize(old + kReadChunk);
  ssize_t n;
  do {
    n = ::read(fd_, buffer_.data() + old, kReadChunk);
  } while (n < 0 && errno == EINTR);
  buffer_.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  if (n <= 0) at_end_ = true;
  if (n < 0) error_ = errno;
}

BatchCounts run_pipeline(LineReader& reader, Output& out, unsigned jobs, const BatchWork& work) {
  return jobs == 1 ? run_batches(reader, out, work) : BatchPipeline(work, out, jobs).run(reader);
}

}  // namespace quendra_cli
