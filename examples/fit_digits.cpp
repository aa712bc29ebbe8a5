// A direct call of the fitting core on the bundled digits: the smallest
// complete use of the core outside MATLAB or Octave. The core's four host
// operations come from the console host, which prints its progress lines.
#include "data.h"
#include "dovex.h"

#include <chrono>
#include <cstdio>
#include <vector>

int main()
{
    dataset d = load_dataset("digits");
    for (double &x : d.X)
        x /= 16.0;
    start_state s = zero_start(d.ns, d.nc);
    std::vector<double> W(static_cast<size_t>(d.nd) * d.nc, 0.0);
    const auto t0 = std::chrono::steady_clock::now();
    dovex_approx(W.data(), d.X.data(), d.Y.data(), s.XW.data(), s.E.data(), s.Z.data(), 5.0, 0.5,
                 1e-4, 500, d.nd, d.ns, d.nc, d.nc);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    int right = 0, nonzero = 0;
    for (double w : W)
        nonzero += w != 0;
    for (std::int32_t k = 0; k < d.ns; k++) {
        int best = 0;
        for (std::int32_t j = 1; j < d.nc; j++)
            best = s.XW[k + d.ns * j] > s.XW[k + d.ns * best] ? j : best;
        right += best == d.label[k];
    }
    std::printf("training accuracy %.4f, non-zero weights %d of %zu, %.2f s\n",
                double(right) / d.ns, nonzero, W.size(), secs);
    return 0;
}
