// Failures of the program: one base class that carries the (Japanese, UTF-8)
// message, and the named classes the rest of the code raises and callers test.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  // A failure about a file: the message, then the file and the system's
  // reason (strerror(error), or a codec's own text) for the second line.
  Exception(std::string message, std::string fileName, std::string reason)
      : FMessage(std::move(message)), FFileName(std::move(fileName)), FReason(std::move(reason)) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

  // The file the failure concerns and why it failed; empty when unknown.
  const std::string& FileName() const noexcept { return FFileName; }
  const std::string& Reason() const noexcept { return FReason; }
  // Names the file unless one is named already (the innermost knows best).
  void SetFileName(const std::string& fileName) {
    if (FFileName.empty()) FFileName = fileName;
  }
  void SetReason(const std::string& reason) {
    if (FReason.empty()) FReason = reason;
  }
  // The second line: "file: reason" with the name escaped (EscapeName);
  // empty when neither is known.
  std::string Detail() const;

 private:
  std::string FMessage;
  std::string FFileName;
  std::string FReason;
};

#define PUNCHLET_EXCEPTION(Name, Base) \
  class Name : public Base {           \
   public:                             \
    using Base::Base;                  \
  }

// A silent abort: ends an operation without a message.
PUNCHLET_EXCEPTION(EAbort, Exception);
PUNCHLET_EXCEPTION(EAssertionFailed, Exception);
PUNCHLET_EXCEPTION(EZeroDivide, Exception);
PUNCHLET_EXCEPTION(EOutOfMemory, Exception);
PUNCHLET_EXCEPTION(EStreamError, Exception);
PUNCHLET_EXCEPTION(EFOpenError, EStreamError);
PUNCHLET_EXCEPTION(EFCreateError, EStreamError);
PUNCHLET_EXCEPTION(EReadError, EStreamError);
PUNCHLET_EXCEPTION(EWriteError, EStreamError);
PUNCHLET_EXCEPTION(EInvalidGraphic, Exception);
PUNCHLET_EXCEPTION(EInvalidGraphicOperation, Exception);
PUNCHLET_EXCEPTION(EConvertError, Exception);
PUNCHLET_EXCEPTION(EOutOfResources, EOutOfMemory);
PUNCHLET_EXCEPTION(EJPEG, Exception);
PUNCHLET_EXCEPTION(ERegistryException, Exception);
PUNCHLET_EXCEPTION(ESaveError, Exception);

// The system's own error, with its number kept for callers.
class EOSError : public Exception {
 public:
  EOSError(int code, const std::string& text);
  int ErrorCode() const noexcept { return FErrorCode; }

 private:
  int FErrorCode;
};

#undef PUNCHLET_EXCEPTION

// Message texts, formatted with Format() below.
inline constexpr const char* SFOpenError = "ファイル %s は開けません";
inline constexpr const char* SFCreateError = "ファイル %s を作成できません";
inline constexpr const char* SReadError = "ストリームからの読み込みエラー";
inline constexpr const char* SWriteError = "ストリームへの書き込みエラー";
inline constexpr const char* SInvalidBitmap = "ビットマップイメージが不正です";
inline constexpr const char* SOSError = "システムエラー。コード：%d.\n%s";
inline constexpr const char* SJPEGError = "JPEG エラー #%d";
inline constexpr const char* SChangeJPGSize = "JPEG イメージのサイズは変更できません";
inline constexpr const char* SRegSetDataFailed = "'%s' の設定に失敗しました";
inline constexpr const char* SAssertionFailed = "Assertion failure (%s, %d 行)";
inline constexpr const char* SZeroDivide = "0 による浮動小数点除算";
inline constexpr const char* SOutOfMemory = "メモリが足りません";
inline constexpr const char* SPictureTooLarge = "画像が大きすぎます (%d x %d)";
inline constexpr const char* SRegGetDataFailed = "'%s' の取得に失敗しました";
inline constexpr const char* SInvalidRegType = "データ型 '%s' が無効です";
// Every output name for a source is taken (%s: the source path).
inline constexpr const char* SAllNamesTaken =
    "%s の保存先の名前 (加工済_ … 加工済255_) がすべて使われています";
// A JPEG file with more scans than any real encoder writes (%d: the limit).
inline constexpr const char* SJPEGTooManyScans =
    "JPEG ファイルのスキャンが多すぎます (%d を超えています)";
// A multi-scan JPEG whose scans times coefficient blocks exceed the budget.
inline constexpr const char* SJPEGTooMuchWork =
    "JPEG ファイルの復号に手間がかかりすぎます (%d スキャン x %llu ブロック)";
inline constexpr const char* SFileTooLarge = "ファイル %s は大きすぎます";

// printf-style formatting into a std::string (%s takes const char*).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text the error display shows: a full stop is appended when the last
// character sorts after ".".
std::string DisplayMessage(const std::string& message);

// What the error display shows for a failure: the message with its full
// stop, and for a failure about a file a second line naming the file and
// the reason.
std::string ErrorReport(const std::exception& error);

// A name as it can be shown on one line: control characters, bytes that are
// not UTF-8 and the backslash become escapes ("\x0A", "\xFF", "\\"), so
// every name reads unambiguously and nothing in it can break the line.
std::string EscapeName(const std::string& name);

// Whether the bytes are well-formed UTF-8.
bool IsUtf8(const std::string& text);

// The message of a file failure (SFOpenError, SFCreateError), naming the path
// as EscapeName shows it.
std::string FileMessage(const char* format, const std::string& path);

// strerror(error), safe to call from any thread.
std::string SystemReason(int error);
