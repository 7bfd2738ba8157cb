// The demo's helper, not one of the suite's programs.
//
//   demo_tool phantom out.bin width height slices
//       writes a raw volume of a synthetic CT-like phantom: a few smooth
//       ellipsoids of different densities in a soft background, with a
//       little deterministic noise.
//   demo_tool diff a.bin b.bin [step]
//       compares two raw volumes of the same size and prints the largest
//       absolute difference (and, with a step, whether it stays within half
//       a step, allowing for single-precision rounding); exit status 1 when
//       the volumes differ in size or exceed it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Ellipsoid {
  double cx, cy, cz, rx, ry, rz, density;
};

// A small linear congruential generator: the same phantom on every machine.
double Noise(std::uint64_t& state) {
  state = state * 6364136223846793005ULL + 1442695040888963407ULL;
  return double(state >> 11) / double(1ULL << 53) - 0.5;
}

int Phantom(const char* path, int nx, int ny, int nz) {
  const Ellipsoid shapes[] = {
      {0.50, 0.50, 0.50, 0.46, 0.40, 0.48, 0.20},   // body
      {0.50, 0.50, 0.50, 0.42, 0.36, 0.44, 0.80},   // tissue
      {0.35, 0.45, 0.50, 0.08, 0.14, 0.30, -0.60},  // two cavities
      {0.65, 0.45, 0.50, 0.08, 0.14, 0.30, -0.60},
      {0.50, 0.72, 0.40, 0.06, 0.05, 0.10, 1.50},  // a dense insert
  };
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    std::perror(path);
    return 1;
  }
  if (nz > 1)
    std::fprintf(f, "%d\t%d\t%d\n", nx, ny, nz);
  else
    std::fprintf(f, "%d\t%d\n", nx, ny);
  std::uint64_t state = 12345;
  std::vector<double> row(static_cast<std::size_t>(nx));
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y) {
      for (int x = 0; x < nx; ++x) {
        double px = (x + 0.5) / nx, py = (y + 0.5) / ny, pz = (z + 0.5) / nz;
        double v = 0;
        for (const Ellipsoid& e : shapes) {
          double d = std::pow((px - e.cx) / e.rx, 2) + std::pow((py - e.cy) / e.ry, 2) +
                     std::pow((pz - e.cz) / e.rz, 2);
          // A soft edge instead of a step, as a reconstruction would show it.
          v += e.density / (1 + std::exp((d - 1) * 40));
        }
        row[static_cast<std::size_t>(x)] = 1000 * v + 5 * Noise(state);
      }
      std::fwrite(row.data(), sizeof(double), row.size(), f);
    }
  return std::fclose(f) == 0 ? 0 : 1;
}

bool Load(const char* path, std::string& header, std::vector<double>& values) {
  std::ifstream f(path, std::ios::binary);
  if (!std::getline(f, header)) return false;
  std::string body((std::istreambuf_iterator<char>(f)), {});
  values.resize(body.size() / sizeof(double));
  std::copy(body.begin(), body.begin() + std::ptrdiff_t(values.size() * sizeof(double)),
            reinterpret_cast<char*>(values.data()));
  return true;
}

int Diff(const char* a, const char* b, const char* step_text) {
  std::string ha, hb;
  std::vector<double> va, vb;
  if (!Load(a, ha, va) || !Load(b, hb, vb)) {
    std::fprintf(stderr, "demo_tool: cannot read the volumes\n");
    return 1;
  }
  if (ha != hb || va.size() != vb.size()) {
    std::fprintf(stderr, "demo_tool: the volumes differ in size\n");
    return 1;
  }
  double worst = 0, excess = 0;
  const double half = step_text != nullptr ? std::atof(step_text) / 2 : 0;
  for (std::size_t i = 0; i < va.size(); ++i) {
    double d = std::fabs(va[i] - vb[i]);
    worst = std::fmax(worst, d);
    // Both sides went through single precision, and the mapping's base and
    // range through six decimals: allow for that rounding beyond half a step.
    excess = std::fmax(excess, d - half - std::fabs(va[i]) * 0x1p-23 - 1e-6);
  }
  std::printf("largest difference %g", worst);
  if (step_text == nullptr) {
    std::printf("\n");
    return 0;
  }
  bool ok = excess <= 0;
  std::printf(", half a step %g: %s\n", half, ok ? "within" : "EXCEEDED");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "phantom" && argc == 6)
    return Phantom(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  if (verb == "diff" && (argc == 4 || argc == 5)) return Diff(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  std::fprintf(stderr,
               "usage : demo_tool phantom out.bin width height slices\n"
               "        demo_tool diff a.bin b.bin [step]\n");
  return 2;
}
