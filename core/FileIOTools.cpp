#include "FileIOTools.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

#include "TavrinFunctions.h"
#include "platform/FileIOPlatform.h"

namespace tavrin {

namespace {

std::string FormatFileMessage(std::string_view format, const std::string& fileName) {
  std::string message(format);
  std::size_t at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, fileName);
  return message;
}

}  // namespace

EFileError::EFileError(std::string_view format, std::string fileName)
    : EStreamError(FormatFileMessage(format, fileName)),
      format_(format),
      fileName_(std::move(fileName)) {}

EFOpenError::EFOpenError(std::string fileName) : EFileError(kFormat, std::move(fileName)) {}
EFCreateError::EFCreateError(std::string fileName) : EFileError(kFormat, std::move(fileName)) {}
EFReadError::EFReadError(std::string fileName) : EFileError(kFormat, std::move(fileName)) {}
EFWriteError::EFWriteError(std::string fileName) : EFileError(kFormat, std::move(fileName)) {}
EFTooLargeError::EFTooLargeError(std::string fileName) : EFileError(kFormat, std::move(fileName)) {}

std::string ReadFileToString(const std::string& fileName) {
  FileIdentity unused;
  return ReadFileToString(fileName, unused);
}

void ConvertFileBeside(const std::string& path,
                       const std::function<std::string(std::string)>& convert) {
  FileIdentity input;
  std::string text = ReadFileToString(path, input);
  WriteStringToFile(path + ".txt", convert(std::move(text)), input);
}

bool ThreadBudget::TryTake() {
  unsigned spare = spare_.load(std::memory_order_relaxed);
  while (spare > 0) {
    if (spare_.compare_exchange_weak(spare, spare - 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

struct PendingOutput::State {
  explicit State(const std::string& path) : input(path), output(path + ".txt", &input.Identity()) {}
  platform::InputFile input;
  platform::ReplacingFile output;
  ConvertedSizes sizes;
};

PendingOutput::PendingOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
PendingOutput::PendingOutput(PendingOutput&&) noexcept = default;
PendingOutput& PendingOutput::operator=(PendingOutput&&) noexcept = default;
PendingOutput::~PendingOutput() = default;

const ConvertedSizes& PendingOutput::Sizes() const {
  return state_->sizes;
}

void PendingOutput::Commit() {
  state_->output.Commit();
}

namespace {

// Smaller than one thread's chunk: three of them are in flight, each freshly faulted in, and a
// chunk read on one core is converted on the other.
constexpr std::size_t kPipelineChunkSize = std::size_t{1} << 20;

// The rest of a file in three chunks at a time: a second thread reads the next chunk and writes
// the converted one before while the calling thread converts. Reading and writing cost about as
// much as the conversion, so the file takes about half as long. The converter still sees the
// chunks one after another, in order, so the result is that of one thread.
class ChunkPipeline {
 public:
  ChunkPipeline(platform::InputFile& input, platform::ReplacingFile& output, std::size_t chunkSize)
      : input_(input), output_(output), chunkSize_(chunkSize) {
    for (Slot& slot : slots_) slot.in.reset(new char[chunkSize]);
    thread_ = std::thread(&ChunkPipeline::ReadAndWrite, this);
  }
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;
  ~ChunkPipeline() { Stop(); }

  // Converts to the end of the input; returns once every converted chunk is written. Raises the
  // first error of either thread.
  void Run(TableConverter& converter, ConvertedSizes& sizes) {
    for (std::size_t at = 0;; ++at) {
      Slot& slot = slots_[at % slots_.size()];
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slot.state == Slot::kRead || error_; });
        if (error_) break;
      }
      const std::string_view converted = converter.Feed(std::string_view(slot.in.get(), slot.got));
      slot.out.assign(converted);
      sizes.in += slot.got;
      sizes.out += converted.size();
      const bool last = slot.got < chunkSize_;
      {
        std::lock_guard lock(mutex_);
        slot.state = Slot::kConverted;
      }
      changed_.notify_all();
      if (last) break;
    }
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] {
        return error_ || std::all_of(slots_.begin(), slots_.end(),
                                     [](const Slot& s) { return s.state == Slot::kFree; });
      });
    }
    Stop();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  struct Slot {
    enum State { kFree, kRead, kConverted };
    std::unique_ptr<char[]> in;
    std::size_t got = 0;
    std::string out;
    State state = kFree;
  };

  void ReadAndWrite() {
    std::size_t readAt = 0, writeAt = 0;
    bool ended = false;
    try {
      for (;;) {
        std::unique_lock lock(mutex_);
        Slot& toWrite = slots_[writeAt % slots_.size()];
        Slot& toRead = slots_[readAt % slots_.size()];
        changed_.wait(lock, [&] {
          return stop_ || toWrite.state == Slot::kConverted ||
                 (!ended && toRead.state == Slot::kFree);
        });
        if (stop_) return;
        if (toWrite.state == Slot::kConverted) {
          lock.unlock();
          output_.Write(toWrite.out);
          lock.lock();
          toWrite.state = Slot::kFree;
          ++writeAt;
        } else {
          lock.unlock();
          const std::size_t got = input_.Read(toRead.in.get(), chunkSize_);
          lock.lock();
          toRead.got = got;
          toRead.state = Slot::kRead;
          ended = got < chunkSize_;
          ++readAt;
        }
        lock.unlock();
        changed_.notify_all();
      }
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        error_ = std::current_exception();
      }
      changed_.notify_all();
    }
  }

  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  platform::InputFile& input_;
  platform::ReplacingFile& output_;
  const std::size_t chunkSize_;
  std::array<Slot, 3> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

