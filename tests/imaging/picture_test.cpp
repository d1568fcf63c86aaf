#include "imaging/picture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/memorybudget.h"
#include "platform/errors.h"
#include "support/codedpicture.h"
#include "support/wait.h"

namespace {

// A 24-bit picture whose pixel (x, y) is {x, y, 7}; every padding byte 0xEE.
Picture Coded24(int w, int h) {
  Picture p = CodedPicture(w, h);
  for (int y = 0; y < h; ++y) std::memset(p.ScanLine(y) + 3 * w, 0xEE, size_t(p.Stride() - 3 * w));
  return p;
}

uint8_t Scale(unsigned v, unsigned max) { return uint8_t(std::lround(v * 255.0 / max)); }

}  // namespace

TEST(Picture, SetSizeKeepsRemainingPixelsAndZeroesNewOnes) {
  Picture p = Coded24(3, 3);
  p.SetSize(5, 4);  // the old rows' padding must not show up as pixels
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(p.Pixel(x, y), (x < 3 && y < 3 ? Rgb{uint8_t(x), uint8_t(y), 7} : Rgb{}))
          << x << "," << y;
  p.SetWidth(2);
  p.SetHeight(1);
  EXPECT_EQ(p.Width(), 2);
  EXPECT_EQ(p.Height(), 1);
  EXPECT_EQ(p.Pixel(1, 0), (Rgb{1, 0, 7}));

  // Partial bytes: 1-bit, 3 pixels set plus set padding bits, grown to 10.
  Picture bits;
  bits.Create(3, 1, 1);
  bits.SetPalette({{0, 0, 0}, {255, 255, 255}});
  bits.ScanLine(0)[0] = 0xFF;
  bits.SetWidth(10);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(bits.Pixel(x, 0).r, x < 3 ? 255 : 0) << x;
}

TEST(Picture, ConvertTo24FromEveryDepth) {
  const std::vector<Rgb> palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 2, 3}};
  struct Case {
    int depth;
    BitFields masks;
    std::vector<uint8_t> row;  // two pixels
    Rgb first, second;
  };
  const Case cases[] = {
      {1, {}, {0x40}, palette[0], palette[1]},
      {4, {}, {0x23}, palette[2], palette[3]},
      {8, {}, {3, 1}, palette[3], palette[1]},
      // An index past the palette's end reads as black.
      {8, {}, {200, 2}, {0, 0, 0}, palette[2]},
      // 5-5-5 by default: red 31, green 16, blue 1; then 0.
      {16, {}, {0x01, 0x7E, 0, 0}, {255, Scale(16, 31), Scale(1, 31)}, {0, 0, 0}},
      // 5-6-5: red 1, green 63, blue 30.
      {16,
       {0xF800, 0x07E0, 0x001F},
       {0xFE, 0x0F, 0xFF, 0xFF},
       {Scale(1, 31), 255, Scale(30, 31)},
       {255, 255, 255}},
      {24, {}, {1, 2, 3, 4, 5, 6}, {3, 2, 1}, {6, 5, 4}},
      {32, {}, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1}, {7, 6, 5}},
      // 10-bit channels in the top bits; blue in the low byte.
      {32,
       {0xFFC00000, 0x003FF000, 0x000000FF},
       {0x11, 0x00, 0x00, 0xFF, 0x22, 0xF0, 0x3F, 0x00},
       {Scale(1020, 1023), 0, 0x11},
       {0, 255, 0x22}},
  };
  for (const Case& c : cases) {
    Picture p;
    p.Create(2, 2, c.depth);
    p.SetPalette(palette);
    p.SetMasks(c.masks);
    std::memcpy(p.ScanLine(1), c.row.data(), c.row.size());
    p.ConvertTo24();
    EXPECT_EQ(p.BitCount(), 24);
    EXPECT_EQ(p.Pixel(0, 1), c.first) << c.depth;
    EXPECT_EQ(p.Pixel(1, 1), c.second) << c.depth;
    EXPECT_EQ(p.Pixel(0, 0), c.depth <= 8 ? palette[0] : Rgb{}) << c.depth;
  }
}

