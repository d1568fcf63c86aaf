#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

TEST(Errors, MessagesAreFormattedAndTheDisplayAddsAFullStopAfterLaterCharacters) {
  const EFOpenError error(Format(SFOpenError, "/tmp/写真.jpg"));
  EXPECT_STREQ(error.what(), "ファイル /tmp/写真.jpg は開けません");
  EXPECT_EQ(Format(SJPEGError, 53), "JPEG エラー #53");
  EXPECT_EQ(EOSError(5, "アクセスが拒否されました").Message(),
            "システムエラー。コード：5.\nアクセスが拒否されました");

  // A full stop only when the last character sorts after ".".
  const std::pair<const char*, const char*> shown[] = {
      {"ファイル x は開けません", "ファイル x は開けません."},
      {"JPEG エラー #53", "JPEG エラー #53."},
      {"done.", "done."},
      {"(x)", "(x)"},
      {"a-", "a-"},
      {"", ""},
  };
  for (const auto& [message, display] : shown) EXPECT_EQ(DisplayMessage(message), display);
}

TEST(Errors, AFileFailureGetsASecondLineWithTheNameEscapedAndTheReason) {
  EFCreateError error(FileMessage(SFCreateError, "/tmp/加工済_a.jpg"), "/tmp/加工済_a.jpg",
                      SystemReason(EACCES));
  EXPECT_EQ(error.Message(), "ファイル /tmp/加工済_a.jpg を作成できません");
  EXPECT_EQ(ErrorReport(error),
            "ファイル /tmp/加工済_a.jpg を作成できません.\n/tmp/加工済_a.jpg: Permission denied");
  error.SetFileName("/elsewhere");  // the first name given stays
  EXPECT_EQ(error.FileName(), "/tmp/加工済_a.jpg");

  // Without a file or a reason the report is the message alone.
  EXPECT_EQ(ErrorReport(EJPEG(Format(SJPEGError, 53))), "JPEG エラー #53.");
  EXPECT_EQ(ErrorReport(std::runtime_error("plain")), "plain.");
  EJPEG named(Format(SJPEGError, 53));
  named.SetFileName("p20.jpg");
  EXPECT_EQ(ErrorReport(named), "JPEG エラー #53.\np20.jpg");

  // Control characters, line and direction marks, bytes that are not UTF-8
  // (a stray continuation, an overlong, a surrogate, a cut-off sequence) and
  // the backslash are escaped; other characters stay as they are.
  EXPECT_EQ(EscapeName("写真\n\t\x7F.jpg"), "写真\\x0A\\x09\\x7F.jpg");
  EXPECT_EQ(EscapeName("a\\b \u0085\u2028\u202E"), "a\\\\b \\u0085\\u2028\\u202E");
  EXPECT_EQ(EscapeName("\x80\xC0\xAF\xED\xA0\x80\xE5\x86"),
            "\\x80\\xC0\\xAF\\xED\\xA0\\x80\\xE5\\x86");
  EXPECT_EQ(EscapeName("\xF0\x9F\x93\xB7 ok"), "\xF0\x9F\x93\xB7 ok");
  EXPECT_EQ(FileMessage(SFOpenError, "x\ny"), "ファイル x\\x0Ay は開けません");
}