void ConvertInChunks(platform::InputFile& input, platform::ReplacingFile& output,
                     ConvertedSizes& sizes, TableConverter& converter, ThreadBudget* budget,
                     std::size_t chunkSize) {
  // A small file fits one read and needs no more memory than itself; one byte more shows the end
  // without a second read.
  const std::size_t fullChunkSize = std::max<std::size_t>(chunkSize, 1);
  chunkSize = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(input.ReportedSize() + 1, 1, fullChunkSize));
  std::unique_ptr<char[]> chunk(new char[chunkSize]);
  converter.Start();
  bool more = true;
  while (more) {
    // Past the first chunk a spare thread, when one is free by now, takes over the reading and
    // writing for the rest.
    if (budget != nullptr && sizes.in > 0 && input.ReportedSize() > sizes.in && budget->TryTake()) {
      struct GiveBack {
        ThreadBudget& budget;
        ~GiveBack() { budget.Give(); }
      } giveBack{*budget};
      std::optional<ChunkPipeline> pipeline;
      try {
        chunk.reset();
        pipeline.emplace(input, output, std::min(chunkSize, kPipelineChunkSize));
      } catch (const std::system_error&) {
        chunk.reset(new char[chunkSize]);
      }
      if (pipeline) {
        pipeline->Run(converter, sizes);
        break;
      }
    }
    const std::size_t got = input.Read(chunk.get(), chunkSize);
    more = got == chunkSize;
    sizes.in += got;
    const std::string_view converted = converter.Feed(std::string_view(chunk.get(), got));
    output.Write(converted);
    sizes.out += converted.size();
    // Longer than it said (procfs says 0, or it grows): the rest goes in whole chunks, not in
    // pieces the size of what it said.
    if (more && chunkSize < fullChunkSize) {
      chunk.reset();
      chunkSize = fullChunkSize;
      chunk.reset(new char[chunkSize]);
    }
  }
  // What was read must be the file as it is, not a mix of before and after another program's
  // change.
  input.CheckUnchanged();
  const std::string_view rest = converter.Finish();
  output.Write(rest);
  sizes.out += rest.size();
}

}  // namespace