TEST(Picture, CopiesAreIndependent) {
  Picture a = Coded24(4, 2);
  Picture b = a;
  EXPECT_EQ(std::as_const(a).Bits(), std::as_const(b).Bits());  // shared until written
  a.SetPixel(0, 0, {9, 9, 9});
  EXPECT_EQ(b.Pixel(0, 0), (Rgb{0, 0, 7}));
  b.ScanLine(1)[0] = 99;
  EXPECT_EQ(a.Pixel(0, 1).b, 7);
  EXPECT_EQ(b.Pixel(0, 1).b, 99);
  EXPECT_EQ(a.Pixel(0, 0), (Rgb{9, 9, 9}));
}

TEST(Picture, KeyColourStrideAndLimits) {
  Picture p = Coded24(3, 4);
  EXPECT_EQ(p.TransparentColor(), (Rgb{0, 3, 7}));  // bottom-left
  p.SetTransparentColor({255, 0, 255});
  EXPECT_EQ(p.TransparentColor(), (Rgb{255, 0, 255}));
  p.ResetTransparentColor();
  EXPECT_EQ(p.TransparentColor(), (Rgb{0, 3, 7}));

  for (int depth : {1, 4, 8, 16, 24, 32})
    for (int w : {1, 2, 3, 5, 7, 33}) {
      const int stride = Picture::StrideFor(w, depth);
      EXPECT_EQ(stride % 4, 0);
      EXPECT_GE(stride * 8, w * depth);
      EXPECT_LT(stride * 8, w * depth + 32);
    }

  EXPECT_NO_THROW(CheckPictureSize(16384, 16384));
  EXPECT_THROW(CheckPictureSize(16385, 16384), EInvalidGraphic);
  EXPECT_THROW(CheckPictureSize(int64_t{1} << 40, int64_t{1} << 40), EInvalidGraphic);
  EXPECT_THROW(CheckPictureSize(-1, 1), EInvalidGraphic);
  EXPECT_THROW(p.Create(70000, 70000, 24), EInvalidGraphic);
  EXPECT_THROW(p.Create(2, 2, 12), EInvalidGraphic);
  EXPECT_EQ(p.Width(), 3);  // a refused Create changes nothing
}

TEST(Picture, DecodedPicturesReserveTheirBytesFromTheThreadsBudgetUntilFreed) {
  TMemoryBudget budget(1 << 20);
  // A 3 x 2 picture of 24 bits: rows of 12 bytes. The BMP file holds it whole.
  std::vector<uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                              0,   0,   0,  3, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24, 0};
  bmp.resize(70, 0);
  {
    Picture before;
    before.CreateDecoded(8, 8, 24, true);  // no budget on this thread yet
    const TMemoryBudget::TUse use(budget);
    EXPECT_EQ(TMemoryBudget::Current(), &budget);
    {
      TMemoryBudget inner(1);
      const TMemoryBudget::TUse nested(inner);
      EXPECT_EQ(TMemoryBudget::Current(), &inner);
    }
    EXPECT_EQ(TMemoryBudget::Current(), &budget);  // the outer one is back
    Picture plain, decoded, read;
    plain.Create(100, 100, 24);
    plain.CreateUninitialised(50, 50, 8);
    EXPECT_EQ(budget.Reserved(), 0u);  // only decode buffers count
    decoded.CreateDecoded(10, 7, 8, false);
    EXPECT_EQ(budget.Reserved(), 12u * 7);
    read.LoadFromMemory(bmp.data(), bmp.size());
    EXPECT_EQ(budget.Reserved(), 12u * 7 + 12 * 2);
    Picture copy = decoded;
    copy.ScanLine(0);  // a private copy of its own, outside the budget
    EXPECT_EQ(budget.Reserved(), 12u * 7 + 12 * 2);
    Picture shared = decoded;
    decoded = Picture();
    EXPECT_EQ(budget.Reserved(), 12u * 7 + 12 * 2);  // a shared copy still holds the bytes
    shared = Picture();
    EXPECT_EQ(budget.Reserved(), 12u * 2);
    read.SetSize(1, 1);  // replaced by a plain picture
    EXPECT_EQ(budget.Reserved(), 0u);
    EXPECT_EQ(budget.Peak(), 12u * 7 + 12 * 2);
  }
  EXPECT_EQ(TMemoryBudget::Current(), nullptr);

  for (const auto& [value, megabytes] : std::vector<std::pair<const char*, size_t>>{
           {"64", 64}, {"1", 1}, {"0", 1024}, {"-5", 1024}, {"2G", 1024}, {"", 1024}}) {
    setenv("PUNCHLET_MEMORY_MB", value, 1);
    EXPECT_EQ(TMemoryBudget::DefaultBytes(), megabytes << 20) << '"' << value << '"';
  }
  unsetenv("PUNCHLET_MEMORY_MB");
  EXPECT_EQ(TMemoryBudget::DefaultBytes(), size_t{1024} << 20);
}

