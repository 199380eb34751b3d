// Where a report goes, on the real file system: a file replaced whole
// through a temporary that is never taken for a report.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report_output.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::vector<std::string> names_in(const fs::path &dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// While the report is written, as when a run is killed then, the only file
// beside the target is hidden and says what it is: nothing a listing or a
// pattern for the target (report.csv*, *.csv) would take for a report.
TEST(report_output, a_file_is_written_through_a_hidden_temporary) {
  fs::path dir =
      fs::temp_directory_path() /
      ("report_output_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  fs::path target = dir / "report.csv";
  std::ofstream(target, std::ios::binary) << "old";
  report_output out;
  std::string why;
  ASSERT_EQ(0, open_report_output(target.string().c_str(), true, &out, &why)) << why;
  fputs("new", out.file);
  std::vector<std::string> names = names_in(dir);
  ASSERT_EQ(2u, names.size());
  const std::string &temporary = names[0];
  EXPECT_EQ("report.csv", names[1]);
  EXPECT_EQ(0u, temporary.find(".report.csv.")) << temporary;
  EXPECT_EQ(std::string(".report.csv.XXXXXX.tmp").size(), temporary.size()) << temporary;
  EXPECT_TRUE(temporary.ends_with(".tmp")) << temporary;
  EXPECT_EQ("old", read_file(target));

  ASSERT_EQ(0, commit_report_output(&out, &why)) << why;
  EXPECT_EQ(std::vector<std::string>{"report.csv"}, names_in(dir));
  EXPECT_EQ("new", read_file(target));
  fs::remove_all(dir);
}

}  // namespace
