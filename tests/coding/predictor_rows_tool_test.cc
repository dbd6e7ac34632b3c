// The tool that fits the byte predictor's probability rows: the same files
// give the same header, and the header keeps what the format fixes (the
// values that start rows 0, 1, 2 and 6, row 3 equal to row 1, row 0 ending
// at 0.9965, rows that never fall past their fixed start).
#include <gtest/gtest.h>

#include <sstream>

#include "coding/predictor_rows.h"
#include "coding/predictor_rows_first.h"
#include "support/recipes.h"
#include "support/support.h"

namespace vesk::test {
namespace {

// The 7 x 256 values of a generated header, row by row.
std::vector<std::vector<double>> rows_of(const std::string& header) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(header);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("// row ") != std::string::npos) rows.emplace_back();
    if (rows.empty() || line.find("f,") == std::string::npos) continue;
    std::istringstream values(line.substr(0, line.find("//")));
    std::string v;
    while (values >> v) rows.back().push_back(std::strtod(v.c_str(), nullptr));
  }
  return rows;
}

// What the format fixes: the values that start rows 0, 1, 2 and 6 (and
// row 3, row 1's copy), the start 0.5 of every row.
const std::vector<std::vector<double>> fixed = {
    {0.5, 0.27356, 0.48195, 0.6698, 0.7139, 0.79078},
    {0.5, 0.46633, 0.72673, 0.82368, 0.86442, 0.90939},
    {0.5, 0.72149, 0.87672, 0.92721, 0.94, 0.96056},
    {0.5, 0.46633, 0.72673, 0.82368, 0.86442, 0.90939},
    {0.5}, {0.5},
    {0.5, 0.13620, 0.44800, 0.65570}};

TEST(PredictorRowsTool, FitsTheSameRowsTwiceAndKeepsTheFixedValues) {
  scratch_dir d;
  write_bytes(d.path("a.txt"), pin_text(4000, 200, 21));
  write_bytes(d.path("b.dat"), pin_mixed(6000, 22, 1000));
  const std::string cmd = std::string(VESK_PREDICTOR_ROWS) + " " + d.path("a.txt") + " " + d.path("b.dat");
  const run_result first = run_split(cmd), second = run_split(cmd);
  ASSERT_TRUE(first.status == 0 && second.status == 0) << first.err << second.err;
  EXPECT_EQ(first.out, second.out);
  const auto rows = rows_of(first.out);
  ASSERT_EQ(rows.size(), 7u);
  for (const auto& r : rows) ASSERT_EQ(r.size(), 256u);
  for (size_t r = 0; r < 7; r++) {
    SCOPED_TRACE("row " + std::to_string(r));
    for (size_t k = 0; k < fixed[r].size(); k++) EXPECT_NEAR(rows[r][k], fixed[r][k], 1e-9);
    // Rows that fix only count 0 may start low; the others rise from their
    // last fixed value.
    const size_t from = fixed[r].size() > 1 ? fixed[r].size() : 2;
    for (size_t k = from; k < 256; k++) EXPECT_GE(rows[r][k], rows[r][k - 1]) << k;
    for (size_t k = 1; k < 256; k++) EXPECT_LE(rows[r][k], 0.9999) << k;
  }
  EXPECT_EQ(rows[1], rows[3]);
  EXPECT_NEAR(rows[0][255], 0.9965, 1e-9);
}

// The rows vesk codes with, today's and the first revision's (which older
// archives decode with), keep them too.
TEST(PredictorRows, KeepWhatTheFormatFixes) {
  for (const auto* rows : {predictor_rows, predictor_rows_first}) {
    for (size_t r = 0; r < 7; r++)
      for (size_t k = 0; k < fixed[r].size(); k++)
        EXPECT_EQ(rows[r][k], static_cast<float>(fixed[r][k])) << r << " " << k;
    for (int k = 0; k < 256; k++) EXPECT_EQ(rows[1][k], rows[3][k]);
  }
}

}  // namespace
}  // namespace vesk::test
