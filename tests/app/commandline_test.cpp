// The real program, run as a user would run it in a batch.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/application.h"
#include "imaging/jpegimage.h"
#include "imaging/picture.h"
#include "platform/errors.h"
#include "platform/fileio.h"
#include "support/codedpicture.h"
#include "support/files.h"
#include "support/longpath.h"
#include "support/tempfolder.h"

namespace {

std::string JpegBytes(int width, int height) {
  TJPEGImage jpeg;
  jpeg.Assign(CodedPicture(width, height, {.red = {.step = 3}, .green = {.step = 5}, .blue = 90}));
  const std::vector<uint8_t>& bytes = jpeg.SaveToMemory();
  return {bytes.begin(), bytes.end()};
}

std::string Quoted(const std::string& argument) {
  std::string out = "'";
  for (char c : argument) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool Exists(const std::string& path) {
  struct stat info {};
  return StatPath(path, info) == 0;
}

TEST(ErrorDisplay, TheReportGoesToStandardErrorInFull) {
  EJPEG error(Format(SJPEGError, 53), "/photos/p\n20.jpg", "Bogus marker length");
  testing::internal::CaptureStderr();
  TApplication::ShowException(error);
  const std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown, "ぱんちれっと: JPEG エラー #53.\n/photos/p\\x0A20.jpg: Bogus marker length\n");
  EXPECT_TRUE(TApplication::ErrorShown());
}

TEST(Platform, ChoiceFollowsTheEnvironmentWithTheUsersFirstAndOffscreenLast) {
  const struct {
    const char *user, *display, *wayland, *expected;
  } rows[] = {
      {nullptr, nullptr, nullptr, "offscreen"},
      {"", "", "", "offscreen"},
      {nullptr, ":0", nullptr, "xcb;offscreen"},
      {nullptr, ":0", "wayland-0", "xcb;wayland;offscreen"},  // XWayland: we place windows
      {nullptr, nullptr, "wayland-0", "wayland;offscreen"},
      {"wayland", ":0", "wayland-0", "wayland;xcb;offscreen"},
      {"xcb", ":0", nullptr, "xcb;offscreen"},
      {"offscreen", ":0", nullptr, "offscreen;xcb"},
      {"vnc", nullptr, nullptr, "vnc;offscreen"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(PlatformCandidates(row.user, row.display, row.wayland), row.expected)
        << (row.user ? row.user : "-") << " " << (row.display ? row.display : "-") << " "
        << (row.wayland ? row.wayland : "-");
}

#ifdef PUNCHLET_EXE
class CommandLine : public testing::Test {
 protected:
  // Runs the program in the test's folder, without a display unless the
  // environment names one; returns its exit status.
  int Run(const std::vector<std::string>& arguments, const std::string& environment = "") {
    std::string command = "cd ";
    command.append(Quoted(folder.Path()))
        .append(" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ")
        .append(environment + " ")
        .append(Quoted(PUNCHLET_EXE));
    for (const std::string& argument : arguments) command.append(" ").append(Quoted(argument));
    command.append(" >").append(Quoted(folder.Path() + "stdout.txt"));
    command.append(" 2>").append(Quoted(folder.Path() + "stderr.txt"));
    const int status = std::system(command.c_str());
    output = ReadBytes(folder.Path() + "stdout.txt");
    errors = ReadBytes(folder.Path() + "stderr.txt");
    std::filesystem::remove(folder.Path() + "stdout.txt");
    std::filesystem::remove(folder.Path() + "stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Put(const std::string& name, const std::string& bytes) {
    WriteBytes(folder.Path() + name, bytes);
  }

  TempFolder folder{"commandline"};
  std::string output, errors;
};

TEST_F(CommandLine, EveryArgumentIsAPathEvenWhenItLooksLikeAnOptionOfQt) {
  const std::string jpeg = JpegBytes(40, 30);
  Put("-platform", "not a picture");
  Put("-stylesheet", "not a picture");
  Put("a.jpg", jpeg);
  Put("b.jpg", jpeg);
  EXPECT_EQ(Run({"-platform", "a.jpg", "a.jpg"}), 0) << errors;
  EXPECT_EQ(ReadBytes(folder.Path() + "加工済_a.jpg").substr(0, 2), "\xFF\xD8");
  EXPECT_TRUE(Exists(folder.Path() + "加工済2_a.jpg"));
  EXPECT_EQ(Run({"-stylesheet", "b.jpg", "b.jpg"}), 0) << errors;
  EXPECT_EQ(errors, "");  // no style sheet was parsed from a picture
  EXPECT_TRUE(Exists(folder.Path() + "加工済2_b.jpg"));
}

TEST_F(CommandLine, ATerminalHearsWhatWasWrittenOrWhyNothingWas) {
  const std::string nothing =
      "punchlet: no BMP or JPEG file found in the arguments (see punchlet(1))";
  Put("notes.png", "not a picture");
  EXPECT_EQ(Run({"notes.png", "missing.jpg"}), 0);
  EXPECT_EQ(errors, nothing + "\n");
  EXPECT_EQ(Run({"--help", "-h"}), 0);
  EXPECT_EQ(errors, nothing + "; every argument is taken as a path, options included\n");
  EXPECT_EQ(output, "");

  const std::string jpeg = JpegBytes(40, 30);
  Put("b.jpg", jpeg);
  Put("a.jpg", jpeg);
  EXPECT_EQ(Run({"b.jpg", "a.jpg", "b.jpg"}, "PUNCHLET_STARTUP_TRACE=1"), 0) << errors;
  EXPECT_EQ(output, "加工済_b.jpg\n加工済_a.jpg\n加工済2_b.jpg\n");
  EXPECT_NE(errors.find(" first picture saved\n"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("window made"), std::string::npos)
      << "a batch without a display builds no window";

  EXPECT_EQ(Run({"a.jpg"}), 2);
  EXPECT_EQ(errors,
            "punchlet: a single picture needs a display, to confirm its preview (two or more are "
            "punched without one)\n");
  EXPECT_EQ(output, "");
}

TEST_F(CommandLine, APlatformThatCannotLoadLeavesABatchWorkingAndRefusesOnePicture) {
  Put("a.jpg", JpegBytes(40, 30));
  const struct {
    const char* environment;
    const char* missing;  // what the refusal names
  } rows[] = {
      {"WAYLAND_DISPLAY=punchlet-no-such-socket", "package qt6-wayland"},
      {"DISPLAY=:987", "X display ':987'"},
      {"QT_QPA_PLATFORM=no-such-platform", "'no-such-platform'"},
  };
  int written = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.environment);
    // As in any desktop session: without it the Wayland library complains.
    const std::string environment =
        "XDG_RUNTIME_DIR=" + Quoted(folder.Path()) + " " + row.environment;
    EXPECT_EQ(Run({"a.jpg", "a.jpg"}, environment), 0) << errors;
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(Exists(folder.Path() + "加工済" + std::to_string(written += 2) + "_a.jpg"));
    EXPECT_EQ(Run({"a.jpg"}, environment), 2);
    EXPECT_TRUE(errors.starts_with("punchlet: ")) << errors;
    EXPECT_NE(errors.find(row.missing), std::string::npos) << errors;
  }
}

TEST_F(CommandLine, APictureDeeperThanThePathLimitIsFoundReadAndWritten) {
  const std::string deep = MakeDeepFolder(folder.Path());
  ASSERT_TRUE(WriteDeepFile(deep + "x.jpg", JpegBytes(50, 40)));
  // Found by the search below the folder, and named directly: two jobs, a batch.
  EXPECT_EQ(Run({folder.Path(), deep + "x.jpg"}), 0) << errors;
  EXPECT_TRUE(Exists(deep + "加工済_x.jpg"));
  EXPECT_TRUE(Exists(deep + "加工済2_x.jpg"));
  std::string bytes;
  ASSERT_EQ(ReadFile(deep + "加工済2_x.jpg", 1 << 20, bytes), 0);
  TJPEGImage back;
  back.LoadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_GT(back.Width(), 0);
}

TEST_F(CommandLine, AFailureNamesItsFileAndReasonOnTheSecondLine) {
  const std::string jpeg = JpegBytes(40, 30);
  Put("p19.jpg", jpeg);
  Put("p\x01"
      "20.jpg",
      std::string("\xFF\xD8\xFF\xE0\x00\x02", 6) + std::string(64, 'x'));
  Put("p21.jpg", jpeg);
  EXPECT_EQ(Run({"p19.jpg",
                 "p\x01"
                 "20.jpg",
                 "p21.jpg"}),
            1);
  const size_t first = errors.find('\n');
  ASSERT_NE(first, std::string::npos) << errors;
  EXPECT_TRUE(errors.starts_with("ぱんちれっと: JPEG エラー #")) << errors;
  EXPECT_EQ(errors[first - 1], '.');
  const std::string second = errors.substr(first + 1);
  EXPECT_TRUE(second.starts_with("p\\x0120.jpg: ")) << errors;
  EXPECT_GT(second.size(), std::string("p\\x0120.jpg: \n").size()) << errors;  // a reason
  EXPECT_TRUE(Exists(folder.Path() + "加工済_p19.jpg"));
  EXPECT_FALSE(Exists(folder.Path() + "加工済_p21.jpg"));
}
#endif

}  // namespace
