// _docoutline: the Python module's C++ layer, a page of shims over the outline library
// and the batch front end's parts. Each shim turns its source into a ByteSource (a path
// opened as the batch opens it, a buffer read in place, a Python file object read at
// offsets), reads it with outline::Read with the GIL released, and hands back the
// record as the batch's own JSON line (batch::FormatRecord): both front ends share one
// formatter, so a record reads the same wherever it came from. The docoutline package
// (docoutline/__init__.py) turns lines into dicts and gives the Python interface.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "input.h"
#include "json.h"
#include "options.h"
#include "pipeline.h"
#include "read_record.h"
#include "readers/byte_source.h"

namespace py = pybind11;

namespace {

// What read() keeps from one document to the next on each Python thread: read() releases
// the GIL, so several threads may read at once, each with its own state.
struct ThreadReader {
  outline::ReaderState state;
  batch::Record record;
  std::string line;
};
thread_local ThreadReader t_reader;
thread_local bool t_readerInUse = false;

// This thread's reader; or, while that one is in use, a new one of its own: a file
// object's readinto may call read() again, on the thread whose read called it.
class BorrowedReader {
 public:
  BorrowedReader() {
    if (t_readerInUse) {
      own_ = std::make_unique<ThreadReader>();
    } else {
      t_readerInUse = true;
    }
  }
  ~BorrowedReader() {
    if (!own_) t_readerInUse = false;
  }
  BorrowedReader(const BorrowedReader&) = delete;
  BorrowedReader& operator=(const BorrowedReader&) = delete;
  ThreadReader& get() { return own_ ? *own_ : t_reader; }

 private:
  std::unique_ptr<ThreadReader> own_;
};

// The JSON line of `record`, under `path` (bytes) or null when `path` is None.
py::str LineOf(std::string& line, const batch::Record& record, const std::optional<std::string>& path) {
  line.clear();
  if (path) {
    batch::FormatRecord(line, *path, record);
  } else {
    batch::FormatRecord(line, record);
  }
  return py::str(line.data(), line.size());
}

// A C string for the system calls: a path holding a NUL byte names no file, and the
// system would see only its first part.
void CheckPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
}

py::str ReadPath(const std::string& path, const std::optional<std::string>& recordPath) {
  CheckPath(path);
  BorrowedReader borrowed;
  ThreadReader& reader = borrowed.get();
  {
    py::gil_scoped_release release;
    batch::KeepSmall(reader.record);
    // Looked at first: only a regular file is ever opened, never a FIFO or a device.
    batch::ReadRecord(path.c_str(), reader.record, reader.state, /*lookFirst=*/true);
  }
  return LineOf(reader.line, reader.record, recordPath ? recordPath : std::optional<std::string>(path));
}

