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
  State(const std::string& path, const std::function<void(std::uint64_t)>& beforeOpen,
        OutputFolders* folders)
      : input(path, beforeOpen), output(path + ".txt", &input.Identity(), folders) {}
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

bool PendingOutput::InputChanged() const {
  return state_->input.ChangedSinceOpened() || state_->output.FolderChanged();
}

void PendingOutput::Commit() {
  state_->output.Commit();
}

namespace {

// Smaller than one thread's chunk: two are in flight, each freshly faulted in.
constexpr std::size_t kPipelineChunkSize = std::size_t{1} << 20;

// The rest of a file on two threads, each of which in turn reads a stretch, converts it with a
// converter of its own and, when the stretches before it are written, writes it. A stretch ends
// where the text can be cut, so it converts alone as it does in the whole text; what the text
// before leaves open is settled when it is written: a tag still open drops the output's head, a
// NUL before means nothing is replaced (the stretch is converted again, without the rows). Where
// no cut comes soon enough, the stretches go in order through the caller's converter, which goes
// on from the chunks it was fed before and which a stretch ending at a cut finishes. So the
// output is byte for byte that of one thread, with a few chunks in memory.
class ChunkPipeline {
 public:
  ChunkPipeline(platform::InputFile& input, platform::ReplacingFile& output, std::size_t chunkSize,
                TableConverter& stream)
      : input_(input),
        output_(output),
        chunkSize_(chunkSize),
        stream_(stream),
        own_{stream.Twin(), stream.Twin()} {}
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // Converts to the end of the input; returns once every converted stretch is written. Raises
  // the first error of either thread. False, having done nothing, when the second thread
  // cannot start.
  bool Run(ConvertedSizes& sizes) {
    std::thread helper;
    try {
      helper = std::thread(&ChunkPipeline::Work, this, std::ref(*own_[1]));
    } catch (const std::system_error&) {
      return false;
    }
    Work(*own_[0]);
    helper.join();
    if (error_) std::rethrow_exception(error_);
    sizes.in += in_;
    sizes.out += out_;
    return true;
  }

 private:
  struct Stretch {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::size_t number = 0;
    bool startsAtCut = false;
    bool endsAtCut = false;
    bool last = false;
    std::string out;
    TableConverter::Ending ending;
    std::string_view Text() const { return {bytes.get(), size}; }
  };

  void Work(TableConverter& own) {
    Stretch stretch;
    try {
      stretch.bytes.reset(new char[2 * chunkSize_]);
      do {
        if (!Read(stretch, own)) return;
        const bool alone = stretch.startsAtCut && stretch.endsAtCut;
        if (alone) ConvertAlone(stretch, own);
        {
          std::unique_lock lock(mutex_);
          turn_.wait(lock, [&] { return failed_ || written_ == stretch.number; });
          if (failed_) return;
        }
        if (alone) {
          WriteAlone(stretch, own);
        } else {
          WriteInStream(stretch);
        }
        {
          std::lock_guard lock(mutex_);
          ++written_;
        }
        turn_.notify_all();
      } while (!stretch.last);
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::current_exception();
        failed_ = true;
      }
      turn_.notify_all();
    }
  }

  // The next stretch of the input: the bytes after the last cut before, then a chunk, up to its
  // last cut. False when there is none or the other thread failed.
  bool Read(Stretch& stretch, const TableConverter& own) {
    std::lock_guard lock(readMutex_);
    if (ended_ || failed_) return false;
    std::memcpy(stretch.bytes.get(), carry_.data(), carry_.size());
    const std::size_t got = input_.Read(stretch.bytes.get() + carry_.size(), chunkSize_);
    in_ += got;
    stretch.size = carry_.size() + got;
    carry_.clear();
    stretch.number = read_++;
    stretch.startsAtCut = endedAtCut_;
    stretch.last = ended_ = got < chunkSize_;
    stretch.endsAtCut = stretch.last;
    if (!stretch.last) {
      // The bytes after the cut wait for the next chunk, unless there are too many of them.
      const std::size_t cut = own.LastCut(stretch.Text());
      if (cut > 0 && stretch.size - cut <= chunkSize_) {
        carry_.assign(stretch.bytes.get() + cut, stretch.size - cut);
        stretch.size = cut;
        stretch.endsAtCut = true;
      }
    }
    endedAtCut_ = stretch.endsAtCut;
    return true;
  }

  // Converted as if the text began with it, outside a tag and before any NUL.
  static void ConvertAlone(Stretch& stretch, TableConverter& own) {
    own.Start();
    stretch.out.assign(own.Feed(stretch.Text()));
    stretch.out.append(own.Finish());
    stretch.ending = own.LastEnding();
  }

  void WriteAlone(Stretch& stretch, TableConverter& own) {
    std::string_view out = stretch.out;
    TableConverter::Ending ending = stretch.ending;
    if (state_.afterNul) {
      // Rare: after the text's first NUL only the tags go.
      own.Start(state_);
      stretch.out.assign(own.Feed(stretch.Text()));
      stretch.out.append(own.Finish());
      out = stretch.out;
      ending = own.LastEnding();
    } else if (state_.inTag) {
      out.remove_prefix(ending.closes ? ending.head : out.size());
      if (!ending.closes) ending.state.inTag = true;
    }
    Write(out);
    state_ = ending.state;
  }

  void WriteInStream(const Stretch& stretch) {
    if (stretch.startsAtCut) stream_.Start(state_);
    Write(stream_.Feed(stretch.Text()));
    // The caller finishes the text's last stretch.
    if (stretch.endsAtCut && !stretch.last) {
      Write(stream_.Finish());
      state_ = stream_.LastEnding().state;
    }
  }

  void Write(std::string_view bytes) {
    output_.Write(bytes);
    out_ += bytes.size();
  }

  platform::InputFile& input_;
  platform::ReplacingFile& output_;
  const std::size_t chunkSize_;
  TableConverter& stream_;
  const std::array<std::unique_ptr<TableConverter>, 2> own_;

  // Reading, one thread at a time.
  std::mutex readMutex_;
  std::string carry_;
  std::size_t read_ = 0;
  bool endedAtCut_ = false;  // the caller's converter has the text up to here
  bool ended_ = false;
  std::uint64_t in_ = 0;

  // Writing, in the stretches' order: only the thread whose turn it is touches these.
  TableConverter::TextState state_;
  std::uint64_t out_ = 0;

  std::mutex mutex_;
  std::condition_variable turn_;
  std::size_t written_ = 0;
  std::atomic<bool> failed_{false};
  std::exception_ptr error_;
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
      chunk.reset();
      ChunkPipeline pipeline(input, output, std::min(chunkSize, kPipelineChunkSize), converter);
      if (pipeline.Run(sizes)) break;
      chunk.reset(new char[chunkSize]);
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
                               ThreadBudget* budget, std::size_t chunkSize,
                               const std::function<void(std::uint64_t)>& beforeOpen,
                               OutputFolders* folders) {
  auto state = std::make_unique<PendingOutput::State>(path, beforeOpen, folders);
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
