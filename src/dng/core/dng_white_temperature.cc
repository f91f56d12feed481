// Robertson's method: find the two isotemperature lines the point lies
// between and interpolate the temperature and the distance along them.
#include "dng/core/dng_white_temperature.h"

#include <cmath>

// The published table (Robertson 1968), 0 to 100 mired in steps of 10,
// then to 600 in steps of 25.
const dng_isotemperature_line isotemperature_table[dng_isotemperature_lines] = {
    {0, 0.18006, 0.26352, -0.24341},   {10, 0.18066, 0.26589, -0.25479},  {20, 0.18133, 0.26846, -0.26876},
    {30, 0.18208, 0.27119, -0.28539},  {40, 0.18293, 0.27407, -0.30470},  {50, 0.18388, 0.27709, -0.32675},
    {60, 0.18494, 0.28021, -0.35156},  {70, 0.18611, 0.28342, -0.37915},  {80, 0.18740, 0.28668, -0.40955},
    {90, 0.18880, 0.28997, -0.44278},  {100, 0.19032, 0.29326, -0.47888}, {125, 0.19462, 0.30141, -0.58204},
    {150, 0.19962, 0.30921, -0.70471}, {175, 0.20525, 0.31647, -0.84901}, {200, 0.21142, 0.32312, -1.0182},
    {225, 0.21807, 0.32909, -1.2168},  {250, 0.22511, 0.33439, -1.4512},  {275, 0.23247, 0.33904, -1.7298},
    {300, 0.24010, 0.34308, -2.0637},  {325, 0.24792, 0.34655, -2.4681},  {350, 0.25591, 0.34951, -2.9641},
    {375, 0.26400, 0.35200, -3.5814},  {400, 0.27218, 0.35407, -4.3633},  {425, 0.28039, 0.35577, -5.3762},
    {450, 0.28863, 0.35714, -6.7262},  {475, 0.29685, 0.35823, -8.5955},  {500, 0.30505, 0.35907, -11.324},
    {525, 0.31320, 0.35968, -15.628},  {550, 0.32129, 0.36011, -23.325},  {575, 0.32931, 0.36038, -40.770},
    {600, 0.33724, 0.36051, -116.45},
};

void dng_white_temperature::SetFromChromaticity(const dng_chromaticity& xy) {
  double denominator = 1.5 - xy.x + 6.0 * xy.y;
  double u = 2.0 * xy.x / denominator;
  double v = 3.0 * xy.y / denominator;

  const dng_isotemperature_line* table = isotemperature_table;
  double previous_distance = 0.0;
  for (int i = 1; i < dng_isotemperature_lines; ++i) {
    const dng_isotemperature_line& line = table[i];
    double length = std::sqrt(1.0 + line.t * line.t);
    // Signed distance of (u, v) from line i.
    double distance = (v - line.v) / length - line.t * (u - line.u) / length;
    bool last = i == dng_isotemperature_lines - 1;
    if (!(distance <= 0.0) && !last) {
      previous_distance = distance;
      continue;
    }
    // Weight of the line before; line i has 1 - f. Past the last line (or
    // when the point is not a number) the last line alone counts.
    bool reached = distance <= 0.0;
    double f = (i == 1 || !reached) ? 0.0 : -distance / (previous_distance - distance);
    const dng_isotemperature_line& before = table[i - 1];
    temperature = 1.0e6 / (f * before.mired + (1.0 - f) * line.mired);

    double before_length = std::sqrt(1.0 + before.t * before.t);
    double du = f / before_length + (1.0 - f) / length;
    double dv = f * before.t / before_length + (1.0 - f) * line.t / length;
    double norm = std::sqrt(du * du + dv * dv);
    du /= norm;
    dv /= norm;
    double u_line = f * before.u + (1.0 - f) * line.u;
    double v_line = f * before.v + (1.0 - f) * line.v;
    tint = ((v - v_line) * dv + (u - u_line) * du) * -3000.0;
    return;
  }
}