// A contiguous view of an object's bytes, held for as long as this lives: the exporter
// (bytes, bytearray, memoryview, mmap ...) can neither free nor resize them meanwhile.
class BufferView {
 public:
  explicit BufferView(const py::object& object) {
    if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
  }
  ~BufferView() { PyBuffer_Release(&view_); }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  std::span<const std::uint8_t> bytes() const {
    return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

py::str ReadBuffer(const py::object& data, const std::optional<std::string>& recordPath) {
  const BufferView view(data);
  BorrowedReader borrowed;
  ThreadReader& reader = borrowed.get();
  {
    py::gil_scoped_release release;
    batch::KeepSmall(reader.record);
    reader.record.Clear();
    readers::MemorySource source(view.bytes());
    outline::Read(source, reader.record, reader.state);
  }
  return LineOf(reader.line, reader.record, recordPath);
}

// A Python binary file object as a ByteSource: each read is a seek and readinto (or read)
// on the object, made with the GIL taken back for that call alone. The first read inside
// the first kHeadBytes reads all of them at once and serves the rest from memory: every
// reader starts with the file's first bytes and, in a small document, finds the next
// structures close behind them, so a small document costs one call on the object (one
// request, for a file object over HTTP) where it would cost several.
//
// An Exception raised by the object ends the reading: the record says io-error with the
// exception's message. Any other BaseException (KeyboardInterrupt, SystemExit) is held
// and raised again once the reading is over.
class FileObjectSource final : public readers::ByteSource {
 public:
  static constexpr std::size_t kHeadBytes = 64u << 10;

  FileObjectSource(py::object file, std::uint64_t size)
      : file_(std::move(file)), size_(size), seek_(file_.attr("seek")) {
    if (py::object readinto = py::getattr(file_, "readinto", py::none()); PyCallable_Check(readinto.ptr()) != 0) {
      readinto_ = std::move(readinto);
    } else {
      read_ = file_.attr("read");
    }
  }
  FileObjectSource(const FileObjectSource&) = delete;
  FileObjectSource& operator=(const FileObjectSource&) = delete;

  std::uint64_t Size() const override { return size_; }

  int ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (offset >= kHeadBytes || out.size() > kHeadBytes - offset) return Fetch(offset, out, nullptr);
    if (!headRead_) {
      head_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kHeadBytes, size_)));
      std::size_t got = 0;
      if (const int error = Fetch(0, head_, &got); error != 0 && error != readers::kSourceEnded) return error;
      headRead_ = true;
      head_.resize(got);
    }
    if (offset + out.size() > head_.size()) return readers::kSourceEnded;
    std::copy_n(head_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return 0;
  }

  // The message of the Exception that ended the reading, if one did.
  const std::optional<std::string>& failure() const { return failure_; }
  // Raises the BaseException held, if any. With the GIL held.
  void RaiseHeld() {
    if (held_) {
      const std::unique_ptr<py::error_already_set> held = std::move(held_);
      throw py::error_already_set(*held);
    }
  }

 private:
  // Reads `out` at `offset` from the object; `got`, when given, counts what was read.
  int Fetch(std::uint64_t offset, std::span<std::uint8_t> out, std::size_t* got) {
    py::gil_scoped_acquire gil;
    if (failure_ || held_) return EIO;  // the object is not called again
    std::size_t done = 0;
    int result = 0;
    try {
      seek_(offset);
      while (done < out.size()) {
        const std::size_t n = ReadSome(out.subspan(done));
        if (n == 0) {
          result = readers::kSourceEnded;  // the object ends before the size it gave
          break;
        }
        done += n;
      }
    } catch (py::error_already_set& e) {
      if (e.matches(PyExc_Exception)) {
        std::string message = py::str(e.value());
        failure_ = message.empty() ? std::string(py::str(e.type().attr("__name__"))) : std::move(message);
      } else {
        held_ = std::make_unique<py::error_already_set>(std::move(e));
      }
      result = EIO;
    } catch (const std::exception& e) {  // a result of the wrong type (pybind11's cast_error)
      failure_ = e.what();
      result = EIO;
    }
    if (got != nullptr) *got = done;
    return result;
  }

  // One call of readinto or read, into the front of `out`: the bytes it gave.
  std::size_t ReadSome(std::span<std::uint8_t> out) {
    const auto want = static_cast<py::ssize_t>(out.size());
    if (readinto_) {
      py::memoryview view = py::memoryview::from_memory(out.data(), want, /*readonly=*/false);
      const py::object n = readinto_(view);
      view.attr("release")();  // the object can no longer reach this memory
      if (n.is_none()) Fail("readinto() returned None: no data is ready (a non-blocking stream)");
      const auto count = n.cast<py::ssize_t>();
      if (count < 0 || count > want) Fail("readinto() returned a count outside the buffer");
      return static_cast<std::size_t>(count);
    }
    const py::object data = read_(want);
    if (!PyObject_CheckBuffer(data.ptr()))
      Fail("read() returned " + std::string(py::str(py::type::of(data).attr("__name__"))) + ", not bytes");
    const BufferView view(data);
    if (view.bytes().size() > out.size()) Fail("read() returned more bytes than asked for");
    std::copy(view.bytes().begin(), view.bytes().end(), out.begin());
    return view.bytes().size();
  }

  [[noreturn]] static void Fail(const std::string& message) {
    PyErr_SetString(PyExc_OSError, message.c_str());
    throw py::error_already_set();
  }

  py::object file_;
  std::uint64_t size_;
  py::object seek_;
  py::object readinto_;
  py::object read_;
  bool headRead_ = false;
  std::vector<std::uint8_t> head_;
  std::optional<std::string> failure_;
  std::unique_ptr<py::error_already_set> held_;
};