PendingOutput ConvertFileAside(const std::string& path, TableConverter& converter,
                               ThreadBudget* budget, std::size_t chunkSize) {
  auto state = std::make_unique<PendingOutput::State>(path);
  try {
    ConvertInChunks(state->input, state->output, state->sizes, converter, budget, chunkSize);
  } catch (...) {
    // An output refused by its name is refused whatever else went wrong meanwhile.
    state->output.CheckName();
    throw;
  }
  return PendingOutput(std::move(state));
}

ConvertedSizes ConvertFileBeside(const std::string& path, TableConverter& converter,
                                 const std::function<void()>& beforeReplace, std::size_t chunkSize,
                                 ThreadBudget* budget) {
  PendingOutput output = ConvertFileAside(path, converter, budget, chunkSize);
  if (beforeReplace) beforeReplace();
  output.Commit();
  return output.Sizes();
}

void WriteStringToFile(const std::string& fileName, std::string_view contents) {
  platform::WriteReplacing(fileName, contents, nullptr);
}

void WriteStringToFile(const std::string& fileName, std::string_view contents,
                       const FileIdentity& mustNotBe) {
  platform::WriteReplacing(fileName, contents, &mustNotBe);
}

}  // namespace tavrin

namespace tavrin::platform {

void ReadToEnd(std::string& text, const std::function<std::size_t(char*, std::size_t)>& readUpTo,
               const std::string& fileName) {
  const std::size_t done = readUpTo(text.data(), text.size());
  if (done < text.size()) {
    text.resize(done);
    return;
  }
  char more[16 << 10];
  std::size_t got = 0;
  do {
    got = readUpTo(more, sizeof more);
    try {
      text.append(more, got);
    } catch (const std::bad_alloc&) {
      throw EFTooLargeError(fileName);
    } catch (const std::length_error&) {
      throw EFTooLargeError(fileName);
    }
  } while (got == sizeof more);
}

namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kTemporaryPrefix = ".tavrin-";
constexpr std::size_t kRandomLetters = 12;
constexpr std::size_t kCheckLetters = 4;

std::uint64_t Scramble(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
  x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
  return x ^ (x >> 31);
}

// The letters that follow the random ones in a name of ours: a hash of them under a key of this
// program, so that a later run can tell its own leftovers from a stranger's file named alike.
std::string CheckLetters(std::string_view randomLetters) {
  std::uint64_t hash = 0x5d1c7a2b9e04f363;  // the key
  for (const char letter : randomLetters)
    hash = Scramble(hash ^ static_cast<unsigned char>(letter));
  std::string check;
  for (std::size_t i = 0; i < kCheckLetters; ++i) check += kLetters[(hash >> (6 * i)) & 63];
  return check;
}

}  // namespace

std::string TemporaryName(const unsigned char (&random)[12], std::size_t randomGot,
                          std::uint64_t time, std::uint64_t process, std::uint64_t thread) {
  static_assert(sizeof random == kRandomLetters);
  unsigned char bytes[kRandomLetters];
  std::memcpy(bytes, random, sizeof bytes);
  if (randomGot < sizeof bytes) {
    static std::atomic<std::uint64_t> count{0};
    const std::uint64_t parts[] = {time, process, thread,
                                   count.fetch_add(1, std::memory_order_relaxed)};
    std::uint64_t mixed = 0;
    for (const std::uint64_t part : parts) mixed = Scramble(mixed ^ part);
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
      if (i % 8 == 0) mixed = Scramble(mixed);
      bytes[i] ^= static_cast<unsigned char>(mixed >> (8 * (i % 8)));
    }
  }
  std::string letters;
  for (const unsigned char byte : bytes) letters += kLetters[byte & 63];
  return std::string(kTemporaryPrefix) + letters + CheckLetters(letters);
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kRandomLetters + kCheckLetters ||
      !name.starts_with(kTemporaryPrefix)) {
    return false;
  }
  const std::string_view letters = name.substr(kTemporaryPrefix.size(), kRandomLetters);
  return name.substr(kTemporaryPrefix.size() + kRandomLetters) == CheckLetters(letters);
}

}  // namespace tavrin::platform
