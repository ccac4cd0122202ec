// Sweeps the pulse restorer over generated AC-coupled trains and prints, per train, how many
// frames read what the clean DC-coupled train reads. Not a test: a tuning aid.
//   restorer-sweep [frames [period...]]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pulse/ac_train.h"

int main(int argc, char** argv) {
  using fc::testing::AcTrain;
  using fc::testing::FramePeriods;
  const int frames = argc > 1 ? std::atoi(argv[1]) : 3;
  const double corners[] = {0, 5, 10, 20, 50, 100, 200};
  const double duties[] = {0.05, 0.1, 0.25, 0.5, 0.75, 0.9, 0.95};
  const double levels[] = {0.05, 0.1, 0.2, 1.0};
  const double noises[] = {0, 0.01, 0.02};
  std::vector<double> periods = {13, 20, 50, 100, 250, 500, 900};
  if (argc > 2) periods.resize(static_cast<size_t>(argc - 2));
  for (int i = 2; i < argc; ++i) periods[static_cast<size_t>(i - 2)] = std::atof(argv[i]);
  std::printf("period duty level noise corner frames exact within1 reference\n");
  for (double period : periods) {
    for (double duty : duties) {
      AcTrain clean;
      clean.period_points = period;
      clean.duty = duty;
      clean.level = 1.0;
      clean.corner_hz = 0;
      const auto reference = FramePeriods(clean.Samples(frames), clean.rate, frames, false);
      int readable = 0;
      for (double r : reference) readable += r > 0 ? 1 : 0;
      for (double level : levels) {
        for (double noise : noises) {
          for (double corner : corners) {
            AcTrain train = clean;
            train.level = level;
            train.noise_rms = noise;
            train.corner_hz = corner;
            const auto got = FramePeriods(train.Samples(frames), train.rate, frames, true);
            int exact = 0;
            int near = 0;
            for (size_t f = 0; f < got.size(); ++f) {
              exact += got[f] == reference[f] ? 1 : 0;
              near += std::fabs(got[f] - reference[f]) * 256.0 <= 1.0001 ? 1 : 0;
            }
            std::printf("%g %g %g %g %g %d %d %d %d\n", period, duty, level, noise, corner, frames,
                        exact, near, readable);
          }
        }
      }
    }
  }
}