// `stamp`: (seconds, nanoseconds) of the file's last change, when the object is an open
// file whose descriptor gave them; the record then carries size and mtime as the batch's
// does.
py::str ReadFile(const py::object& file, std::uint64_t size, const std::optional<std::string>& recordPath,
                 std::optional<std::pair<std::int64_t, std::uint32_t>> stamp) {
  FileObjectSource source(file, size);
  BorrowedReader borrowed;
  ThreadReader& reader = borrowed.get();
  {
    py::gil_scoped_release release;
    batch::KeepSmall(reader.record);
    reader.record.Clear();
    outline::Read(source, reader.record, reader.state);
  }
  source.RaiseHeld();
  batch::Record& record = reader.record;
  if (source.failure()) {
    record.status = outline::Status::kIoError;
    record.detail = *source.failure();
  }
  if (stamp) {
    record.size = size;
    record.mtime = outline::FileTime{stamp->first, stamp->second};
  }
  return LineOf(reader.line, record, recordPath);
}

// The items of a scan: the paths given, folders walked, exactly as docoutline-batch takes
// its arguments (batch::PathSource), but for "-", which here names a file like any other
// and never the standard input. Each "-" gets a PathSource of its own over "./-", whose
// items lose the "./" again. Ends early, at the next item, once Cancel is called.
class ScanSource final : public batch::ItemSource {
 public:
  explicit ScanSource(std::vector<std::string> paths) {
    std::vector<std::string> run;
    const auto endRun = [&] {
      if (!run.empty()) parts_.push_back({std::make_unique<batch::PathSource>(std::move(run), -1, '\n'), false});
      run.clear();
    };
    for (std::string& path : paths) {
      if (path == "-") {
        endRun();
        parts_.push_back({std::make_unique<batch::PathSource>(std::vector<std::string>{"./-"}, -1, '\n'), true});
      } else {
        run.push_back(std::move(path));
      }
    }
    endRun();
  }

  batch::Next Take(batch::Item& item) override {
    while (!cancelled_.load(std::memory_order_relaxed) && next_ < parts_.size()) {
      const batch::Next next = parts_[next_].source->Take(item);
      if (next == batch::Next::kEnd) {
        parts_[next_++].source.reset();
        continue;
      }
      if (next == batch::Next::kItem && parts_[next_].dash) item.path.erase(0, 2);
      return next;
    }
    return batch::Next::kEnd;
  }
  void Fetch() override {
    if (next_ < parts_.size()) parts_[next_].source->Fetch();
  }
  // From any thread: the next Take says kEnd.
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }

 private:
  struct Part {
    std::unique_ptr<batch::PathSource> source;
    bool dash;  // the source of a "-" argument, as "./-"
  };
  std::vector<Part> parts_;
  std::size_t next_ = 0;
  std::atomic<bool> cancelled_{false};
};

class LineWorker final : public batch::Worker {
 public:
  void Process(const batch::Item& item, std::string& line) override { maker_.Make(item, line); }

 private:
  batch::RecordMaker maker_;
};

// A scan: a batch pipeline on threads of its own, over the given paths, whose lines (in
// input order) wait in a bounded queue for the Python thread. The pipeline's threads
// never take the GIL; the Python thread waits for lines with it released, a short while
// at a time, so that it can see a signal (Ctrl-C) between waits.
//
// The Python thread is woken once kHandBytes of lines wait, or at the end; otherwise it
// takes what waits when its wait runs out. The pipeline passes lines on one document at
// a time when its input needs a system call per item (paths given one by one), and a
// wake-up per document would cost the Python thread a context switch and a trip through
// the interpreter each.
class Scan final : public batch::LineSink {
 public:
  // Lines waiting for the Python thread: beyond this, the pipeline waits.
  static constexpr std::size_t kQueuedBytes = 1u << 20;
  static constexpr std::size_t kHandBytes = 64u << 10;
  static constexpr std::chrono::milliseconds kSignalCheck{50};