TEST(MemoryBudget, FourWorkersNeverHoldMoreThanTheBudgetAndAnOversizedOneRunsAlone) {
  constexpr size_t kCapacity = 1000;
  TMemoryBudget budget(kCapacity);
  // Exactly what is left fits at once.
  budget.Reserve(800);
  std::atomic<bool> exactPassed{false};
  std::thread exact([&] {
    budget.Reserve(200);
    exactPassed = true;
  });
  const bool exactFits = WaitBusy([&] { return exactPassed.load(); });
  if (!exactFits) budget.Release(800);  // lets the thread go, so the test can end
  exact.join();
  ASSERT_TRUE(exactFits);
  budget.Release(1000);

  // A reservation that does not fit waits until enough is given back, and
  // one that would fit waits behind it: callers are served in turn. Once
  // room is made, the first through wakes the next (repeated, since whether
  // the next is still awake then is up to the scheduler).
  for (int round = 0; round < 50; ++round) {
    budget.Reserve(800);
    std::atomic<bool> bigPassed{false}, smallPassed{false};
    std::thread big([&] {
      budget.Reserve(300);
      bigPassed = true;
    });
    ASSERT_TRUE(WaitBusy([&] { return budget.Waiting() == 1; }));
    std::thread small([&] {
      budget.Reserve(150);
      smallPassed = true;
    });
    ASSERT_TRUE(WaitBusy([&] { return budget.Waiting() == 2 || smallPassed; }));
    EXPECT_FALSE(bigPassed);
    EXPECT_FALSE(smallPassed) << "overtook a caller that came first";
    budget.Release(800);
    const bool bothPassed = WaitBusy([&] { return bigPassed && smallPassed; });
    budget.Release(0);  // wakes a caller left asleep, so the test can end
    big.join();
    small.join();
    budget.Release(450);
    ASSERT_TRUE(bothPassed) << "round " << round << ": a caller that fits was left asleep";
    ASSERT_FALSE(HasFailure());
  }

  // What the workers hold is counted by them after a reservation and before
  // its release, so it never exceeds what the budget has handed out.
  std::atomic<size_t> held{0};
  std::atomic<int> faults{0};
  std::vector<std::thread> workers;
  for (size_t w = 0; w < 4; ++w)
    workers.emplace_back([&, w] {
      for (int round = 0; round < 300; ++round) {
        const size_t size = round % 50 == 7 ? 1500 : 200 + 150 * w;
        budget.Reserve(size);
        const size_t now = held += size;
        if (size > kCapacity ? now != size : now > kCapacity) ++faults;
        std::this_thread::yield();
        held -= size;
        budget.Release(size);
      }
    });
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(budget.Reserved(), 0u);
  EXPECT_EQ(budget.Waiting(), 0u);
  EXPECT_EQ(budget.Peak(), 1500u);  // the oversized ones, each alone
}
