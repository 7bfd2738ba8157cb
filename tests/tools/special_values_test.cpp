// Images with NaN and infinities through the programs, one table: the
// ranges that pvsplit, pvquant and pvstack print and store are those of the
// finite values, an image without any has none ("nan" both), and the values
// themselves pass unchanged. Then an input cut short while pvstack or
// pvsplit reads it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/slice_files.h"
#include "tests/tools/program_cases.h"

extern char** environ;

namespace pvtest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kSide = 64;

// A ramp with a fraction in every value, each exact as a float and in six
// decimals, so that every range line is exact.
std::vector<double> Ramp() {
  std::vector<double> v(kSide * kSide);
  for (int i = 0; i < kSide * kSide; ++i) v[std::size_t(i)] = 0.375 * i - 100.125;
  return v;
}

std::vector<double> Disc() {  // NaN outside a reconstruction's field of view
  std::vector<double> v = Ramp();
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      if ((x - 31.5) * (x - 31.5) + (y - 31.5) * (y - 31.5) > 30.0 * 30.0) v[std::size_t(y * kSide + x)] = kNaN;
  return v;
}

std::vector<double> With(std::vector<double> v, std::size_t at, double x) {
  v[at] = x;
  return v;
}

bool SameValue(double a, double b) { return std::isnan(a) ? std::isnan(b) : a == b; }

TEST(SpecialValues, RangesAreOfTheFiniteValues) {
  const struct {
    const char* name;
    std::vector<double> values;
  } rows[] = {
      {"NaN outside a disc", Disc()},
      {"NaN at row 0 column 0 only", With(Ramp(), 0, kNaN)},
      {"one +inf", With(Ramp(), 2000, kInf)},
      {"-inf first", With(Ramp(), 0, -kInf)},
      {"all NaN", std::vector<double>(kSide * kSide, kNaN)},
      {"all +inf", std::vector<double>(kSide * kSide, kInf)},
  };
  TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<double>& f32 = row.values;  // exact as floats
    const auto [lo, hi] = FiniteRange(f32);
    const bool finite = !std::isnan(lo);
    const std::string range = RangeLine(f32);

    // pvsplit: the slice and a slice of NaN, which adds nothing to the line.
    std::vector<double> volume = row.values;
    volume.insert(volume.end(), kSide * kSide, kNaN);
    WriteFile(dir / "v.bin", VolumeBytes("64\t64\t2\n", volume));
    RunResult r = RunProgram("pvsplit", {"v.bin", "s%d.tif"}, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, range + "\n");
    const LibtiffImage s0 = ReadWithLibtiff(dir / "s0.tif");
    EXPECT_EQ(s0.description, range);
    EXPECT_EQ(ReadWithLibtiff(dir / "s1.tif").description, "nan\tnan");
    ASSERT_EQ(s0.values.size(), f32.size());
    for (std::size_t k = 0; k < f32.size(); ++k) ASSERT_PRED2(SameValue, s0.values[k], f32[k]) << k;

    // pvquant, derived and given mapping: NaN 0, +inf the top code, -inf 0.
    const double step = finite && hi > lo ? (hi - lo) / 255 : 1;
    for (bool derived : {false, true}) {  // the derived mapping's q.tif stays for pvstack
      std::vector<std::string> args = {"s0.tif", "8", "q.tif"};
      if (!derived) args.insert(args.begin() + 1, {"-50", "0.5"});
      r = RunProgram("pvquant", args, "", dir.path().string());
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, derived ? range + "\n" : "");
      const std::vector<double> codes = ReadWithLibtiff(dir / "q.tif").values;
      ASSERT_EQ(codes.size(), f32.size());
      for (std::size_t k = 0; k < f32.size(); ++k) {
        const double v = f32[k];
        double want = std::isnan(v) || v == -kInf ? 0 : v == kInf ? 255 : -1;
        if (want < 0 && !derived) want = v <= -50 ? 0 : v >= 77.5 ? 255 : std::floor((v + 50) / 0.5 + 0.5);
        if (want < 0) want = v <= lo ? 0 : v >= hi ? 255 : std::floor((v - lo) / step + 0.5);
        ASSERT_EQ(codes[k], want) << k << (derived ? " derived" : " given");
      }
    }

    // pvstack of the float slice prints its range; of the 8-bit slice made by
    // the derived mapping it gives back every finite value within half a step
    // (and the six decimals of the description).
    r = RunProgram("pvstack", {"s0.tif", "f.bin"}, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, range + "\n");
    r = RunProgram("pvstack", {"q.tif", "q.bin"}, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    if (!finite) continue;
    const std::vector<double> back = VolumeValues(ReadText(dir / "q.bin"), "64\t64\n", f32.size());
    for (std::size_t k = 0; k < back.size(); ++k) {
      if (std::isfinite(f32[k])) {
        ASSERT_LE(std::fabs(back[k] - f32[k]), step / 2 + 2e-6) << k;
      }
    }
  }
}