  Scan(std::vector<std::string> paths, unsigned jobs) : source_(std::move(paths)) {
    const unsigned workers = std::clamp(jobs, 1u, batch::kMaxJobs);
    thread_ = std::thread([this, workers] {
      const batch::RunEnd end = batch::RunPipeline(
          workers, source_, [] { return std::make_unique<LineWorker>(); }, *this);
      const std::lock_guard lock(mutex_);
      exhausted_ = end == batch::RunEnd::kMemoryExhausted;
      ended_ = true;
      ready_.notify_all();
    });
  }
  ~Scan() override { Stop(); }
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  void Write(std::string_view lines, std::uint64_t /*count*/) override {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return cancelled_ || queuedBytes_ < kQueuedBytes; });
    if (cancelled_) return;  // dropped: no one takes them
    const bool wake = queuedBytes_ < kHandBytes && queuedBytes_ + lines.size() >= kHandBytes;
    queue_.emplace_back(lines);
    queuedBytes_ += lines.size();
    if (wake) ready_.notify_one();
  }

  // The records ready next, as the text of a JSON array; None once all are taken. Waits
  // for them with the GIL released; raises what a signal handler raised (the scan is
  // then stopped first).
  py::object Take() {
    std::string lines;
    for (;;) {
      bool ended = false;
      {
        py::gil_scoped_release release;
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, kSignalCheck, [this] { return queuedBytes_ >= kHandBytes || ended_; });
        while (!queue_.empty()) {
          lines.append(queue_.front());
          queue_.pop_front();
        }
        queuedBytes_ = 0;
        room_.notify_all();
        ended = ended_;
      }
      if (!lines.empty()) break;
      if (ended) {
        Stop();
        // The records before the first one that memory ran out for have been taken: the
        // scan does not end as if it were whole.
        if (exhausted_) throw std::bad_alloc();
        return py::none();
      }
      if (PyErr_CheckSignals() != 0) {
        Stop();
        throw py::error_already_set();
      }
    }
    // Lines end in '\n', which no record holds otherwise: as separators, they make an array.
    std::replace(lines.begin(), lines.end(), '\n', ',');
    lines.back() = ']';
    lines.insert(lines.begin(), '[');
    return py::str(lines.data(), lines.size());
  }

  // Ends the scan: no item is taken after this, the threads finish the documents in hand
  // and are joined. Lines not yet taken are dropped.
  void Stop() {
    if (!thread_.joinable()) return;
    py::gil_scoped_release release;
    source_.Cancel();
    {
      const std::lock_guard lock(mutex_);
      cancelled_ = true;
      queue_.clear();
      queuedBytes_ = 0;
      room_.notify_all();
    }
    thread_.join();
  }

 private:
  ScanSource source_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  bool cancelled_ = false;
  bool ended_ = false;
  bool exhausted_ = false;  // the pipeline ran out of memory: the records end early
  std::thread thread_;
};

}  // namespace

PYBIND11_MODULE(_docoutline, m) {
  m.doc() = "The C++ layer of the docoutline package; use docoutline itself.";
  m.attr("version") = DOCOUTLINE_VERSION;
  m.attr("max_jobs") = batch::kMaxJobs;
  py::list statuses;
  for (const std::string_view word : outline::kStatusWords) statuses.append(py::str(word.data(), word.size()));
  m.attr("statuses") = statuses;
  m.def("read_path", &ReadPath, py::arg("path"), py::arg("record_path"));
  m.def("read_buffer", &ReadBuffer, py::arg("data"), py::arg("record_path"));
  m.def("read_file", &ReadFile, py::arg("file"), py::arg("size"), py::arg("record_path"), py::arg("stamp"));
  m.def(
      "io_error",
      [](const std::string& detail, const std::optional<std::string>& recordPath) {
        batch::Record record;
        record.status = outline::Status::kIoError;
        record.detail = detail;
        std::string line;
        return LineOf(line, record, recordPath);
      },
      py::arg("detail"), py::arg("record_path"));
  m.def("is_buffer", [](const py::object& object) { return PyObject_CheckBuffer(object.ptr()) != 0; });
  py::class_<Scan>(m, "Scan")
      .def(py::init<std::vector<std::string>, unsigned>(), py::arg("paths"), py::arg("jobs"))
      .def("take", &Scan::Take)
      .def("close", &Scan::Stop);
}
