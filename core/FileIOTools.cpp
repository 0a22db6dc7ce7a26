#include "FileIOTools.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

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

ConvertedSizes ConvertFileBeside(const std::string& path, TableConverter& converter,
                                 const std::function<void()>& beforeReplace,
                                 std::size_t chunkSize) {
  platform::InputFile input(path);
  platform::ReplacingFile output(path + ".txt", &input.Identity());
  // A small file fits one read and needs no more memory than itself; one byte more shows the end
  // without a second read.
  chunkSize = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(input.ReportedSize() + 1, 1, std::max<std::size_t>(chunkSize, 1)));
  std::unique_ptr<char[]> chunk(new char[chunkSize]);
  ConvertedSizes sizes;
  converter.Start();
  std::size_t got = 0;
  do {
    got = input.Read(chunk.get(), chunkSize);
    sizes.in += got;
    const std::string_view converted = converter.Feed(std::string_view(chunk.get(), got));
    output.Write(converted);
    sizes.out += converted.size();
  } while (got == chunkSize);
  const std::string_view rest = converter.Finish();
  output.Write(rest);
  sizes.out += rest.size();
  if (beforeReplace) beforeReplace();
  output.Commit();
  return sizes;
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

std::string TemporaryName(const unsigned char (&random)[12], std::size_t randomGot,
                          std::uint64_t time, std::uint64_t process, std::uint64_t thread) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  unsigned char bytes[12];
  std::memcpy(bytes, random, sizeof bytes);
  if (randomGot < sizeof bytes) {
    static std::atomic<std::uint64_t> count{0};
    const std::uint64_t parts[] = {time, process, thread,
                                   count.fetch_add(1, std::memory_order_relaxed)};
    auto scramble = [](std::uint64_t x) {
      x += 0x9e3779b97f4a7c15;
      x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
      x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
      return x ^ (x >> 31);
    };
    std::uint64_t mixed = 0;
    for (const std::uint64_t part : parts) mixed = scramble(mixed ^ part);
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
      if (i % 8 == 0) mixed = scramble(mixed);
      bytes[i] ^= static_cast<unsigned char>(mixed >> (8 * (i % 8)));
    }
  }
  std::string name = ".tavrin-";
  for (const unsigned char byte : bytes) name += kLetters[byte & 63];
  return name;
}

}  // namespace tavrin::platform