// Another process truncates an input while a program reads it: the
// program's read error, exit status 1, and what it wrote before the cut
// left whole; never a crash. Each row cuts its input as soon as the program
// has it open and has begun writing (a cut that comes after the input was
// read whole leaves a complete result, and the run is tried again).
//   pvstack: slice c.tif is cut; the volume is cut back to the frames
//     before it.
//   pvsplit: a volume of 24 slices is cut within its first slice while
//     that is read (under a read lease the cut waits for the next slice);
//     every slice file left is whole, the one being written when the read
//     failed is removed.
struct CutRow {
  std::string name;
  std::vector<std::string> args;  // after the tool, relative to the scratch directory
  std::string input;              // the file cut, in the scratch directory
  std::string started;            // exists once the program writes its result
  std::uint64_t cut_to;
  std::string error;              // the line expected on a cut during the read
};

TEST(SpecialValues, InputCutShortWhileItIsRead) {
  const int side = 2048;
  const std::uint64_t frame = std::uint64_t(side) * side * 8;
  const std::string stack_header = "2048\t2048\t3\n";
  const std::string split_header = "1024\t1024\t24\n";
  const std::uint64_t split_slice = 1024 * 1024 * 8;
  const std::vector<CutRow> rows = {
      {"pvstack, a slice", {"pvstack", "d", "-a.tif b.tif c.tif", "v.bin"}, "d/c.tif", "v.bin", 4096,
       "d/c.tif : unexpected end of file.\n"},
      {"pvsplit, the volume", {"pvsplit", "w.bin", "s%03d.tif"}, "w.bin", "s000.tif",
       split_header.size() + split_slice / 2, "data read error\n"},
  };
  auto slice_name = [](int k) {
    char name[32];
    std::snprintf(name, sizeof name, "s%03d.tif", k);
    return std::string(name);
  };
  for (const CutRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    std::filesystem::create_directory(dir / "d");
    WriteSlice(dir / "d/a.tif", FloatSlice(side, side, std::vector<double>(std::size_t(side) * side, 1.5)));
    const std::string volume = VolumeBytes(split_header, std::vector<double>(24 * split_slice / 8, 2.5));
    const std::string input = dir / row.input;
    const std::string tool = ToolPath(row.args[0]);
    int cut_in_read = 0;
    for (int attempt = 0; attempt < 10 && cut_in_read == 0; ++attempt) {
      std::filesystem::copy_file(dir / "d/a.tif", dir / "d/b.tif", std::filesystem::copy_options::overwrite_existing);
      std::filesystem::copy_file(dir / "d/a.tif", dir / "d/c.tif", std::filesystem::copy_options::overwrite_existing);
      WriteFile(dir / "w.bin", volume);
      for (const auto& f : std::filesystem::directory_iterator(dir.path()))
        if (f.path().extension() == ".tif" || f.path().filename() == "v.bin") std::filesystem::remove(f.path());
      const std::string err = dir / "err.txt";
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
      std::vector<std::string> args = row.args;
      args[0] = tool;
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      pid_t pid;
      ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ), 0);
      posix_spawn_file_actions_destroy(&actions);

      const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
      const std::string input_path = std::filesystem::canonical(input).string();
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      bool cut = false;
      while (!cut && std::chrono::steady_clock::now() < until) {
        if (!Exists(dir / row.started)) continue;
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
          std::error_code link_ec;
          if (std::filesystem::read_symlink(fd.path(), link_ec).string() == input_path) {
            ::truncate(input.c_str(), off_t(row.cut_to));
            cut = true;
            break;
          }
        }
        if (ec) break;  // the program has ended
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
      const int code = WEXITSTATUS(status);
      if (code == 0) continue;
      EXPECT_EQ(code, 1);
      EXPECT_EQ(ReadText(err), row.error);
      if (row.args[0] == "pvstack") {
        EXPECT_EQ(std::filesystem::file_size(dir / "v.bin"), stack_header.size() + 2 * frame);
      } else {
        // Slices from the first on, each whole (as large as an uncut one),
        // and nothing after the last of them.
        int whole = 0;
        while (Exists(dir / slice_name(whole))) ++whole;
        const std::uintmax_t slice_file = 8 + 4 * split_slice / 8;
        for (int k = 0; k < whole; ++k) EXPECT_GT(std::filesystem::file_size(dir / slice_name(k)), slice_file);
        EXPECT_FALSE(Exists(dir / slice_name(whole + 1)));
      }
      ++cut_in_read;
    }
    EXPECT_GT(cut_in_read, 0) << "no cut landed while the input was read";
  }
}

}  // namespace
}  // namespace pvtest
