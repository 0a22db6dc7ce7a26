#include "FileIOTools.h"

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

}  // namespace tavrin
