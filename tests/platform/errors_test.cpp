#include "platform/errors.h"

#include <gtest/gtest.h>

TEST(Errors, MessagesAreFormattedAndTheDisplayAddsAFullStopAfterLaterCharacters) {
  const EFOpenError error(Format(SFOpenError, "/tmp/写真.jpg"));
  EXPECT_STREQ(error.what(), "ファイル /tmp/写真.jpg は開けません");
  EXPECT_EQ(Format(SJPEGError, 53), "JPEG エラー #53");
  EXPECT_EQ(EOSError(5, "アクセスが拒否されました").Message(),
            "システムエラー。コード：5.\nアクセスが拒否されました");

  // A full stop only when the last character sorts after ".".
  EXPECT_EQ(DisplayMessage("ファイル x は開けません"), "ファイル x は開けません.");
  EXPECT_EQ(DisplayMessage("JPEG エラー #53"), "JPEG エラー #53.");
  EXPECT_EQ(DisplayMessage("done."), "done.");
  EXPECT_EQ(DisplayMessage("(x)"), "(x)");
  EXPECT_EQ(DisplayMessage("a-"), "a-");
  EXPECT_EQ(DisplayMessage(""), "");
}
